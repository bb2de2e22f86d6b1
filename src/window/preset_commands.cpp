#include "window/preset_commands.h"

#include <chrono>
#include <memory>
#include <string>

#include <QList>

#include "settings/option_set_store.h"

namespace melodex {
namespace {

constexpr qsizetype kMaxPresetNameLength = 20;
const QString kCaptionError = QStringLiteral("Error");
const QString kNameTooLong = QStringLiteral("名前が長すぎます(半角で1-20文字)");
const QString kDefaultPresetName = QStringLiteral("my_option");
const QString kSavePrompt = QStringLiteral("保存するキーを付けてください。");
const QString kSaveCaption = QStringLiteral("設定保存");
const QString kNotSaved = QStringLiteral("\r\n保存されませんでした");
const QString kReadPrompt = QStringLiteral("読み出すキーを指定してください。");
const QString kReadCaption = QStringLiteral("設定読み込み");
const QString kNotRead = QStringLiteral("\r\n読み込みできませんでした");
const QString kWaitingForOther
    = QStringLiteral("ほかのプログラムが設定ファイルを使用中です。お待ちください…");

// A shorter wait passes without a box flashing up; a longer one would look
// like a hung window.
constexpr std::chrono::milliseconds kWaitingBoxDelay = std::chrono::seconds(1);

// Characters as the user sees them: a full-width character counts one, like a
// half-width one, and so does a character outside the BMP.
qsizetype characterCount(const QString& text) { return text.toUcs4().size(); }

Notice error(const QString& text) { return Notice(text, kCaptionError); }

QString fileError(const QString& what, const IniError& e)
{
    return what + QStringLiteral("\r\n") + QString::fromStdString(e.path.string()) + QStringLiteral(": ")
        + QString::fromStdString(e.reason);
}

// The section the menu item names; a custom name the user typed, or a refusal.
struct PresetName {
    std::string section;
    std::optional<Notice> refused;
};

PresetName presetName(int preset, bool saving, Dialogs& dialogs)
{
    if (preset != kCustomPreset)
        return { numberedPresetName(preset), std::nullopt };
    const QString name = saving ? dialogs.inputBox(kSavePrompt, kSaveCaption, kDefaultPresetName)
                                : dialogs.inputBox(kReadPrompt, kReadCaption, kDefaultPresetName);
    if (characterCount(name) > kMaxPresetNameLength)
        return { {}, error(kNameTooLong + (saving ? kNotSaved : kNotRead)) };
    return { name.toStdString(), std::nullopt };
}

// While a save waits for another program's lock: the waiting box once the
// wait has lasted, and the user's Cancel.
class SaveWait {
public:
    explicit SaveWait(Dialogs& dialogs)
        : dialogs_(dialogs)
    {
    }
    bool goOn(std::chrono::milliseconds waited)
    {
        if (waited < kWaitingBoxDelay)
            return true;
        if (!box_)
            box_ = dialogs_.waitingBox(kWaitingForOther);
        cancelled_ = box_->cancelled();
        return !cancelled_;
    }
    void close() { box_.reset(); }
    bool cancelled() const { return cancelled_; }

private:
    Dialogs& dialogs_;
    std::unique_ptr<WaitingBox> box_;
    bool cancelled_ = false;
};

} // namespace

std::optional<Notice> SaveOptionSet(int preset, const OptionSet& controls, Dialogs& dialogs)
{
    const PresetName name = presetName(preset, true, dialogs);
    if (name.refused)
        return name.refused;
    if (isBlankPresetName(name.section))
        return std::nullopt;
    IniError failure;
    SaveWait wait(dialogs);
    const bool saved = writeOptionSet(name.section, controls, &failure,
        [&wait](std::chrono::milliseconds waited) { return wait.goOn(waited); });
    wait.close();
    // A Cancel the user pressed needs no box to say that nothing was saved.
    if (!saved && !wait.cancelled())
        return error(fileError(QStringLiteral("設定を保存できませんでした"), failure));
    return std::nullopt;
}

PresetLoad LoadOptionSet(int preset, const OptionSet& controls, Dialogs& dialogs)
{
    const PresetName name = presetName(preset, false, dialogs);
    if (name.refused)
        return { std::nullopt, name.refused };
    PresetRead read = readPreset(name.section);
    if (!read.options) {
        // A file that is there but cannot be read is not "no such preset":
        // the controls keep what the user had, and the box says why.
        if (!read.error.reason.empty())
            return { std::nullopt,
                error(fileError(QStringLiteral("設定を読み込めませんでした"), read.error)) };
        return {};
    }
    settleNumberBoxes(*read.options, controls);
    return { std::move(read.options), std::nullopt };
}

} // namespace melodex
