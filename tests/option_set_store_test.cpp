#include "settings/option_set_store.h"

#include "ini_test_support.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

using namespace melodex;
using melodex::test::IniFileTest;

using WriteOptionSet = IniFileTest;
using ReadOptionSet = IniFileTest;

namespace {

OptionSet changedOptions()
{
    OptionSet s;
    s.columns = { 3, 11, -1, 0, 1, 2, 4, 5, 6, 7, 10 };
    s.colorIndex = { 19, 11, -1, 0 };
    s.colorText = { "LIGHTBLUE", "FORESTGREEN", "", "BLACK" };
    s.enabledColumns = 7;
    s.enabledText = "7";
    s.border = 12;
    s.borderText = "12";
    s.sizeUnit = kSizeKB;
    s.title = "私の曲";
    s.outFile = "index.htm";
    return s;
}

} // namespace

TEST(NumberedPresetName, PrefixBlankDigit)
{
    EXPECT_EQ(numberedPresetName(0), "save_key_ 0");
    EXPECT_EQ(numberedPresetName(3), "save_key_ 3");
}

TEST_F(WriteOptionSet, WritesTheTwentyKeysInOrder)
{
    ASSERT_TRUE(writeOptionSet("save_key_ 1", changedOptions()));
    EXPECT_EQ(iniBytes(),
        "[save_key_ 1]\r\n"
        "Combo_00= 3\r\nCombo_01= 11\r\nCombo_02=-1\r\nCombo_03= 0\r\nCombo_04= 1\r\n"
        "Combo_05= 2\r\nCombo_06= 4\r\nCombo_07= 5\r\nCombo_08= 6\r\nCombo_09= 7\r\n"
        "Combo_10= 10\r\n"
        "Color_00= 19\r\nColor_01= 11\r\nColor_02=-1\r\nColor_03= 0\r\n"
        "Enabled=7\r\nBorder=12\r\nFileSize= 1\r\n"
        "Title=\x8e\x84\x82\xcc\x8b\xc8\r\n"
        "OutFile=index.htm\r\n");
}

TEST_F(WriteOptionSet, RoundTripAndOtherPresetsKept)
{
    ASSERT_TRUE(writeOptionSet("a", OptionSet {}));
    ASSERT_TRUE(writeOptionSet("b", changedOptions()));
    ASSERT_TRUE(writeOptionSet("a", OptionSet {})); // rewriting changes no byte
    const std::string before = iniBytes();
    ASSERT_TRUE(writeOptionSet("a", OptionSet {}));
    EXPECT_EQ(iniBytes(), before);
    EXPECT_EQ(readPreset("b").options, changedOptions());
    EXPECT_EQ(readPreset("a").options, OptionSet {});
}

TEST_F(WriteOptionSet, BlankNamesWriteNothing)
{
    for (const char* name : { "", " ", "     " }) {
        EXPECT_TRUE(writeOptionSet(name, changedOptions()));
        EXPECT_FALSE(readPreset(name).options.has_value());
    }
    EXPECT_FALSE(std::filesystem::exists(iniPath()));
}

TEST_F(WriteOptionSet, FailureReportsTheFirstError)
{
    std::filesystem::create_directory(iniPath());
    IniError error;
    EXPECT_FALSE(writeOptionSet("p", OptionSet {}, &error));
    EXPECT_EQ(error.path, iniPath());
    EXPECT_EQ(error.reason, "Is a directory");
}

TEST_F(ReadOptionSet, AbsentNameGivesEveryStartUpValue)
{
    writeIni("[other]\r\nCombo_00= 5\r\n");
    const auto s = readPreset("never saved").options;
    ASSERT_TRUE(s);
    EXPECT_EQ(*s, OptionSet {});
}

TEST_F(ReadOptionSet, MissingKeysTakeTheirDefaults)
{
    writeIni("[p]\r\nCombo_04= 11\r\nColor_03= 1\r\nBorder=3\r\nTitle=x\r\n");
    OptionSet expected;
    expected.columns[4] = 11;
    expected.colorIndex[3] = 1;
    expected.colorText[3] = "BLUE";
    expected.border = 3;
    expected.borderText = "3";
    expected.title = "x";
    EXPECT_EQ(readPreset("p").options, expected);
}

