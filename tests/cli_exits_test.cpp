// What melodex-cli says and returns when something goes wrong: a script must
// be able to tell each failure from success, and a person must read why.

#include <filesystem>
#include <fstream>
#include <sstream>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "cli/cli.h"
#include "ini_test_support.h"
#include "test_support.h"

using namespace melodex;
using melodex::test::TempDir;
namespace fs = std::filesystem;

namespace {

struct Exit {
    std::string what;
    std::vector<std::string> args; // "%" stands for the folder
    int code;
    std::vector<std::string> said; // each in stderr
    std::string notSaid = "\x01"; // nothing of stderr may hold this
};

std::vector<std::string> withFolder(std::vector<std::string> args, const std::string& folder)
{
    for (auto& a : args) {
        if (a.starts_with('%'))
            a = folder + a.substr(1);
    }
    return args;
}

// A folder of a track, a file that is no audio and a track nobody but root
// may open, writable by everyone so that a user can write its list.
class CliExits : public melodex::test::IniFileTest {
protected:
    void SetUp() override
    {
        fs::permissions(music.path(), fs::perms::all);
        fs::copy_file(test::corpusDir() / "cbr128_44k_stereo.mp3", music.path() / "a.mp3");
        fs::copy_file(test::corpusDir() / "cbr128_44k_stereo.mp3", music.path() / "b.mp3");
        fs::permissions(music.path() / "b.mp3", fs::perms::none);
        music.write("c.mp3", "no audio");
        writeIni("[save_key_ 0]\r\nBorder=3\r\n[mine]\r\nBorder=2\r\n");
    }

    void check(const Exit& e, const test::CliRun& r)
    {
        EXPECT_EQ(r.code, e.code) << e.what << "\n" << r.err;
        for (const auto& text : e.said)
            EXPECT_NE(r.err.find(text), std::string::npos) << e.what << ": no \"" << text << "\" in\n"
                                                           << r.err;
        EXPECT_EQ(r.err.find(e.notSaid), std::string::npos) << e.what << "\n" << r.err;
        // Every error line says which program spoke.
        if (e.code != cli::kExitOk && !r.err.empty()) {
            EXPECT_EQ(r.err.rfind("melodex-cli: ", 0), 0u) << e.what << "\n" << r.err;
        }
    }

    TempDir music { "melodex-exits" };
};

TEST_F(CliExits, EachFailureHasItsCodeAndItsWords)
{
    const std::string c = music.path() / "c.mp3";
    const Exit cases[] = {
        { "a file that holds no audio is a row, said only with --verbose",
            { "info", "--formats", "mp3", "%" }, cli::kExitOk, {}, "c.mp3" },
        { "--verbose says why", { "info", "--verbose", "%" }, cli::kExitOk, { c + ": no MPEG audio found" } },
        { "standard output as a file name", { "list", "%", "-o", " - " }, cli::kExitUsage,
            { "--output: \"-\"" } },
        { "unknown command", { "frobnicate", "%" }, cli::kExitUsage,
            { "unknown command 'frobnicate'", "info, list, playlist, presets" } },
        { "unknown colour: the palette and a guess", { "list", "%", "--colors", "white,white,blakc,pink" },
            cli::kExitUsage,
            { "\"blakc\" is not a palette colour (did you mean BLACK?)", "LAVENDERBLUSH, LEMONCHIFFON" } },
        { "a part of a colour's name", { "list", "%", "--colors", "pink,white,black,red" }, cli::kExitUsage,
            { "(did you mean DEEPPINK, HOTPINK, LIGHTPINK?)" } },
        { "unknown format", { "info", "--formats", "mp3,flca", "%" }, cli::kExitUsage,
            { "unknown format \"flca\" (did you mean flac?)" } },
        { "unknown preset: the names there are", { "list", "%", "--preset", "save9" }, cli::kExitFailure,
            { "no preset \"save9\"", "\"save_key_ 0\", \"mine\"" } },
        { "a menu's name for a numbered preset", { "list", "%", "--preset", "read1", "-q" }, cli::kExitOk, {},
            "Success" },
        { "a section's own name wins over the alias", { "list", "%", "--preset", "mine", "-o", "mine.htm" },
            cli::kExitOk, { "Success: " } },
        { "info and list -q still say what cannot be listed", { "list", "-q", "%/none" }, cli::kExitFailure,
            { "cannot read folder" } },
    };
    for (const Exit& e : cases)
        check(e, test::runCli(withFolder(e.args, music.path().string())));
    EXPECT_NE(test::readFile(music.path() / "list.htm").find("<TABLE BORDER=3 "), std::string::npos)
        << "read1 is save_key_ 0";
}

TEST_F(CliExits, AFileThatCannotBeOpenedIsSaidKeptAndCounted)
{
    if (!test::canChangeUsers())
        GTEST_SKIP() << "needs root to drop to a user whom the file's mode refuses";
    const std::string b = music.path() / "b.mp3";
    const Exit cases[] = {
        { "info", { "info", "%" }, cli::kExitFilesUnopened, { b + ": Permission denied" } },
        { "info --json", { "info", "--json", "%" }, cli::kExitFilesUnopened, { b + ": Permission denied" } },
        { "list", { "list", "%" }, cli::kExitFilesUnopened, { b + ": Permission denied", "Success: " } },
        { "list -r -q", { "list", "-r", "-q", "%" }, cli::kExitFilesUnopened, { b + ": Permission denied" },
            "written" },
        { "list -r", { "list", "-r", "%" }, cli::kExitFilesUnopened,
            { "1 list written (3 files), 1 file not opened" } },
    };
    for (const Exit& e : cases) {
        const std::string folder = music.path().string();
        const std::string result = test::runAs(test::kUserA, [&] {
            const test::CliRun r = test::runCli(withFolder(e.args, folder));
            return std::to_string(r.code) + "\n" + r.out + "\f" + r.err;
        });
        const std::size_t newline = result.find('\n'), split = result.find('\f');
        ASSERT_NE(split, std::string::npos) << e.what << ": " << result;
        const test::CliRun r { std::stoi(result.substr(0, newline)),
            result.substr(newline + 1, split - newline - 1), result.substr(split + 1) };
        check(e, r);
        if (e.args.front() == "info") { // the row stays
            EXPECT_NE(r.out.find("b.mp3"), std::string::npos) << e.what << "\n" << r.out;
        }
    }
    const test::CliRun json = test::runCli({ "info", "--json", music.path().string() }); // root opens all
    EXPECT_EQ(json.code, cli::kExitOk) << json.err;
}

TEST(CliExitsOutput, AWriteThatFailsIsSaidAndNotSuccess)
{
    std::ofstream full("/dev/full");
    ASSERT_TRUE(full.is_open());
    std::ostringstream err;
    const int code = cli::runCli({ "info", test::corpusDir().string() }, full, err);
    EXPECT_EQ(code, cli::kExitWriteFailed);
    EXPECT_EQ(err.str(), "melodex-cli: write error: No space left on device\n");

    std::ofstream help("/dev/full");
    std::ostringstream helpErr;
    EXPECT_EQ(cli::runCli({ "list", "--help" }, help, helpErr), cli::kExitWriteFailed) << helpErr.str();
}

} // namespace
