#include "settings/ini_utl.h"

#include "ini_test_support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace melodex;
using melodex::test::IniFileTest;
using melodex::test::readFile;

using IniPath = IniFileTest;
using IniGetIntTest = IniFileTest;
using IniGetStringTest = IniFileTest;
using IniPutStringTest = IniFileTest;

TEST_F(IniPath, CreatesTheLowerCaseNameBesideTheExecutable)
{
    ASSERT_TRUE(IniPutString("s", "k", "v"));
    EXPECT_EQ(IniFilePath(), iniPath());
    EXPECT_EQ(iniBytes(), "[s]\r\nk=v\r\n");
    EXPECT_EQ(IniGetString("s", "k", ""), "v");
}

TEST_F(IniPath, ReadersAndWriterUseAFileWhoseNameIsUpperCaseOnDisk)
{
    const auto upper = dir_.write("MELODEX.INI", "[s]\r\nk= 7\r\n");
    EXPECT_EQ(IniGetInt("s", "k", 0), 7);
    ASSERT_TRUE(IniPutString("s", "j", "x"));
    EXPECT_EQ(readFile(upper), "[s]\r\nk= 7\r\nj=x\r\n");
    EXPECT_FALSE(std::filesystem::exists(iniPath())); // no second file beside it
}

TEST_F(IniPath, AnInstalledProgramKeepsItsSettingsInTheConfigFolder)
{
    const auto config = config_.path() / "melodex" / "melodex.ini";
    const auto ownUsr = dir_.path() / "usr" / "bin";
    std::filesystem::create_directories(ownUsr);
    const std::pair<std::filesystem::path, std::filesystem::path> cases[] = {
        // A folder that is not there stands for one the user cannot write;
        // permissions cannot show that when the tests run as root.
        { dir_.path() / "missing" / "melodex", config },
        // Root can write these, but they hold programs, not settings.
        { "/usr/bin/melodex", config },
        { "/usr/local/bin/melodex", config },
        { "/bin/melodex", config },
        { "/sbin/melodex", config },
        { "/opt/melodex/bin/melodex", config },
        // "usr" inside a folder of one's own is no system folder.
        { ownUsr / "melodex", ownUsr / "melodex.ini" },
    };
    for (const auto& [exe, expected] : cases) {
        setIniProgram(exe);
        EXPECT_EQ(IniFilePath(), expected) << exe;
    }
    setIniProgram("/usr/bin/melodex");
    ASSERT_TRUE(IniPutString("p", "Title", "t"));
    EXPECT_EQ(readFile(config), "[p]\r\nTitle=t\r\n");
    EXPECT_EQ(IniGetString("p", "Title", ""), "t");
}

TEST_F(IniGetIntTest, ReadsTheFormsThatAreWrittenAndDefaultsTheRest)
{
    writeIni("[n]\r\n"
             "blank= 5\r\nneg=-1\r\nplain=11\r\nplus=+3\r\nspaced =  42  \r\n"
             "word=abc\r\ntail=12abc\r\nempty=\r\nhuge=99999999999\r\nsplit=- 1\r\n");
    struct Case {
        const char* key;
        int expected;
    };
    const Case cases[] = {
        { "blank", 5 },
        { "neg", -1 },
        { "plain", 11 },
        { "plus", 3 },
        { "spaced", 42 },
        { "word", -7 },
        { "tail", -7 },
        { "empty", -7 },
        { "huge", -7 },
        { "split", -7 },
        { "absent", -7 },
    };
    for (const auto& c : cases)
        EXPECT_EQ(IniGetInt("n", c.key, -7), c.expected) << c.key;
    EXPECT_EQ(IniGetInt("no such section", "blank", 9), 9);
}

TEST_F(IniGetIntTest, AbsentFileGivesTheDefault) { EXPECT_EQ(IniGetInt("s", "k", 28), 28); }

TEST_F(IniGetStringTest, NamesMatchWithoutRegardToAsciiCase)
{
    writeIni("[SAVE_KEY_ 0]\r\nCOMBO_00= 4\r\n");
    EXPECT_EQ(IniGetInt("save_key_ 0", "Combo_00", 0), 4);
    // ア is 83 41 and ヂ is 83 61: the trail bytes look like "A" and "a".
    writeIni("[\x83\x41]\r\nk=katakana a\r\n");
    EXPECT_EQ(IniGetString("ア", "k", "none"), "katakana a");
    EXPECT_EQ(IniGetString("ヂ", "k", "none"), "none");
}

