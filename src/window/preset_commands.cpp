#include "window/frmMain1.h"

#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QScrollBar>

#include "settings/option_set_store.h"

namespace {

constexpr qsizetype kMaxPresetNameLength = 20;
const QString kCaptionError = QStringLiteral("Error");
const QString kNameTooLong = QStringLiteral("名前が長すぎます(半角で1-20文字)");
const QString kDefaultPresetName = QStringLiteral("my_option");

// Characters as the user sees them: a full-width character counts one, like a
// half-width one, and so does a character outside the BMP.
qsizetype characterCount(const QString& text) { return text.toUcs4().size(); }

void showError(melodex::Dialogs& dialogs, const QString& text)
{
    dialogs.messageBox(text, melodex::MessageButtons::Ok, melodex::MessageIcon::None, kCaptionError);
}

} // namespace

void frmMain1::SaveOptionSet(const QString& name)
{
    const std::string section = name.toStdString();
    if (melodex::isBlankPresetName(section))
        return;
    melodex::IniWriteError error;
    if (!melodex::writeOptionSet(section, optionSetFromControls(), &error)) {
        showError(dialogs_,
            QStringLiteral("設定を保存できませんでした\r\n") + QString::fromStdString(error.path.string())
                + QStringLiteral(": ") + QString::fromStdString(error.reason));
    }
}

void frmMain1::LoadOptionSet(const QString& name)
{
    const melodex::PresetRead read = melodex::readPreset(name.toStdString());
    if (!read.options) {
        // A file that is there but cannot be read is not "no such preset":
        // the controls keep what the user had, and the box says why.
        if (!read.error.reason.empty())
            showError(dialogs_,
                QStringLiteral("設定を読み込めませんでした\r\n")
                    + QString::fromStdString(read.error.path.string()) + QStringLiteral(": ")
                    + QString::fromStdString(read.error.reason));
        return;
    }
    const auto& loaded = read.options;
    // Each control is set the way the user would set it, so its own handler
    // repaints the sample, rewrites the number box or sets SizeUnit, in this order.
    for (int i = 0; i < melodex::kColumnCount; ++i)
        setListIndex(Combo1[i], loaded->columns[i]);
    for (int r = 0; r < 4; ++r)
        setListIndex(ColorBox1[r], loaded->colorIndex[r]);
    strEnabled1->setText(QString::fromStdString(loaded->enabledText));
    VScroll1->setValue(loaded->enabledColumns);
    strBorder1->setText(QString::fromStdString(loaded->borderText));
    VScroll2->setValue(loaded->border);
    strTitle1->setText(QString::fromStdString(loaded->title));
    strOutFile1->setText(QString::fromStdString(loaded->outFile));
    Option1[loaded->sizeUnit]->setChecked(true);
}

void frmMain1::m_save_1_Click(int index)
{
    SaveOptionSet(QString::fromStdString(melodex::numberedPresetName(index)));
}

void frmMain1::m_read_1_Click(int index)
{
    LoadOptionSet(QString::fromStdString(melodex::numberedPresetName(index)));
}

void frmMain1::m_save_2_Click()
{
    const QString name = dialogs_.inputBox(
        QStringLiteral("保存するキーを付けてください。"), QStringLiteral("設定保存"), kDefaultPresetName);
    if (characterCount(name) > kMaxPresetNameLength) {
        showError(dialogs_, kNameTooLong + QStringLiteral("\r\n保存されませんでした"));
        return;
    }
    SaveOptionSet(name);
}

void frmMain1::m_read_2_Click()
{
    const QString name = dialogs_.inputBox(QStringLiteral("読み出すキーを指定してください。"),
        QStringLiteral("設定読み込み"), kDefaultPresetName);
    if (characterCount(name) > kMaxPresetNameLength) {
        showError(dialogs_, kNameTooLong + QStringLiteral("\r\n読み込みできませんでした"));
        return;
    }
    LoadOptionSet(name);
}
