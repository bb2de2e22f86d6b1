#include "cli/cli_list.h"

#include <csignal>
#include <filesystem>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "cli/cli.h"
#include "common/folder_listing.h"
#include "ini_test_support.h"
#include "listgen/list_document.h"
#include "test_support.h"

using namespace melodex;
using melodex::test::readFile;
using melodex::test::TempDir;

namespace {

using melodex::test::CliRun;

CliRun list(std::vector<std::string> args)
{
    args.insert(args.begin(), "list");
    return test::runCli(args);
}

} // namespace

TEST(ApplyListOptions, SetsWhatWasGivenAndNothingElse)
{
    cli::ListOptions given;
    given.columns = "File, TIME,none";
    given.colors = "black,Yellow,white,DEEPPINK";
    given.border = 0;
    given.unit = "MB";
    given.title = "Jazz";
    OptionSet set;
    ASSERT_EQ(cli::applyListOptions(given, set), std::nullopt);
    EXPECT_EQ(set.enabledColumns, 3);
    EXPECT_EQ(set.enabledText, "3");
    EXPECT_EQ((std::array<int, 3> { set.columns[0], set.columns[1], set.columns[2] }),
        (std::array<int, 3> { 0, 8, 11 }));
    EXPECT_EQ(set.columns[3], 3) << "columns past the count keep their value";
    EXPECT_EQ(set.colorIndex, (std::array<int, 4> { 0, 29, 28, 9 }));
    EXPECT_EQ(set.colorText, (std::array<std::string, 4> { "BLACK", "YELLOW", "WHITE", "DEEPPINK" }));
    EXPECT_EQ(set.borderText, "0");
    EXPECT_EQ(set.sizeUnit, kSizeMB);
    EXPECT_EQ(set.title, "Jazz");
    EXPECT_EQ(set.outFile, "list.htm");

    OptionSet untouched;
    EXPECT_EQ(cli::applyListOptions({}, untouched), std::nullopt);
    EXPECT_EQ(untouched, OptionSet {});
}

TEST(ApplyListOptions, TheModernStyleTakesItsOwnFieldsAndGrouping)
{
    OptionSet set;
    ASSERT_EQ(cli::applyListOptions(
                  { .columns = "tracknumber,albumartist,file", .style = "Modern", .group = "album" }, set),
        std::nullopt);
    EXPECT_EQ(set.style, PageStyle::Modern);
    EXPECT_EQ(set.grouping, PageGrouping::Album);
    EXPECT_EQ((std::array<int, 3> { set.columns[0], set.columns[1], set.columns[2] }),
        (std::array<int, 3> { 12, 13, 0 }));
}

TEST(ApplyListOptions, RejectsWhatTheWindowCouldNotHold)
{
    struct Case {
        cli::ListOptions given;
        const char* error;
    };
    const Case cases[] = {
        { { .columns = "file,artists" }, "--columns: unknown field \"artists\"" },
        { { .columns = "" }, "--columns: at least one column" },
        { { .columns = "file,file,file,file,file,file,file,file,file,file,file,file" },
            "--columns: at most 11" },
        { { .colors = "red,green,blue" }, "--colors: four colours are needed" },
        { { .colors = "red,green,blue,mauve" }, "--colors: \"mauve\" is not a palette colour" },
        { { .border = 16 }, "--border: 0 to 15, not 16" },
        { { .unit = "gb" }, "--unit: byte, kb or mb" },
        { { .columns = "file,tracknumber" }, "--columns: \"tracknumber\" is shown by the modern page only" },
        { { .columns = "albumartist", .style = "classic" },
            "--columns: \"albumartist\" is shown by the modern" },
        { { .group = "album" }, "--group: only the modern page groups" },
        { { .style = "fancy" }, "--style: classic or modern" },
        { { .style = "modern", .group = "artist" }, "--group: album, not \"artist\"" },
    };
    for (const auto& c : cases) {
        OptionSet set;
        const auto error = cli::applyListOptions(c.given, set);
        ASSERT_TRUE(error.has_value()) << c.error;
        EXPECT_EQ(error->rfind(c.error, 0), 0u) << *error;
        EXPECT_EQ(set, OptionSet {}) << "a rejected option changes nothing";
    }
}