TEST_F(IniGetStringTest, CutsAt127BytesOnACharacterBoundary)
{
    const std::string ascii(200, 'x');
    std::string kanji;
    for (int i = 0; i < 100; ++i)
        kanji += "\x88\x9f"; // 亜
    writeIni("[s]\r\nascii=" + ascii + "\r\nkanji=" + kanji + "\r\n");
    EXPECT_EQ(IniGetString("s", "ascii", ""), std::string(127, 'x'));
    std::string expected;
    for (int i = 0; i < 63; ++i)
        expected += "亜";
    EXPECT_EQ(IniGetString("s", "kanji", ""), expected);
}

TEST_F(IniGetStringTest, DecodesCp932AndGivesTheDefaultForAbsentKeys)
{
    writeIni("[s]\r\nTitle=\x93\xfa\x96\x7b\x8c\xea\r\nEmpty=\r\n");
    EXPECT_EQ(IniGetString("s", "Title", ""), "日本語");
    EXPECT_EQ(IniGetString("s", "Empty", "list.htm"), "");
    EXPECT_EQ(IniGetString("s", "Missing", "list.htm"), "list.htm");
    EXPECT_EQ(IniGetString("s", "Missing", ""), "");
}

TEST_F(IniPutStringTest, WritesCp932AndReadsBackWhatCp932CannotHold)
{
    ASSERT_TRUE(IniPutString("s", "Title", "日本語 Café"));
    EXPECT_EQ(iniBytes(), "[s]\r\nTitle=\x93\xfa\x96\x7b\x8c\xea Caf&#233;\r\n");
    EXPECT_EQ(IniGetString("s", "Title", ""), "日本語 Café");
}

TEST_F(IniPutStringTest, KeepsOuterBlanksOfSectionNames)
{
    ASSERT_TRUE(IniPutString(" a ", "k", "1"));
    ASSERT_TRUE(IniPutString("a", "k", "2"));
    EXPECT_EQ(iniBytes(), "[ a ]\r\nk=1\r\n\r\n[a]\r\nk=2\r\n");
    EXPECT_EQ(IniGetString(" a ", "k", ""), "1");
    EXPECT_EQ(IniGetString("a", "k", ""), "2");
}

TEST_F(IniPutStringTest, SectionWhoseNameHoldsTheByteOfABracket)
{
    // ゾ is 83 5D, and 5D is "]".
    ASSERT_TRUE(IniPutString("ゾーン", "k", "1"));
    ASSERT_TRUE(IniPutString("ゾ", "k", "2"));
    EXPECT_EQ(IniGetString("ゾーン", "k", ""), "1");
    EXPECT_EQ(IniGetString("ゾ", "k", ""), "2");
}

TEST_F(IniPutStringTest, ChangesOneLineAndKeepsEveryOtherByte)
{
    writeIni("; made by hand\r\n"
             "\r\n"
             "[other]\r\n"
             "x = 1\r\n"
             "; about p\r\n"
             "[P]\r\n"
             "Combo_00= 3\r\n"
             "k = old\r\n"
             "k=second\r\n"
             "\r\n"
             "; last words");
    ASSERT_TRUE(IniPutString("p", "K", "new")); // first of duplicates, spelling kept
    ASSERT_TRUE(IniPutString("p", "Title", "t")); // after the last key of the section
    ASSERT_TRUE(IniPutString("q", "z", "-1")); // a new section at the end
    EXPECT_EQ(iniBytes(),
        "; made by hand\r\n"
        "\r\n"
        "[other]\r\n"
        "x = 1\r\n"
        "; about p\r\n"
        "[P]\r\n"
        "Combo_00= 3\r\n"
        "k =new\r\n"
        "k=second\r\n"
        "Title=t\r\n"
        "\r\n"
        "; last words\r\n"
        "\r\n"
        "[q]\r\n"
        "z=-1\r\n");
    EXPECT_EQ(IniGetString("p", "k", ""), "new");
}

TEST_F(IniPutStringTest, FollowsTheLineBreaksOfAFileWrittenWithLineFeeds)
{
    writeIni("[s]\na=1\n");
    ASSERT_TRUE(IniPutString("s", "b", "2"));
    EXPECT_EQ(iniBytes(), "[s]\na=1\nb=2\n");
}

TEST_F(IniPutStringTest, FailureLeavesTheFileAndTellsWhy)
{
    writeIni("[s]\r\nk=1\r\n");
    IniError error;
    EXPECT_FALSE(IniPutString("s", "k", "two\r\n[evil]", &error));
    EXPECT_EQ(error.path, iniPath());
    EXPECT_FALSE(error.reason.empty());
    EXPECT_EQ(iniBytes(), "[s]\r\nk=1\r\n");

    // A folder where the file should be: reading it fails, even for root.
    std::filesystem::remove(iniPath());
    std::filesystem::create_directory(iniPath());
    error = {};
    EXPECT_FALSE(IniPutString("s", "k", "1", &error));
    EXPECT_EQ(error.path, iniPath());
    EXPECT_EQ(error.reason, "Is a directory");
}

