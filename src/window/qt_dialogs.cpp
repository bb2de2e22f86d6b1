#include "window/dialogs.h"

#include <QInputDialog>
#include <QMessageBox>

namespace melodex {

int QtDialogs::messageBox(const QString& text, int buttons, const QString& caption)
{
    QMessageBox box(parent_);
    box.setWindowTitle(caption.isEmpty() ? kAppTitle : caption);
    box.setText(text);

    switch (buttons & 0xF0) {
    case kCritical: box.setIcon(QMessageBox::Critical); break;
    case kQuestion: box.setIcon(QMessageBox::Question); break;
    case kExclamation: box.setIcon(QMessageBox::Warning); break;
    case kInformation: box.setIcon(QMessageBox::Information); break;
    default: box.setIcon(QMessageBox::NoIcon); break;
    }

    switch (buttons & 0x0F) {
    case kOkCancel:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        box.setDefaultButton(QMessageBox::Ok);
        box.setEscapeButton(QMessageBox::Cancel);
        break;
    case kYesNo:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::No);
        break;
    default:
        box.setStandardButtons(QMessageBox::Ok);
        break;
    }

    switch (box.exec()) {
    case QMessageBox::Ok: return kOk;
    case QMessageBox::Yes: return kYes;
    case QMessageBox::No: return kNo;
    default: return (buttons & 0x0F) == kYesNo ? kNo : kCancel;
    }
}

QString QtDialogs::inputBox(const QString& prompt, const QString& caption, const QString& defaultText)
{
    bool ok = false;
    const QString text = QInputDialog::getText(parent_, caption.isEmpty() ? kAppTitle : caption, prompt,
                                               QLineEdit::Normal, defaultText, &ok);
    return ok ? text : QString();
}

} // namespace melodex
