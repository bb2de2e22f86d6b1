#include "window/dialogs.h"

#include <QInputDialog>
#include <QMessageBox>

namespace melodex {

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

} // namespace melodex
