// The options menu: which files the list shows, the count label that names
// them, and the page style, carried through presets and into make-list.

#include <filesystem>

#include <QMenuBar>
#include <QPushButton>

#include "ini_test_support.h"
#include "test_support.h"
#include "window_fixture.h"

namespace melodex::test {
namespace {

const QStringList kMp3Only { QStringLiteral("a.mp3"), QStringLiteral("z.MP3") };
// ".mp4" is mostly video: "all" leaves it out.
const QStringList kEveryAudioFile { QStringLiteral("a.mp3"), QStringLiteral("b.flac"),
    QStringLiteral("c.m4a"), QStringLiteral("d.ogg"), QStringLiteral("e.opus"), QStringLiteral("f.wav"),
    QStringLiteral("g.AIFF"), QStringLiteral("z.MP3") };

class OptionsMenuTest : public WindowTest {
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        for (const char* name :
            { "a.mp3", "b.flac", "c.m4a", "d.ogg", "e.opus", "f.wav", "g.AIFF", "h.mp4", "i.txt", "z.MP3" })
            folder_.write(name, "x");
        ASSERT_TRUE(window->openFolder(folder_.path().string()));
    }

    QAction* allFormats() const { return find<QAction>("m_all_formats"); }
    QAction* style(PageStyle s) const { return find<QAction>("m_style_1", static_cast<int>(s)); }
    QLabel* countLabel() const { return find<QLabel>("Label5"); }

    // What the window shows of the choice, all of it at once.
    void expectShown(bool every, PageStyle pageStyle)
    {
        EXPECT_EQ(allFormats()->isChecked(), every);
        EXPECT_EQ(itemTexts(files()), every ? kEveryAudioFile : kMp3Only);
        EXPECT_EQ(fileCount(), QString::number(every ? kEveryAudioFile.size() : kMp3Only.size()));
        EXPECT_EQ(
            countLabel()->text(), every ? QStringLiteral("ファイルの数") : QStringLiteral("MP3ファイルの数"));
        EXPECT_TRUE(style(pageStyle)->isChecked());
        const OptionSet set = window->optionSetFromControls();
        EXPECT_EQ(set.formats, every ? FormatSet::all() : FormatSet::mp3Only());
        EXPECT_EQ(set.style, pageStyle);
    }

    TempDir folder_ { "melodex-window-formats" };
    ScopedIniPlace ini_;
};

TEST_F(OptionsMenuTest, TheLastMenuOffersTheChoicesAndStartsAtMp3AndClassic)
{
    const QList<QAction*> menus = window->menuBar()->actions();
    ASSERT_FALSE(menus.isEmpty());
    EXPECT_EQ(menus.back()->menu(), find<QMenu>("m_option_title"));
    expectShown(false, PageStyle::Classic);
}

TEST_F(OptionsMenuTest, TheCountLabelFitsEitherText)
{
    if (QFontInfo(window->font()).family() != window->font().family())
        GTEST_SKIP() << "the window's font is not installed: " << window->font().family().toStdString();
    for (int i = 0; i < 2; ++i) {
        EXPECT_LE(countLabel()->sizeHint().width(), countLabel()->width())
            << countLabel()->text().toStdString();
        allFormats()->trigger();
    }
}

TEST_F(OptionsMenuTest, AllFormatsListsTheMixedFolderAndBackKeepingTheSelection)
{
    files()->setCurrentRow(1); // z.MP3
    allFormats()->trigger();
    expectShown(true, PageStyle::Classic);
    EXPECT_EQ(files()->currentItem()->text(), QStringLiteral("z.MP3"));

    style(PageStyle::Modern)->trigger();
    expectShown(true, PageStyle::Modern);
    allFormats()->trigger();
    expectShown(false, PageStyle::Modern);
    EXPECT_EQ(files()->currentItem()->text(), QStringLiteral("z.MP3"));
}

TEST_F(OptionsMenuTest, PresetCarriesTheChoiceAndAnOldSectionLoadsAsMp3AndClassic)
{
    allFormats()->trigger();
    style(PageStyle::Modern)->trigger();
    find<QAction>("m_save_1(1)")->trigger();
    EXPECT_NE(ini_.iniBytes().find("OutFile=list.htm\r\nFormats=all\r\nStyle=modern\r\n"), std::string::npos);

    // A section written before the choice existed, read over a window set otherwise.
    ini_.writeIni(ini_.iniBytes() + "\r\n[save_key_ 2]\r\nCombo_00= 3\r\nTitle=old\r\n");
    find<QAction>("m_read_1(2)")->trigger();
    expectShown(false, PageStyle::Classic);
    EXPECT_EQ(listIndex(combo(0)), 3);

    auto fresh = makeWindow();
    window.swap(fresh);
    fresh.reset();
    ASSERT_TRUE(window->openFolder(folder_.path().string()));
    find<QAction>("m_read_1(1)")->trigger();
    expectShown(true, PageStyle::Modern);
}

TEST_F(OptionsMenuTest, AListFromTheCommandLineIsKeptAsItIsAndTheItemUndoesIt)
{
    ini_.writeIni("[save_key_ 0]\r\nFormats=flac,opus\r\n");
    find<QAction>("m_read_1(0)")->trigger();
    EXPECT_TRUE(allFormats()->isChecked());
    EXPECT_EQ(itemTexts(files()), (QStringList { QStringLiteral("b.flac"), QStringLiteral("e.opus") }));
    EXPECT_EQ(countLabel()->text(), QStringLiteral("ファイルの数"));
    find<QAction>("m_save_1(0)")->trigger();
    EXPECT_NE(ini_.iniBytes().find("Formats=flac,opus\r\n"), std::string::npos);

    allFormats()->trigger();
    expectShown(false, PageStyle::Classic);
}

TEST_F(OptionsMenuTest, MakeListRefusesAnOutputNamedLikeAListedFormat)
{
    allFormats()->trigger();
    find<QLineEdit>("strOutFile1")->setText(QStringLiteral("list.flac"));
    dialogs.answerMessage();
    find<QPushButton>("cmdMakeList1")->click();
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_TRUE(dialogs.shown[0].text.contains(QStringLiteral(".flac")))
        << dialogs.shown[0].text.toStdString();
    EXPECT_FALSE(std::filesystem::exists(folder_.path() / "list.flac"));

    TempDir empty("melodex-window-formats");
    empty.write("notes.txt", "not music");
    ASSERT_TRUE(window->openFolder(empty.path().string()));
    dialogs.answerMessage();
    find<QPushButton>("cmdMakeList1")->click();
    ASSERT_EQ(dialogs.shown.size(), 2u);
    EXPECT_EQ(dialogs.shown[1].text, QStringLiteral("音声ファイルがありません"));
}

} // namespace
} // namespace melodex::test