TEST(CliList, WritesWhatTheWriterWritesForTheSameOptionSet)
{
    TempDir dir("melodex-cli-list");
    for (const char* name : { "cbr128_44k_stereo.mp3", "a&b <c>.mp3", "Café – Ω.mp3" })
        std::filesystem::copy_file(test::corpusDir() / name, dir.path() / name);
    const CliRun r = list({ dir.path().string() + "/", "--title", "Björk <live>", "--columns",
        "file,size,time,none", "--colors", "lavender,khaki,darkblue,hotpink", "--border", "3", "--unit", "kb",
        "--output", "cat.htm" });
    ASSERT_EQ(r.code, cli::kExitOk) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("Success: " + (dir.path() / "cat.htm").string() + " (3 files)"), std::string::npos)
        << r.err;

    OptionSet set;
    set.title = "Björk <live>";
    set.columns = { 0, 7, 8, 11, 4, 5, 6, 7, 8, 9, 10 };
    set.enabledColumns = 4;
    set.enabledText = "4";
    set.colorIndex = { 16, 15, 3, 14 };
    set.colorText = { "LAVENDER", "KHAKI", "DARKBLUE", "HOTPINK" };
    set.border = 3;
    set.borderText = "3";
    set.sizeUnit = kSizeKB;
    set.outFile = "expected.htm";
    TrackTag tag {};
    StreamInfo info {};
    ASSERT_TRUE(
        writeListDocument(set, dir.path().string(), listMp3Files(dir.path().string()).names, tag, info).ok());
    EXPECT_EQ(readFile(dir.path() / "cat.htm"), readFile(dir.path() / "expected.htm"));
}

TEST(CliList, ExitCodesTellFailuresApart)
{
    TempDir dir("melodex-cli-list");
    dir.write("x.mp3", "not audio");
    std::filesystem::create_directory(dir.path() / "empty");
    std::filesystem::create_directory(dir.path() / "taken.htm");

    CliRun r = list({ (dir.path() / "empty").string() });
    EXPECT_EQ(r.code, cli::kExitNoMp3Files);
    EXPECT_EQ(r.err, "melodex-cli: no MP3 files in " + (dir.path() / "empty").string() + "\n");

    r = list({ (dir.path() / "missing").string() });
    EXPECT_EQ(r.code, cli::kExitFailure);
    EXPECT_NE(r.err.find("No such file or directory"), std::string::npos) << r.err;

    r = list({ dir.path().string(), "--unit", "gb" });
    EXPECT_EQ(r.code, cli::kExitUsage);
    r = list({ dir.path().string(), "--border", "x" });
    EXPECT_EQ(r.code, cli::kExitUsage);

    r = list({ dir.path().string(), "--output", "taken.htm" });
    EXPECT_EQ(r.code, cli::kExitWriteFailed);
    EXPECT_EQ(
        r.err.rfind("melodex-cli: file i/o error: " + (dir.path() / "taken.htm").string() + ": ", 0), 0u)
        << r.err;
}

TEST(CliList, RecursiveWritesWhereverMp3FilesAre)
{
    TempDir dir("melodex-cli-list");
    namespace fs = std::filesystem;
    for (const char* sub : { "a", "a/b", "empty", ".hidden" })
        fs::create_directories(dir.path() / sub);
    dir.write("top.mp3", "x");
    dir.write("a/b/one.MP3", "x");
    dir.write("a/b/two.mp3", "x");
    dir.write(".hidden/three.mp3", "x");

    const CliRun r = list({ dir.path().string(), "--recursive" });
    EXPECT_EQ(r.code, cli::kExitOk) << r.err;
    EXPECT_TRUE(fs::exists(dir.path() / "list.htm"));
    EXPECT_TRUE(fs::exists(dir.path() / "a/b/list.htm"));
    EXPECT_FALSE(fs::exists(dir.path() / "a/list.htm"));
    EXPECT_FALSE(fs::exists(dir.path() / "empty/list.htm"));
    EXPECT_FALSE(fs::exists(dir.path() / ".hidden/list.htm"));
    EXPECT_NE(r.err.find("2 lists written (3 files)\n"), std::string::npos) << r.err;

    TempDir none("melodex-cli-list");
    EXPECT_EQ(list({ none.path().string(), "-r" }).code, cli::kExitNoMp3Files);
}

