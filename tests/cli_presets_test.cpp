#include "cli/cli_presets.h"

#include <functional>
#include <sstream>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "cli/cli.h"
#include "common/folder_listing.h"
#include "ini_test_support.h"
#include "listgen/list_document.h"
#include "settings/option_set_store.h"

using namespace melodex;
using melodex::test::IniFileTest;
using melodex::test::readFile;
using melodex::test::TempDir;

namespace {

using melodex::test::CliRun;

CliRun run(const std::vector<std::string>& args) { return test::runCli(args); }

// The preset as the window saves it: file bytes written literally, so the test
// does not lean on the code that reads them.
constexpr const char* kWindowPreset = "[save_key_ 2]\r\n"
                                      "Combo_00= 0\r\nCombo_01= 7\r\nCombo_02= 8\r\nCombo_03= 11\r\n"
                                      "Combo_04= 4\r\nCombo_05= 5\r\nCombo_06= 6\r\nCombo_07= 7\r\n"
                                      "Combo_08= 8\r\nCombo_09= 9\r\nCombo_10= 10\r\n"
                                      "Color_00= 16\r\nColor_01= 15\r\nColor_02= 3\r\nColor_03= 14\r\n"
                                      "Enabled=4\r\nBorder=3\r\nFileSize= 1\r\n"
                                      "Title=\x8e\x84\x82\xcc\x8b\xc8\r\nOutFile=cat.htm\r\n";

} // namespace

using CliPresets = IniFileTest;

TEST_F(CliPresets, ListsTheNamesInFileOrder)
{
    writeIni(std::string(kWindowPreset) + "[my_option]\r\nBorder=1\r\n[ spaced ]\r\n");
    const CliRun r = run({ "presets" });
    EXPECT_EQ(r.code, cli::kExitOk);
    EXPECT_EQ(r.out, "save_key_ 2\nmy_option\n spaced \n");

    EXPECT_EQ(run({ "presets", "--path" }).out, iniPath().string() + "\n");
}

TEST_F(CliPresets, NoFileMeansNoPresets)
{
    const CliRun r = run({ "presets" });
    EXPECT_EQ(r.code, cli::kExitOk);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("does not exist"), std::string::npos) << r.err;
}

TEST_F(CliPresets, ListWritesWhatTheWindowWouldFromTheSavedPreset)
{
    writeIni(kWindowPreset);
    TempDir music("melodex-cli-preset");
    for (const char* name : { "cbr128_44k_stereo.mp3", "a&b <c>.mp3" })
        std::filesystem::copy_file(test::corpusDir() / name, music.path() / name);

    const CliRun r = run({ "list", music.path().string(), "--preset", "SAVE_KEY_ 2" });
    ASSERT_EQ(r.code, cli::kExitOk) << r.err;

    OptionSet window; // the controls once the preset is loaded
    window.columns = { 0, 7, 8, 11, 4, 5, 6, 7, 8, 9, 10 };
    window.colorIndex = { 16, 15, 3, 14 };
    window.colorText = { "LAVENDER", "KHAKI", "DARKBLUE", "HOTPINK" };
    window.enabledColumns = 4;
    window.enabledText = "4";
    window.border = 3;
    window.borderText = "3";
    window.sizeUnit = kSizeKB;
    window.title = "私の曲";
    window.outFile = "expected.htm";
    TrackTag tag {};
    StreamInfo info {};
    const auto names = listMp3Files(music.path().string()).names;
    ASSERT_TRUE(writeListDocument(window, music.path().string(), names, tag, info).ok());
    EXPECT_EQ(readFile(music.path() / "cat.htm"), readFile(music.path() / "expected.htm"));

    // Options given on the command line win over the preset.
    ASSERT_EQ(
        run({ "list", music.path().string(), "--preset", "save_key_ 2", "--border", "0", "-o", "b0.htm" })
            .code,
        cli::kExitOk);
    window.border = 0;
    window.borderText = "0";
    window.outFile = "expected0.htm";
    ASSERT_TRUE(writeListDocument(window, music.path().string(), names, tag, info).ok());
    EXPECT_EQ(readFile(music.path() / "b0.htm"), readFile(music.path() / "expected0.htm"));
}

TEST_F(CliPresets, UnknownOrBlankPresetIsAnErrorNotDefaults)
{
    TempDir music("melodex-cli-preset");
    music.write("x.mp3", "x");
    CliRun r = run({ "list", music.path().string(), "--preset", "mine" });
    EXPECT_EQ(r.code, cli::kExitFailure);
    EXPECT_NE(r.err.find("no presets have been saved"), std::string::npos) << r.err;

    writeIni(kWindowPreset);
    r = run({ "list", music.path().string(), "--preset", "mine" });
    EXPECT_EQ(r.code, cli::kExitFailure);
    EXPECT_NE(r.err.find("no preset \"mine\" in " + iniPath().string()), std::string::npos) << r.err;
    r = run({ "list", music.path().string(), "--preset", "  " });
    EXPECT_EQ(r.code, cli::kExitFailure);
    EXPECT_FALSE(std::filesystem::exists(music.path() / "list.htm"));
}