TEST_F(ReadOptionSet, UnusableHandEditedValuesAreIgnoredOneByOne)
{
    writeIni(
        "[p]\r\n"
        "Combo_00=12\r\nCombo_01=-2\r\nCombo_02=-1\r\nCombo_03=three\r\nCombo_04=70000\r\nCombo_05= 9\r\n"
        "Color_00=30\r\nColor_01=abc\r\nColor_02=-1\r\nColor_03= 29\r\n"
        "Enabled=0\r\nBorder=16\r\nFileSize=3\r\nTitle=kept\r\n");
    OptionSet expected;
    expected.columns = { 0, 1, -1, 3, 4, 9, 6, 7, 8, 9, 10 };
    expected.colorIndex = { 28, 28, -1, 29 };
    expected.colorText = { "WHITE", "WHITE", "", "YELLOW" };
    expected.title = "kept";
    EXPECT_EQ(readPreset("p").options, expected);

    // A number box whose number is unusable takes the default text too.
    writeIni("[p]\r\nEnabled=x\r\nBorder=-1\r\nFileSize=2\r\n");
    const auto s = readPreset("p").options;
    EXPECT_EQ(s->enabledText, "11");
    EXPECT_EQ(s->enabledColumns, 11);
    EXPECT_EQ(s->borderText, "1");
    EXPECT_EQ(s->border, 1);
    EXPECT_EQ(s->sizeUnit, kSizeMB);
}

TEST(SettleNumberBoxes, AMovingScrollBarRewritesItsBox)
{
    OptionSet loaded;
    loaded.enabledColumns = 5;
    loaded.enabledText = "05";
    loaded.border = 1;
    loaded.borderText = "01";
    settleNumberBoxes(loaded, OptionSet {});
    EXPECT_EQ(loaded.enabledText, "5");
    EXPECT_EQ(loaded.borderText, "01"); // the bar stayed on 1, so the stored text stays
}

TEST_F(WriteOptionSet, TextsLoadBackExactly)
{
    const std::string texts[] = {
        "AT&amp;T &#12354;", "a&#65;.htm", "a&#0;b", "AT&T", "&", "&amp;", "&#", "&#x41;", "R&B;", "🎵 ♫ café",
        "❤️ 👨‍👩‍👧 soft\u00ADhyphen \uF86F", // ICU drops or maps these one way
        "~/\\", "～〜−¥‾", "①Ⅻ㈱髙﨑", "ｱｲｳ", " padded ", "\"quoted\"", "'q'", "\"", "\tx",
        std::string(121, 'x') + "é", // 127 bytes with the reference at the very end
        std::string(122, 'x') + "&", // "&amp;" ends on byte 127
    };
    for (const auto& text : texts) {
        OptionSet s;
        s.title = text;
        s.outFile = text;
        ASSERT_TRUE(writeOptionSet("p", s)) << text;
        const auto loaded = readPreset("p").options;
        EXPECT_EQ(loaded->title, text);
        EXPECT_EQ(loaded->outFile, text);
    }

    // Two stored forms, as literals: "&" escaped, outer blanks kept in quotes.
    const std::pair<std::string, std::string> stored[] = {
        { "AT&amp;T &#12354;", "Title=AT&amp;amp;T &amp;#12354;\r\n" },
        { " padded ", "Title=\" padded \"\r\n" },
    };
    for (const auto& [title, line] : stored) {
        OptionSet s;
        s.title = title;
        ASSERT_TRUE(writeOptionSet("p", s));
        EXPECT_NE(iniBytes().find(line), std::string::npos) << iniBytes();
    }
}

TEST_F(WriteOptionSet, ATextThatWouldNotLoadBackIsRefusedAndNothingWritten)
{
    ASSERT_TRUE(writeOptionSet("p", changedOptions()));
    const std::string before = iniBytes();
    const std::pair<std::string, std::string> tooLong[] = {
        { std::string(26, '&'), "Title is too long to be stored (130 bytes in the file, at most 127)" },
        { std::string(15, 'x') + "🎵🎵🎵🎵🎵🎵🎵🎵🎵🎵🎵🎵🎵",
            "Title is too long to be stored (132 bytes in the file, at most 127)" },
    };
    for (const auto& [title, reason] : tooLong) {
        OptionSet s = changedOptions();
        s.title = title;
        s.columns[0] = 9;
        IniError error;
        EXPECT_FALSE(writeOptionSet("p", s, &error));
        EXPECT_EQ(error.path, iniPath());
        EXPECT_EQ(error.reason, reason);
        EXPECT_EQ(iniBytes(), before);
    }
}

