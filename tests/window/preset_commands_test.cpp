// The preset menus: what lands in the INI file, what comes back into the
// controls, and the boxes on the way.

#include <utility>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QAction>

#include "ini_test_support.h"
#include "settings/ini_utl.h"
#include "test_support.h"
#include "window_fixture.h"

namespace melodex::test {
namespace {

const QString kTooLong = QStringLiteral("名前が長すぎます(半角で1-20文字)");

class PresetTest : public WindowTest {
protected:
    std::filesystem::path iniPath() const { return ini_.iniPath(); }
    std::string iniBytes() const { return ini_.iniBytes(); }

    // Every control away from its start-up value.
    void changeEverything()
    {
        for (int k = 0; k < 11; ++k)
            combo(k)->setCurrentIndex(10 - k);
        const int colours[] = { 19, 11, 25, 29 }; // LIGHTBLUE, FORESTGREEN, PURPLE, YELLOW
        for (int r = 0; r < 4; ++r)
            colorBox(r)->setCurrentIndex(colours[r]);
        find<QScrollBar>("VScroll1")->setValue(5);
        find<QScrollBar>("VScroll2")->setValue(12);
        option(2)->click();
        find<QLineEdit>("strTitle1")->setText(QStringLiteral("私の曲"));
        find<QLineEdit>("strOutFile1")->setText(QStringLiteral("index.htm"));
    }

    void expectEverythingChanged()
    {
        for (int k = 0; k < 11; ++k)
            EXPECT_EQ(listIndex(combo(k)), 10 - k) << k;
        const int colours[] = { 19, 11, 25, 29 };
        const QColor samples[]
            = { QColor(173, 216, 230), QColor(34, 139, 34), QColor(128, 0, 128), QColor(255, 255, 0) };
        for (int r = 0; r < 4; ++r) {
            EXPECT_EQ(listIndex(colorBox(r)), colours[r]) << r;
            EXPECT_EQ(sampleColour(colorSample(r)), samples[r]) << r;
        }
        EXPECT_EQ(find<QScrollBar>("VScroll1")->value(), 5);
        EXPECT_EQ(find<QLineEdit>("strEnabled1")->text(), QStringLiteral("5"));
        EXPECT_EQ(find<QScrollBar>("VScroll2")->value(), 12);
        EXPECT_EQ(find<QLineEdit>("strBorder1")->text(), QStringLiteral("12"));
        EXPECT_TRUE(option(2)->isChecked());
        EXPECT_EQ(window->sizeUnit(), 2);
        EXPECT_EQ(find<QLineEdit>("strTitle1")->text(), QStringLiteral("私の曲"));
        EXPECT_EQ(find<QLineEdit>("strOutFile1")->text(), QStringLiteral("index.htm"));
    }

    void expectStartUpValues()
    {
        EXPECT_EQ(window->optionSetFromControls(), OptionSet {});
        const QColor samples[]
            = { QColor(255, 255, 255), QColor(255, 255, 255), QColor(0, 0, 0), QColor(255, 0, 0) };
        for (int r = 0; r < 4; ++r)
            EXPECT_EQ(sampleColour(colorSample(r)), samples[r]) << r;
        EXPECT_TRUE(option(0)->isChecked());
    }