TEST_F(CliPresets, HandEditedNumberBoxTextFollowsTheWindow)
{
    // The window shows "03" until its scroll bar moves; from start-up (1) it does.
    writeIni("[p]\r\nBorder=03\r\nEnabled=011\r\n");
    OptionSet options;
    ASSERT_EQ(cli::loadPreset("p", options), std::nullopt);
    EXPECT_EQ(options.borderText, "3");
    EXPECT_EQ(options.enabledText, "011"); // the bar stays on 11
    EXPECT_EQ(options.enabledColumns, 11);
}

TEST_F(CliPresets, EveryListedNameLoadsItsOwnSection)
{
    struct Section {
        const char* header; // as the file holds it
        const char* listed; // as `presets` prints it; nullptr: a later spelling of a listed name
    };
    const Section sections[] = {
        { "&#65;", "A" },
        { "a", nullptr },
        { "x&#93;y", "x]y" },
        { "AT&T", "AT&T" },
        { "&amp;#66;", "&#66;" },
        { "&#0;", "&#0;" },
        { "\x93\xfa\x96\x7b", "日本" },
        { "\x83\x41", "ア" },
        { "\x83\x61", "ヂ" },
        { " sp ", " sp " },
        { "Caf&#233;", "Café" },
        { "save_key_ 0", "save_key_ 0" },
    };
    std::string ini;
    std::string listed;
    for (std::size_t i = 0; i < std::size(sections); ++i) {
        ini += std::string("[") + sections[i].header + "]\r\nTitle=t" + std::to_string(i) + "\r\n";
        if (sections[i].listed)
            listed += std::string(sections[i].listed) + "\n";
    }
    writeIni(ini);
    const CliRun r = run({ "presets" });
    EXPECT_EQ(r.code, cli::kExitOk);
    EXPECT_EQ(r.out, listed);

    for (std::size_t i = 0; i < std::size(sections); ++i) {
        if (!sections[i].listed)
            continue;
        OptionSet options;
        ASSERT_EQ(cli::loadPreset(sections[i].listed, options), std::nullopt) << sections[i].listed;
        EXPECT_EQ(options.title, "t" + std::to_string(i)) << sections[i].listed;
    }
    OptionSet options;
    EXPECT_NE(cli::loadPreset("B", options), std::nullopt); // "&#66;" is not "B"
}

TEST_F(CliPresets, AnythingButARegularFileIsNamedWithItsReason)
{
    TempDir music("melodex-cli-preset");
    music.write("x.mp3", "x");
    const auto other = dir_.path() / "other.ini";
    struct Case {
        const char* what;
        std::function<void()> make;
        std::string reason;
    };
    const Case cases[] = {
        { "folder", [&] { std::filesystem::create_directory(iniPath()); }, "Is a directory" },
        { "FIFO", [&] { ASSERT_EQ(::mkfifo(iniPath().c_str(), 0600), 0); }, "not a regular file (a FIFO)" },
        { "dangling link", [&] { std::filesystem::create_symlink(other, iniPath()); },
            "a dangling link (to " + other.string() + ")" },
        { "link loop",
            [&] {
                std::filesystem::create_symlink(iniPath(), other);
                std::filesystem::create_symlink(other, iniPath());
            },
            "Too many levels of symbolic links" },
    };
    for (const auto& c : cases) {
        c.make();
        const std::string expected = iniPath().string() + ": " + c.reason;
        CliRun r = run({ "presets" });
        EXPECT_EQ(r.code, cli::kExitFailure) << c.what;
        EXPECT_EQ(r.err, "melodex-cli: presets: " + expected + "\n") << c.what;
        r = run({ "list", music.path().string(), "--preset", "p" });
        EXPECT_EQ(r.code, cli::kExitFailure) << c.what;
        EXPECT_EQ(r.err, "melodex-cli: --preset: " + expected + "\n") << c.what;
        // The window's save says the same, and never waits on a FIFO.
        IniError error;
        EXPECT_FALSE(writeOptionSet("p", OptionSet {}, &error)) << c.what;
        EXPECT_EQ(error.path.string() + ": " + error.reason, expected) << c.what;
        std::filesystem::remove(iniPath());
        std::filesystem::remove(other);
    }
}