TEST_F(WriteOptionSet, ConcurrentSavesKeepEveryKeyAndReadersSeeWholePresets)
{
    // Every value of round v follows from v, so a preset read half from one
    // save and half from another shows.
    auto options = [](const std::string& name, int v) {
        OptionSet s;
        s.columns.fill(v % 12);
        s.colorIndex.fill(v % 30);
        s.colorText.fill(std::string(kPalette[v % 30].name));
        s.title = name + std::to_string(v);
        return s;
    };
    constexpr int kRounds = 50;
    auto save = [&](const std::string& name) {
        for (int v = 0; v < kRounds; ++v)
            EXPECT_TRUE(writeOptionSet(name, options(name, v)));
    };
    std::atomic<bool> done = false;
    std::thread reader([&] {
        while (!done) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            const PresetRead r = readPreset("a");
            if (!r.found)
                continue;
            const int v = std::stoi(r.options->title.substr(1));
            EXPECT_EQ(*r.options, options("a", v));
        }
    });
    std::thread a(save, "a");
    std::thread b(save, "b");
    a.join();
    b.join();
    done = true;
    reader.join();

    EXPECT_EQ(readPreset("a").options, options("a", kRounds - 1));
    EXPECT_EQ(readPreset("b").options, options("b", kRounds - 1));
    const std::string bytes = iniBytes();
    EXPECT_EQ(std::count(bytes.begin(), bytes.end(), '\n'), 2 * 21 + 1) << bytes; // a blank line between
}

TEST_F(WriteOptionSet, FormatsAndStyleAreStoredOnlyWhenTheyDifferFromTheirAbsence)
{
    struct Row {
        FormatSet formats;
        PageStyle style;
        const char* tail; // what follows OutFile= in the section
    };
    const Row rows[] = {
        { FormatSet::mp3Only(), PageStyle::Classic, "" },
        { FormatSet::all(), PageStyle::Classic, "Formats=all\r\n" },
        { *FormatSet::parse("opus,flac"), PageStyle::Classic, "Formats=flac,opus\r\n" },
        { *FormatSet::parse("mp4"), PageStyle::Modern, "Formats=mp4\r\nStyle=modern\r\n" },
        { FormatSet::mp3Only(), PageStyle::Modern, "Style=modern\r\n" },
    };
    for (const Row& row : rows) {
        std::filesystem::remove(iniPath());
        OptionSet s = changedOptions();
        s.formats = row.formats;
        s.style = row.style;
        ASSERT_TRUE(writeOptionSet("p", s));
        const std::string bytes = iniBytes();
        EXPECT_EQ(bytes.substr(bytes.find("OutFile=index.htm\r\n") + 19), row.tail) << row.tail;
        EXPECT_EQ(readPreset("p").options, s) << row.tail;
    }
}

TEST_F(WriteOptionSet, ChoiceUndoneIsRewrittenNotLeftStanding)
{
    OptionSet s;
    s.formats = FormatSet::all();
    s.style = PageStyle::Modern;
    ASSERT_TRUE(writeOptionSet("p", s));
    ASSERT_TRUE(writeOptionSet("other", s));
    ASSERT_TRUE(writeOptionSet("p", OptionSet {}));
    EXPECT_EQ(readPreset("p").options, OptionSet {});
    EXPECT_EQ(readPreset("other").options, s);
    const std::string bytes = iniBytes();
    EXPECT_NE(
        bytes.find("OutFile=list.htm\r\nFormats=mp3\r\nStyle=classic\r\n\r\n[other]"), std::string::npos)
        << bytes;
}

TEST_F(ReadOptionSet, FormatsAndStyleReadAsStoredAndUnusableValuesAsTheirAbsence)
{
    struct Row {
        const char* lines;
        FormatSet formats;
        PageStyle style;
    };
    const Row rows[] = {
        { "", FormatSet::mp3Only(), PageStyle::Classic }, // every file written before
        { "Formats=all\r\nStyle=modern\r\n", FormatSet::all(), PageStyle::Modern },
        { "Formats= ALL \r\nStyle=Modern\r\n", FormatSet::all(), PageStyle::Modern },
        { "Formats=.flac, wav\r\n", *FormatSet::parse("flac,wav"), PageStyle::Classic },
        { "Formats=mp3,wma\r\nStyle=fancy\r\n", FormatSet::mp3Only(), PageStyle::Classic },
        { "Formats=\r\nStyle=\r\n", FormatSet::mp3Only(), PageStyle::Classic },
        { "Formats=flac\r\nStyle=classic,modern\r\n", *FormatSet::parse("flac"), PageStyle::Classic },
    };
    for (const Row& row : rows) {
        writeIni(std::string("[p]\r\nBorder=3\r\n") + row.lines);
        OptionSet expected;
        expected.border = 3;
        expected.borderText = "3";
        expected.formats = row.formats;
        expected.style = row.style;
        EXPECT_EQ(readPreset("p").options, expected) << row.lines;
    }
}
