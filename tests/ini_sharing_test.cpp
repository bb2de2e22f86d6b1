// The INI file among several programs and editors: readers that never wait,
// saves that wait for each other and can be cancelled, the leftovers of a
// killed save, and a file Notepad saved as UTF-16.

#include <atomic>
#include <filesystem>
#include <utility>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "cli/cli.h"
#include "ini_test_support.h"
#include "settings/ini_utl.h"
#include "settings/option_set_store.h"
#include "test_support.h"

using namespace melodex;
using melodex::test::IniFileTest;
using melodex::test::readFile;
namespace fs = std::filesystem;

namespace {

std::atomic<int> flockCalls { 0 };

} // namespace

// Every flock of this program comes through here, so a test sees whether a
// reader so much as tries to take a lock.
extern "C" int flock(int fd, int operation) noexcept
{
    ++flockCalls;
    return static_cast<int>(::syscall(SYS_flock, fd, operation));
}

namespace {

// Another program in the middle of a save: it holds the file's lock until
// the descriptor is closed.
int holdLock(const fs::path& file)
{
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    EXPECT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    return fd;
}

} // namespace

using IniReaders = IniFileTest;
using IniSave = IniFileTest;

TEST_F(IniReaders, TakeNoLockAndSucceedWhileASaveHoldsIt)
{
    writeIni("[p]\r\nTitle=jazz\r\n[save_key_ 0]\r\nOutFile=x.htm\r\n");
    const int other = holdLock(iniPath());
    flockCalls = 0;

    EXPECT_EQ(IniSectionNames(), (std::vector<std::string> { "p", "save_key_ 0" }));
    EXPECT_EQ(IniGetString("p", "Title", ""), "jazz");
    EXPECT_EQ(readPreset("save_key_ 0").options->outFile, "x.htm");
    const test::CliRun presets = test::runCli({ "presets" });
    EXPECT_EQ(presets.out, "p\nsave_key_ 0\n");
    EXPECT_EQ(flockCalls, 0);
    ::close(other);
}

TEST_F(IniSave, WaitsForAnotherProgramAndCanBeCancelled)
{
    const std::string before = "[p]\r\nTitle=jazz\r\n";
    struct Case {
        int answersBeforeCancel; // the hook's "go on" answers; -1: never cancels
        bool releaseOnThirdCall; // the other program finishes meanwhile
        bool saved;
    };
    const Case cases[] = { { 0, false, false }, { 2, false, false }, { -1, true, true } };
    for (const auto& c : cases) {
        writeIni(before);
        int other = holdLock(iniPath());
        std::vector<std::chrono::milliseconds> waits;
        const LockWait wait = [&](std::chrono::milliseconds waited) {
            waits.push_back(waited);
            if (c.releaseOnThirdCall && waits.size() == 3)
                ::close(std::exchange(other, -1));
            return c.answersBeforeCancel < 0 || static_cast<int>(waits.size()) <= c.answersBeforeCancel;
        };
        IniError error;
        const bool saved = IniPutSection("p", { { "Title", "rock" } }, &error, wait);

        EXPECT_EQ(saved, c.saved) << error.reason;
        EXPECT_EQ(waits.size(), c.saved ? 3u : static_cast<std::size_t>(c.answersBeforeCancel) + 1);
        EXPECT_TRUE(std::is_sorted(waits.begin(), waits.end()));
        if (c.saved) {
            EXPECT_EQ(iniBytes(), "[p]\r\nTitle=rock\r\n");
        } else {
            EXPECT_EQ(error.reason, "not saved: cancelled while another program held the file");
            EXPECT_EQ(iniBytes(), before);
        }
        if (other >= 0)
            ::close(other);
    }
}

TEST_F(IniSave, RemovesTheTemporariesOfAKilledSaveAndNothingElse)
{
    // Where the file system has no unnamed files, a save killed midway
    // leaves ".melodex.ini.XXXXXX"; the last two characters check the four
    // before them ("Ab12" gives "Ll"), which a user's own name rarely does.
    writeIni("[p]\r\nk=1\r\n");
    struct Leftover {
        const char* name;
        bool removed;
    };
    const Leftover leftovers[] = {
        { ".melodex.ini.Ab12Ll", true }, // a killed save's
        { ".melodex.ini.zz99x5", true },
        { ".melodex.ini.backup", false }, // the user's copy
        { ".melodex.ini.Qq11Ng", false }, // a live save's: locked
        { ".melodex.ini.Ab12Lm", false }, // the check fails
        { ".other.ini.Ab12Ll", false },
    };
    for (const auto& l : leftovers)
        dir_.write(l.name, "[p]\r\nk=0\r\n");
    const int live = ::open((dir_.path() / ".melodex.ini.Qq11Ng").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(live, LOCK_EX), 0);

    ASSERT_TRUE(IniPutString("p", "k", "2"));
    ::close(live);

    for (const auto& l : leftovers)
        EXPECT_EQ(fs::exists(dir_.path() / l.name), !l.removed) << l.name;
    EXPECT_EQ(iniBytes(), "[p]\r\nk=2\r\n");
}

namespace {

// Test bytes in UTF-16, little or big endian, BOM first.
std::string utf16(std::u16string_view text, bool bigEndian)
{
    std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (const char16_t u : text) {
        const auto high = static_cast<char>(u >> 8);
        const auto low = static_cast<char>(u & 0xFF);
        out += bigEndian ? high : low;
        out += bigEndian ? low : high;
    }
    return out;
}

} // namespace

TEST_F(IniFileTest, Utf16FilesAreReadAndWrittenBackAsUtf16)
{
    for (const bool bigEndian : { false, true }) {
        // "−" (U+2212) and "𝄞" (a surrogate pair) are no CP932 characters;
        // every line a save does not set comes back as it was, and a value
        // saved is written as into a CP932 file.
        writeIni(
            utf16(u"; Notepad\r\n[ジャズ]\r\nTitle=a−b 𝄞\r\nOutFile=&#8722;.htm\r\nBorder=1\r\n", bigEndian));

        EXPECT_EQ(IniSectionNames(), (std::vector<std::string> { "ジャズ" })) << bigEndian;
        EXPECT_EQ(IniGetString("ジャズ", "Title", ""), "a−b 𝄞") << bigEndian;
        EXPECT_EQ(IniGetString("ジャズ", "OutFile", ""), "−.htm") << bigEndian;

        ASSERT_TRUE(IniPutString("ジャズ", "Border", "x&y−")) << bigEndian;
        ASSERT_TRUE(IniPutString("new", "FileSize", " 1")) << bigEndian;
        EXPECT_EQ(iniBytes(),
            utf16(u"; Notepad\r\n[ジャズ]\r\nTitle=a−b 𝄞\r\nOutFile=&#8722;.htm\r\nBorder=x&amp;y&#8722;\r\n"
                  u"\r\n[new]\r\nFileSize= 1\r\n",
                bigEndian))
            << bigEndian;
        EXPECT_EQ(IniGetString("ジャズ", "Border", ""), "x&y−") << bigEndian;

        // 127 bytes as CP932 holds the text, whatever the file's own encoding:
        // nineteen "−" are 133 bytes of "&#8722;", 38 of UTF-16.
        OptionSet options;
        options.title = "";
        for (int i = 0; i < 19; ++i)
            options.title += "−";
        IniError error;
        EXPECT_FALSE(writeOptionSet("long", options, &error)) << bigEndian;
        EXPECT_EQ(error.reason, "Title is too long to be stored (133 bytes in the file, at most 127)");
    }
}