    // Constructed before SetUp and destroyed after TearDown: the window never
    // sees the real INI places.
    ScopedIniPlace ini_;
};

TEST_F(PresetTest, Save1WritesTheNumberedSectionInTheStoredForms)
{
    combo(0)->setCurrentIndex(3);
    colorBox(2)->setEditText(QStringLiteral("#123456")); // a typed colour: no list position
    option(1)->click();
    find<QLineEdit>("strTitle1")->setText(QStringLiteral("日本"));
    find<QAction>("m_save_1(0)")->trigger();
    EXPECT_EQ(iniBytes(),
        "[save_key_ 0]\r\n"
        "Combo_00= 3\r\nCombo_01= 1\r\nCombo_02= 2\r\nCombo_03= 3\r\nCombo_04= 4\r\n"
        "Combo_05= 5\r\nCombo_06= 6\r\nCombo_07= 7\r\nCombo_08= 8\r\nCombo_09= 9\r\n"
        "Combo_10= 10\r\n"
        "Color_00= 28\r\nColor_01= 28\r\nColor_02=-1\r\nColor_03= 26\r\n"
        "Enabled=11\r\nBorder=1\r\nFileSize= 1\r\n"
        "Title=\x93\xfa\x96\x7b\r\nOutFile=list.htm\r\n");
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(PresetTest, LoadRestoresEveryValueThroughTheControlsHandlers)
{
    changeEverything();
    find<QAction>("m_save_1(3)")->trigger();
    auto fresh = makeWindow(); // a new start: every control at its start-up value
    window.swap(fresh);
    fresh.reset();
    find<QAction>("m_read_1(3)")->trigger();
    expectEverythingChanged();

    // Loading the numbered name through the custom item reads the same section.
    dialogs.answerInput(QStringLiteral("save_key_ 3"));
    combo(0)->setCurrentIndex(0);
    find<QAction>("m_read_2")->trigger();
    EXPECT_EQ(listIndex(combo(0)), 10);
}

TEST_F(PresetTest, LoadPutsTheItemBackOverTextTypedIntoTheSameChooser)
{
    find<QAction>("m_save_1(0)")->trigger();
    for (QComboBox* box : { combo(5), colorBox(3) })
        box->setEditText(QStringLiteral("typed"));
    find<QAction>("m_read_1(0)")->trigger();
    expectStartUpValues();
}

TEST_F(PresetTest, NameNeverSavedLoadsEveryStartUpValue)
{
    changeEverything();
    find<QAction>("m_save_1(0)")->trigger();
    dialogs.answerInput(QStringLiteral("my_option"));
    find<QAction>("m_read_2")->trigger();
    expectStartUpValues();
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].text, QStringLiteral("読み出すキーを指定してください。"));
    EXPECT_EQ(dialogs.shown[0].caption, QStringLiteral("設定読み込み"));
    EXPECT_EQ(dialogs.shown[0].defaultText, QStringLiteral("my_option"));
}

TEST_F(PresetTest, CustomNamesAreUsedAsTypedBlanksIncluded)
{
    changeEverything();
    dialogs.answerInput(QStringLiteral(" a "));
    find<QAction>("m_save_2")->trigger();
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].text, QStringLiteral("保存するキーを付けてください。"));
    EXPECT_EQ(dialogs.shown[0].caption, QStringLiteral("設定保存"));
    EXPECT_EQ(dialogs.shown[0].defaultText, QStringLiteral("my_option"));
    EXPECT_EQ(iniBytes().rfind("[ a ]\r\n", 0), 0u);

    dialogs.answerInput(QStringLiteral("a"));
    find<QAction>("m_read_2")->trigger();
    expectStartUpValues();
    dialogs.answerInput(QStringLiteral(" a "));
    find<QAction>("m_read_2")->trigger();
    expectEverythingChanged();
}

TEST_F(PresetTest, BlankEmptyAndCancelledNamesDoNothingSilently)
{
    for (const char* name : { "", " ", "                    " }) { // "" is also what Cancel returns
        dialogs.answerInput(QString::fromUtf8(name));
        find<QAction>("m_save_2")->trigger();
    }
    EXPECT_FALSE(std::filesystem::exists(iniPath()));

    find<QAction>("m_save_1(0)")->trigger();
    changeEverything();
    for (const char* name : { "", "   " }) {
        dialogs.answerInput(QString::fromUtf8(name));
        find<QAction>("m_read_2")->trigger();
    }
    expectEverythingChanged();
    for (const auto& box : dialogs.shown)
        EXPECT_TRUE(box.input) << box.text.toStdString();
}