TEST_F(IniPutStringTest, ConfigFolderThatCannotBeMadeIsReported)
{
    const auto blocker = config_.write("notafolder", "x");
    ::setenv("XDG_CONFIG_HOME", blocker.c_str(), 1);
    setIniProgram(dir_.path() / "missing" / "melodex");
    IniError error;
    EXPECT_FALSE(IniPutString("s", "k", "1", &error));
    EXPECT_EQ(error.path, blocker / "melodex" / "melodex.ini");
    EXPECT_FALSE(error.reason.empty());
}

TEST_F(IniPutStringTest, WritesThroughALinkToTheFileItNamesAndKeepsItsPermissions)
{
    std::filesystem::create_directory(dir_.path() / "shared");
    const auto real = dir_.write("shared/melodex.ini", "[s]\r\n");
    ::chmod(real.c_str(), 0600);
    std::filesystem::create_symlink("shared/melodex.ini", dir_.path() / "chain");
    const std::pair<const char*, std::filesystem::path> links[] = {
        { "absolute", real },
        { "relative", "shared/melodex.ini" },
        { "a link to a link", "chain" },
    };
    for (const auto& [what, to] : links) {
        std::filesystem::remove(iniPath());
        std::filesystem::create_symlink(to, iniPath());
        ASSERT_TRUE(IniPutString("s", "k", what)) << what;
        EXPECT_EQ(std::filesystem::read_symlink(iniPath()), to) << what;
        EXPECT_EQ(readFile(real), "[s]\r\nk=" + std::string(what) + "\r\n") << what;
        EXPECT_EQ(std::filesystem::status(real).permissions(), std::filesystem::perms(0600)) << what;
    }
}

TEST_F(IniFileTest, SectionNamesInFileOrderOnce)
{
    writeIni("[b]\r\n[ a ]\r\n;[c]\r\n[B]\r\n[\x93\xfa\x96\x7b]\r\n");
    EXPECT_EQ(IniSectionNames(), (std::vector<std::string> { "b", " a ", "日本" }));
}

TEST_F(IniFileTest, SectionNamesAreComparedAsTheUserSeesThem)
{
    // ア is 83 41 and ヂ is 83 61: two names, though the trail bytes differ only in case.
    writeIni("[&#65;]\r\nk=reference\r\n[a]\r\nk=plain\r\n[x&#93;y]\r\nk=bracket\r\n[AT&T]\r\nk=amp\r\n"
             "[\x83\x41]\r\nk=a\r\n[\x83\x61]\r\nk=di\r\n");
    EXPECT_EQ(IniSectionNames(), (std::vector<std::string> { "A", "x]y", "AT&T", "ア", "ヂ" }));
    const std::pair<const char*, const char*> lookups[] = {
        { "A", "reference" },
        { "a", "reference" },
        { "x]y", "bracket" },
        { "at&t", "amp" },
        { "ア", "a" },
        { "ヂ", "di" },
    };
    for (const auto& [name, value] : lookups)
        EXPECT_EQ(IniGetString(name, "k", "none"), value) << name;

    // A write finds the same section the readers find, and a new name with
    // "]" is written so that it reads back.
    ASSERT_TRUE(IniPutString("a", "k", "new"));
    ASSERT_TRUE(IniPutString("p]q", "k", "1"));
    EXPECT_EQ(iniBytes(),
        "[&#65;]\r\nk=new\r\n[a]\r\nk=plain\r\n[x&#93;y]\r\nk=bracket\r\n"
        "[AT&T]\r\nk=amp\r\n[\x83\x41]\r\nk=a\r\n[\x83\x61]\r\nk=di\r\n\r\n[p&#93;q]\r\nk=1\r\n");
    EXPECT_EQ(IniGetString("p]q", "k", ""), "1");
}

TEST_F(IniFileTest, ByteOrderMarkIsSkippedWhenReadingAndKeptWhenWriting)
{
    const std::string bom = "\xEF\xBB\xBF";
    writeIni(bom + "[save_key_ 0]\r\nk=1\r\n");
    EXPECT_EQ(IniSectionNames(), (std::vector<std::string> { "save_key_ 0" }));
    EXPECT_EQ(IniGetInt("save_key_ 0", "k", 0), 1);
    ASSERT_TRUE(IniPutString("save_key_ 0", "k", "2"));
    EXPECT_EQ(iniBytes(), bom + "[save_key_ 0]\r\nk=2\r\n");

    writeIni(bom);
    ASSERT_TRUE(IniPutString("s", "k", "v"));
    EXPECT_EQ(iniBytes(), bom + "[s]\r\nk=v\r\n");
}
