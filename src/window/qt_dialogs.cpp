#include "window/dialogs.h"

#include <QCoreApplication>
#include <QInputDialog>
#include <QMessageBox>
#include <QProgressDialog>

namespace melodex {
namespace {

// A busy indicator (no range): how long the other program takes is unknown.
class QtWaitingBox : public WaitingBox {
public:
    QtWaitingBox(QWidget* parent, const QString& text)
        : dialog_(text, QStringLiteral("キャンセル"), 0, 0, parent)
    {
        dialog_.setObjectName(QStringLiteral("WaitingBox"));
        dialog_.setWindowTitle(kAppTitle);
        dialog_.setWindowModality(Qt::WindowModal);
        dialog_.setMinimumDuration(0);
        dialog_.show();
    }
    bool cancelled() override
    {
        // The window's other events run too: its input is blocked by the box.
        QCoreApplication::processEvents();
        return dialog_.wasCanceled();
    }

private:
    QProgressDialog dialog_;
};

} // namespace

MessageResult QtDialogs::messageBox(
    const QString& text, MessageButtons buttons, MessageIcon icon, const QString& caption)
{
    QMessageBox box(parent_);
    box.setWindowTitle(caption.isEmpty() ? kAppTitle : caption);
    box.setText(text);

    switch (icon) {
    case MessageIcon::Question:
        box.setIcon(QMessageBox::Question);
        break;
    case MessageIcon::Exclamation:
        box.setIcon(QMessageBox::Warning);
        break;
    case MessageIcon::None:
        box.setIcon(QMessageBox::NoIcon);
        break;
    }

    switch (buttons) {
    case MessageButtons::OkCancel:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        box.setDefaultButton(QMessageBox::Ok);
        box.setEscapeButton(QMessageBox::Cancel);
        break;
    case MessageButtons::Ok:
        box.setStandardButtons(QMessageBox::Ok);
        break;
    }

    // Closing the box by its frame is a Cancel wherever there is one.
    return box.exec() == QMessageBox::Ok ? MessageResult::Ok : MessageResult::Cancel;
}

QString QtDialogs::inputBox(const QString& prompt, const QString& caption, const QString& defaultText)
{
    bool ok = false;
    const QString text = QInputDialog::getText(
        parent_, caption.isEmpty() ? kAppTitle : caption, prompt, QLineEdit::Normal, defaultText, &ok);
    return ok ? text : QString();
}

std::unique_ptr<WaitingBox> QtDialogs::waitingBox(const QString& text)
{
    return std::make_unique<QtWaitingBox>(parent_, text);
}

} // namespace melodex