TEST_F(PresetTest, TwentyCharactersAcceptedTwentyOneRefused)
{
    struct Case {
        QString name;
        bool accepted;
    };
    const Case cases[] = {
        { QString(20, u'x'), true },
        { QString(21, u'x'), false },
        { QString(20, u'あ'), true }, // 40 bytes in the file, still 20 characters
        { QString(21, u'あ'), false },
        { QString::fromUtf8("🎵🎵🎵🎵🎵🎵🎵🎵🎵🎵🎵🎵🎵🎵🎵🎵🎵🎵🎵🎵"), true }, // 40 UTF-16 units
        { QString(21, u' '), false },
    };
    for (const auto& c : cases) {
        dialogs.shown.clear();
        dialogs.answerInput(c.name);
        if (!c.accepted)
            dialogs.answerMessage();
        find<QAction>("m_save_2")->trigger();
        const bool saved = IniSectionNames() == std::vector<std::string> { c.name.toStdString() };
        EXPECT_EQ(saved, c.accepted) << c.name.toStdString();
        if (!c.accepted) {
            ASSERT_EQ(dialogs.shown.size(), 2u);
            EXPECT_EQ(dialogs.shown[1].text, kTooLong + QStringLiteral("\r\n保存されませんでした"));
            EXPECT_EQ(dialogs.shown[1].caption, QStringLiteral("Error"));
            EXPECT_EQ(dialogs.shown[1].buttons, MessageButtons::Ok);
        }
        std::filesystem::remove(iniPath());
    }

    find<QAction>("m_save_1(1)")->trigger();
    changeEverything();
    dialogs.shown.clear();
    dialogs.answerInput(QString(21, u'x'));
    dialogs.answerMessage();
    find<QAction>("m_read_2")->trigger();
    ASSERT_EQ(dialogs.shown.size(), 2u);
    EXPECT_EQ(dialogs.shown[1].text, kTooLong + QStringLiteral("\r\n読み込みできませんでした"));
    EXPECT_EQ(dialogs.shown[1].caption, QStringLiteral("Error"));
    expectEverythingChanged();
}

TEST_F(PresetTest, FailedSaveIsReportedOnce)
{
    std::filesystem::create_directory(iniPath());
    dialogs.answerMessage();
    find<QAction>("m_save_1(2)")->trigger();
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].text,
        QStringLiteral("設定を保存できませんでした\r\n") + QString::fromStdString(iniPath().string())
            + QStringLiteral(": Is a directory"));
    EXPECT_EQ(dialogs.shown[0].caption, QStringLiteral("Error"));
    EXPECT_EQ(dialogs.shown[0].buttons, MessageButtons::Ok);
}

// Another program holds the INI file's lock (a descriptor of its own, as a
// second program's would be) while the window saves.
TEST_F(PresetTest, ASaveThatWaitsForAnotherProgramShowsABoxWithCancel)
{
    struct Case {
        const char* what;
        MessageResult answer;
        bool releasedWhileUp; // the other program finishes while the box is up
        const char* title; // in the file afterwards
    };
    const Case cases[] = {
        { "Cancel pressed", MessageResult::Cancel, false, "old" },
        { "the other program finishes", MessageResult::Ok, true, "new" },
    };
    const std::string before = "[save_key_ 0]\r\nTitle=old\r\n";
    for (const Case& c : cases) {
        ini_.writeIni(before);
        int other = ::open(iniPath().c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
        find<QLineEdit>("strTitle1")->setText(QStringLiteral("new"));
        dialogs.shown.clear();
        dialogs.answerWaiting(c.answer, [&] {
            if (c.releasedWhileUp)
                ::close(std::exchange(other, -1));
        });
        find<QAction>("m_save_1(0)")->trigger();

        EXPECT_EQ(IniGetString("save_key_ 0", "Title", ""), c.title) << c.what;
        if (c.answer == MessageResult::Cancel) {
            EXPECT_EQ(iniBytes(), before) << c.what;
        }
        ASSERT_EQ(dialogs.shown.size(), 1u) << c.what << ": no box but the waiting one";
        EXPECT_TRUE(dialogs.shown[0].waiting) << c.what;
        EXPECT_EQ(dialogs.shown[0].text,
            QStringLiteral("ほかのプログラムが設定ファイルを使用中です。お待ちください…"));
        EXPECT_EQ(dialogs.openWaitingBoxes(), 0) << c.what << ": the box closes with the save";
        if (other >= 0)
            ::close(other);
    }
}

TEST_F(PresetTest, FailedLoadShowsWhyAndKeepsTheControls)
{
    changeEverything();
    std::filesystem::create_directory(iniPath());
    dialogs.answerMessage();
    find<QAction>("m_read_1(0)")->trigger();
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].text,
        QStringLiteral("設定を読み込めませんでした\r\n") + QString::fromStdString(iniPath().string())
            + QStringLiteral(": Is a directory"));
    EXPECT_EQ(dialogs.shown[0].caption, QStringLiteral("Error"));
    expectEverythingChanged();
}