TEST(CliList, OutputNameMustStayInTheFolder)
{
    TempDir root("melodex-cli-list");
    const auto music = root.path() / "music";
    std::filesystem::create_directories(music / "sub");
    root.write("music/a.mp3", "track");
    root.write("victim.txt", "precious");
    const auto unchanged = [&](const std::string& what) {
        std::vector<std::string> tree;
        for (const auto& e : std::filesystem::recursive_directory_iterator(root.path()))
            tree.push_back(std::filesystem::relative(e.path(), root.path()).string());
        std::sort(tree.begin(), tree.end());
        const std::vector<std::string> expected { "music", "music/a.mp3", "music/sub", "victim.txt" };
        EXPECT_EQ(tree, expected) << what;
        EXPECT_EQ(readFile(music / "a.mp3"), "track") << what;
        EXPECT_EQ(readFile(root.path() / "victim.txt"), "precious") << what;
    };

    for (const char* name : { "../escape.htm", "sub/x.htm", "a.mp3", "A.MP3", ".." }) {
        const CliRun r = list({ music.string(), "-o", name });
        EXPECT_EQ(r.code, cli::kExitUsage) << name;
        EXPECT_EQ(r.err, "melodex-cli: --output: " + checkOutputName(name).value_or("?") + "\n") << name;
        unchanged(name);
    }

    // A preset file copied in from elsewhere gets no further than --output.
    test::ScopedIniPlace ini;
    ini.writeIni("[p]\r\nOutFile=../victim.txt\r\n");
    CliRun r = list({ music.string(), "--preset", "p" });
    EXPECT_NE(r.code, cli::kExitOk);
    EXPECT_EQ(
        r.err, "melodex-cli: --preset p: OutFile: " + checkOutputName("../victim.txt").value_or("?") + "\n");
    unchanged("preset");
    // --output wins over the preset's value, so the preset is usable with it.
    r = list({ music.string(), "--preset", "p", "-o", "ok.htm" });
    EXPECT_EQ(r.code, cli::kExitOk) << r.err;
    EXPECT_TRUE(std::filesystem::exists(music / "ok.htm"));
}

namespace {

// Whether the child holds the list's temporary open: an unnamed one reads
// "<dir>/#<inode> (deleted)", a named one "<dir>/.list.htm.XXXXXX". After the
// rename it reads "<dir>/list.htm" and the run can no longer be stopped.
bool writingTemporary(pid_t pid, const std::string& dir)
{
    std::error_code ec;
    const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
    for (std::filesystem::directory_iterator it(fds, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code linkEc;
        const std::string target = std::filesystem::read_symlink(it->path(), linkEc).string();
        if (target.starts_with(dir + "/#") || target.starts_with(dir + "/.list.htm."))
            return true;
    }
    return false;
}

std::vector<std::string> temporaries(const std::filesystem::path& dir)
{
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
        const std::string name = e.path().filename().string();
        if (name.starts_with(".list.htm."))
            names.push_back(name);
    }
    return names;
}

} // namespace

TEST(CliList, TermHupAndKillMidWriteKeepThePreviousList)
{
    TempDir dir("melodex-cli-signal");
    for (int i = 0; i < 3000; ++i)
        dir.write(std::to_string(i) + ".mp3", "x");
    const std::string folder = dir.path().string();
    const std::string previous = "the previous list\r\n";
    const int probe = ::open(folder.c_str(), O_TMPFILE | O_WRONLY, 0600);
    const bool unnamedFiles = probe >= 0;
    if (probe >= 0)
        ::close(probe);

    for (const int sig : { SIGTERM, SIGHUP, SIGKILL }) {
        bool checked = false;
        // A child stopped while it holds the temporary is surely mid-write;
        // one that finished before it could be caught is simply run again.
        for (int attempt = 0; attempt < 5 && !checked; ++attempt) {
            dir.write("list.htm", previous);
            const pid_t pid = ::fork();
            ASSERT_GE(pid, 0);
            if (pid == 0) {
                std::ostringstream out, err;
                ::_exit(cli::runCli({ "list", folder }, out, err));
            }
            int status = 0;
            bool signalled = false;
            while (::waitpid(pid, &status, WNOHANG) == 0) {
                if (!writingTemporary(pid, folder)) {
                    std::this_thread::sleep_for(std::chrono::microseconds(200));
                    continue;
                }
                ::kill(pid, SIGSTOP);
                ::waitpid(pid, &status, WUNTRACED);
                if (WIFSTOPPED(status) && writingTemporary(pid, folder)) {
                    ::kill(pid, sig);
                    signalled = true;
                }
                ::kill(pid, SIGCONT);
                ::waitpid(pid, &status, 0);
                break;
            }
            if (!signalled || (WIFEXITED(status) && WEXITSTATUS(status) == cli::kExitOk))
                continue; // it was past its last look at the signal
            if (sig == SIGKILL) {
                EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
            } else {
                ASSERT_TRUE(WIFEXITED(status)) << strsignal(sig) << " must be handled";
                EXPECT_EQ(WEXITSTATUS(status), cli::kExitFailure) << strsignal(sig) << ": as for Ctrl-C";
            }
            EXPECT_EQ(readFile(dir.path() / "list.htm"), previous) << strsignal(sig);
            if (sig == SIGKILL && !unnamedFiles) {
                // Nothing survives a kill but a named temporary; the next run removes it.
                ASSERT_EQ(list({ folder }).code, cli::kExitOk);
            }
            EXPECT_EQ(temporaries(dir.path()), std::vector<std::string> {}) << strsignal(sig);
            checked = true;
        }
        EXPECT_TRUE(checked) << strsignal(sig) << ": every run finished before it could be stopped";
    }
}
