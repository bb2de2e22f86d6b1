#include "settings/option_set_store.h"

#include "ini_test_support.h"

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

TEST(SignColumn, BlankBeforeZeroAndPositive)
{
    EXPECT_EQ(signColumn(3), " 3");
    EXPECT_EQ(signColumn(0), " 0");
    EXPECT_EQ(signColumn(-1), "-1");
    EXPECT_EQ(signColumn(29), " 29");
}

TEST(NumberedPresetName, PrefixBlankDigit)
{
    EXPECT_EQ(numberedPresetName(0), "save_key_ 0");
    EXPECT_EQ(numberedPresetName(3), "save_key_ 3");
}

TEST_F(WriteOptionSet, WritesTheTwentyKeysInOrder)
{
    ASSERT_TRUE(writeOptionSet("save_key_ 1", changedOptions()));
    EXPECT_EQ(iniBytes(), "[save_key_ 1]\r\n"
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
    EXPECT_EQ(readOptionSet("b"), changedOptions());
    EXPECT_EQ(readOptionSet("a"), OptionSet {});
}

TEST_F(WriteOptionSet, BlankNamesWriteNothing)
{
    for (const char* name : { "", " ", "     " }) {
        EXPECT_TRUE(writeOptionSet(name, changedOptions()));
        EXPECT_FALSE(readOptionSet(name).has_value());
    }
    EXPECT_FALSE(std::filesystem::exists(iniPath()));
}

TEST_F(WriteOptionSet, FailureReportsTheFirstError)
{
    std::filesystem::create_directory(iniPath());
    IniWriteError error;
    EXPECT_FALSE(writeOptionSet("p", OptionSet {}, &error));
    EXPECT_EQ(error.path, iniPath());
    EXPECT_EQ(error.reason, "Is a directory");
}

TEST_F(ReadOptionSet, AbsentNameGivesEveryStartUpValue)
{
    writeIni("[other]\r\nCombo_00= 5\r\n");
    const auto s = readOptionSet("never saved");
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
    EXPECT_EQ(readOptionSet("p"), expected);
}

TEST_F(ReadOptionSet, UnusableHandEditedValuesAreIgnoredOneByOne)
{
    writeIni("[p]\r\n"
             "Combo_00=12\r\nCombo_01=-2\r\nCombo_02=-1\r\nCombo_03=three\r\nCombo_04=70000\r\nCombo_05= 9\r\n"
             "Color_00=30\r\nColor_01=abc\r\nColor_02=-1\r\nColor_03= 29\r\n"
             "Enabled=0\r\nBorder=16\r\nFileSize=3\r\nTitle=kept\r\n");
    OptionSet expected;
    expected.columns = { 0, 1, -1, 3, 4, 9, 6, 7, 8, 9, 10 };
    expected.colorIndex = { 28, 28, -1, 29 };
    expected.colorText = { "WHITE", "WHITE", "", "YELLOW" };
    expected.title = "kept";
    EXPECT_EQ(readOptionSet("p"), expected);

    // A number box whose number is unusable takes the default text too.
    writeIni("[p]\r\nEnabled=x\r\nBorder=-1\r\nFileSize=2\r\n");
    const auto s = readOptionSet("p");
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