TEST_F(PresetTest, HandEditedValuesOutOfRangeFallBackKeyByKey)
{
    ini_.writeIni("[p]\r\nCombo_00=12\r\nCombo_01=-1\r\nCombo_02= 7\r\n"
                  "Color_00=99\r\nColor_01=-1\r\nColor_02=x\r\nColor_03= 1\r\n"
                  "Enabled=0\r\nBorder=40000\r\nFileSize=5\r\nTitle=t\r\n");
    changeEverything();
    dialogs.answerInput(QStringLiteral("p"));
    find<QAction>("m_read_2")->trigger();
    EXPECT_EQ(listIndex(combo(0)), 0);
    EXPECT_EQ(listIndex(combo(1)), -1);
    EXPECT_EQ(combo(1)->currentText(), QString());
    EXPECT_EQ(listIndex(combo(2)), 7);
    EXPECT_EQ(listIndex(colorBox(0)), 28);
    EXPECT_EQ(listIndex(colorBox(1)), -1);
    EXPECT_EQ(colorBox(1)->currentText(), QString());
    EXPECT_EQ(sampleColour(colorSample(1)), QColor(34, 139, 34)) << "no colour: the sample keeps its own";
    EXPECT_EQ(listIndex(colorBox(2)), 0);
    EXPECT_EQ(listIndex(colorBox(3)), 1);
    EXPECT_EQ(sampleColour(colorSample(3)), QColor(0, 0, 255));
    EXPECT_EQ(find<QScrollBar>("VScroll1")->value(), 11);
    EXPECT_EQ(find<QLineEdit>("strEnabled1")->text(), QStringLiteral("11"));
    EXPECT_EQ(find<QScrollBar>("VScroll2")->value(), 1);
    EXPECT_EQ(find<QLineEdit>("strBorder1")->text(), QStringLiteral("1"));
    EXPECT_EQ(window->sizeUnit(), 0);
    EXPECT_EQ(find<QLineEdit>("strTitle1")->text(), QStringLiteral("t"));
    EXPECT_EQ(find<QLineEdit>("strOutFile1")->text(), QStringLiteral("list.htm"));
}

} // namespace
} // namespace melodex::test

namespace melodex::test {
namespace {

// The boxes' limits hold for typing; a preset's text loads whole, as the
// command line uses it.
TEST_F(PresetTest, LongTextsLoadWholeAndTypingCannotLengthenThem)
{
    struct Case {
        const char* box;
        const char* stored; // longer than the box takes
        const char* afterTyping; // "x", one Backspace, "xy": nothing typed fits
    };
    const Case cases[] = {
        { "strTitle1", "A title of forty characters, and more!!!",
            "A title of forty characters, and more!!" },
        { "strOutFile1", "a-very-long-list-name.htm", "a-very-long-list-name.ht" },
        { "strBorder1", "001", nullptr }, // a number box: no typing
    };
    ini_.writeIni(std::string("[long]\r\nTitle=") + cases[0].stored + "\r\nOutFile=" + cases[1].stored
        + "\r\nBorder=" + cases[2].stored + "\r\n");
    dialogs.answerInput(QStringLiteral("long"));
    find<QAction>("m_read_2")->trigger();
    const OptionSet loaded = window->optionSetFromControls();
    EXPECT_EQ(loaded.title, cases[0].stored);
    EXPECT_EQ(loaded.outFile, cases[1].stored);
    EXPECT_EQ(loaded.borderText, cases[2].stored);

    for (const Case& c : cases) {
        QLineEdit* box = find<QLineEdit>(c.box);
        if (c.afterTyping == nullptr)
            continue;
        box->end(false);
        typeText(box, QStringLiteral("x"));
        QTest::keyClick(box, Qt::Key_Backspace);
        typeText(box, QStringLiteral("xy"));
        EXPECT_EQ(box->text(), QString::fromUtf8(c.afterTyping)) << c.box;
    }
    // Once shorter than its limit, a box takes typing up to the limit again.
    QLineEdit* outFile = find<QLineEdit>("strOutFile1");
    outFile->selectAll();
    typeText(outFile, QString(20, u'z'));
    EXPECT_EQ(outFile->text(), QString(16, u'z'));
}

} // namespace
} // namespace melodex::test
