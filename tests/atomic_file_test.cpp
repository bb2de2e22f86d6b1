#include "common/atomic_file.h"

#include <algorithm>
#include <atomic>
#include <filesystem>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "ini_test_support.h"
#include "listgen/list_document.h"
#include "settings/ini_utl.h"
#include "test_support.h"

using namespace melodex;
using melodex::test::readFile;
using melodex::test::TempDir;

namespace {

std::atomic<int> umaskCalls { 0 };

} // namespace

// Every umask call of this program, the core's included, comes through here:
// setting the umask, even for a moment, changes it for every thread.
extern "C" mode_t umask(mode_t mask) noexcept
{
    ++umaskCalls;
    return static_cast<mode_t>(::syscall(SYS_umask, mask));
}

namespace {

std::vector<std::string> entries(const std::filesystem::path& dir)
{
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

bool unnamedFilesWork(const std::filesystem::path& dir)
{
    const int fd = ::open(dir.c_str(), O_TMPFILE | O_WRONLY, 0600);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

mode_t modeOf(const std::filesystem::path& p)
{
    struct stat st { };
    ::stat(p.c_str(), &st);
    return st.st_mode & 07777;
}

} // namespace

TEST(AtomicFile, TheTemporaryNeverOutlivesTheWriter)
{
    for (const bool unnamed : { true, false }) {
        TempDir dir("melodex-atomic");
        const auto target = dir.write("t.htm", "old");
        AtomicFile::Options options;
        options.unnamed = unnamed;
        {
            AtomicFile file(target.string(), options);
            ASSERT_TRUE(file.open()) << file.error();
            ASSERT_TRUE(file.write("new"));
            const auto during = entries(dir.path());
            if (unnamed && unnamedFilesWork(dir.path())) {
                EXPECT_EQ(during, std::vector<std::string> { "t.htm" })
                    << "nothing for a kill to leave behind";
            } else {
                ASSERT_EQ(during.size(), 2u);
                EXPECT_EQ(during[0].rfind(".t.htm.", 0), 0u);
            }
        } // dropped: cancelled
        EXPECT_EQ(entries(dir.path()), std::vector<std::string> { "t.htm" }) << unnamed;
        EXPECT_EQ(readFile(target), "old");

        AtomicFile file(target.string(), options);
        ASSERT_TRUE(file.open() && file.write("new") && file.commit()) << file.error();
        EXPECT_EQ(entries(dir.path()), std::vector<std::string> { "t.htm" }) << unnamed;
        EXPECT_EQ(readFile(target), "new");
    }
}

TEST(AtomicFile, RemovesOnlyItsOwnDeadTemporaries)
{
    TempDir dir("melodex-atomic");
    struct Leftover {
        const char* name;
        const char* bytes;
        bool removed;
    };
    const Leftover leftovers[] = {
        { ".t.htm.Ab12Cd", "<SIG>half a page", true }, // a killed run's
        { ".t.htm.zz99ZZ", "", true }, // killed before its first write
        { ".t.htm.backup", "the user's own", false }, // the pattern, not our contents
        { ".t.htm.Qq11Qq", "<SIG>live", false }, // a run still writing: locked
        { ".t.htm.Ab12C", "<SIG>", false }, // not the pattern
        { ".u.htm.Ab12Cd", "<SIG>", false }, // another target's
    };
    for (const auto& l : leftovers)
        dir.write(l.name, l.bytes);
    const int live = ::open((dir.path() / ".t.htm.Qq11Qq").c_str(), O_RDONLY);
    ASSERT_EQ(::flock(live, LOCK_EX), 0);

    AtomicFile::Options options;
    options.staleSignature = "<SIG>";
    std::string error;
    ASSERT_TRUE(replaceFileAtomically((dir.path() / "t.htm").string(), "page", &error, options)) << error;
    ::close(live);

    std::vector<std::string> expected { "t.htm" };
    for (const auto& l : leftovers) {
        if (!l.removed)
            expected.emplace_back(l.name);
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(entries(dir.path()), expected);
}

TEST(AtomicFile, NewFilesTakeTheUmaskWithoutAnyoneSettingIt)
{
    test::ScopedIniPlace ini;
    TempDir dir("melodex-atomic");
    dir.write("a.mp3", "x");
    const mode_t saved = ::umask(027);
    umaskCalls = 0;

    TrackTag tag {};
    StreamInfo info {};
    const auto reader = [](const std::string&, TrackTag&, StreamInfo&) { return 1; };
    const ListResult list
        = writeListDocument(OptionSet {}, dir.path().string(), { "a.mp3" }, tag, info, reader);
    const bool saved_ini = IniPutString("p", "Title", "x");
    const int calls = umaskCalls;
    ::umask(saved);

    ASSERT_TRUE(list.ok()) << list.reason;
    ASSERT_TRUE(saved_ini);
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(modeOf(dir.path() / "list.htm"), 0640u);
    EXPECT_EQ(modeOf(ini.iniPath()), 0640u);
}

TEST(AtomicFile, CutsALongNameForItsTemporaryBetweenCharacters)
{
    // ".<name>." and six characters must fit in 255 bytes: the name is cut
    // to 247 bytes, less what would split a character.
    const auto times = [](const std::string& s, int n) {
        std::string out;
        for (int i = 0; i < n; ++i)
            out += s;
        return out;
    };
    struct Case {
        std::string name;
        std::string kept; // of the name, in the temporary's name
    };
    const Case cases[] = {
        { times("a", 251) + ".htm", times("a", 247) },
        { times("あ", 83) + ".htm", times("あ", 82) }, // 247 would take one byte of the 83rd
        { times("é", 125) + ".htm", times("é", 123) },
        { times("🎵", 62) + ".htm", times("🎵", 61) },
        { "short.htm", "short.htm" },
    };
    for (const auto& c : cases) {
        TempDir dir("melodex-long");
        AtomicFile::Options options;
        options.unnamed = false;
        AtomicFile file((dir.path() / c.name).string(), options);
        ASSERT_TRUE(file.open()) << file.error();
        const std::vector<std::string> names = entries(dir.path());
        ASSERT_EQ(names.size(), 1u);
        EXPECT_EQ(names[0].substr(0, names[0].size() - 6), "." + c.kept + ".") << c.name.size();
    }
}
