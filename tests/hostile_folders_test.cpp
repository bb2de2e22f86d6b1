// Folders and users that try to make a run write where it must not: planted
// links, an empty folder argument, folders that refuse the write.

#include <algorithm>
#include <filesystem>
#include <tuple>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "cli/cli.h"
#include "ini_test_support.h"
#include "listgen/list_document.h"
#include "settings/ini_utl.h"
#include "test_support.h"

using namespace melodex;
using melodex::test::kUserA;
using melodex::test::kUserB;
using melodex::test::readFile;
using melodex::test::TempDir;
namespace fs = std::filesystem;

namespace {

constexpr unsigned kRoot = 0;

void own(const fs::path& p, unsigned uid, mode_t mode)
{
    ASSERT_EQ(::lchown(p.c_str(), uid, uid), 0) << p;
    if (!fs::is_symlink(p)) {
        ASSERT_EQ(::chmod(p.c_str(), mode), 0) << p;
    }
}

uid_t ownerOf(const fs::path& p)
{
    struct stat st { };
    ::lstat(p.c_str(), &st);
    return st.st_uid;
}

std::vector<std::string> tree(const fs::path& root)
{
    std::vector<std::string> names;
    for (const auto& e : fs::recursive_directory_iterator(root))
        names.push_back(fs::relative(e.path(), root).string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string writeList(const fs::path& folder)
{
    TrackTag tag {};
    StreamInfo info {};
    const auto reader = [](const std::string&, TrackTag&, StreamInfo&) { return 1; };
    const ListResult r = writeListDocument(OptionSet {}, folder.string(), { "a.mp3" }, tag, info, reader);
    return r.ok() ? "ok" : r.reason;
}

// A's folder "home" with A's music, and folders A cannot write: root's
// "etc" and root's world-writable "shared"; "tmp" is sticky, as /tmp is.
struct Planted {
    TempDir t { "melodex-links" };
    fs::path home = t.path() / "home", etc = t.path() / "etc", shared = t.path() / "shared";

    Planted()
    {
        for (const auto& f : { home, home / "music", etc, etc / "music", shared, t.path() / "tmp" })
            fs::create_directory(f);
        t.write("home/own.htm", "A's page");
        t.write("etc/some.conf", "precious");
        t.write("shared/open.htm", "root's");
        for (const auto& [path, uid, mode] : { std::tuple { t.path(), kRoot, 0755 }, { home, kUserA, 0755 },
                 { home / "music", kUserA, 0755 }, { home / "own.htm", kUserA, 0644 }, { etc, kRoot, 0755 },
                 { etc / "music", kRoot, 0755 }, { etc / "some.conf", kRoot, 0644 }, { shared, kRoot, 0777 },
                 { shared / "open.htm", kRoot, 0666 }, { t.path() / "tmp", kRoot, 01777 } })
            own(path, uid, static_cast<mode_t>(mode));
    }
};

} // namespace

TEST(PlantedLinks, AreFollowedOnlyWhenTheirOwnerOwnsWhereTheyLead)
{
    if (!test::canChangeUsers())
        GTEST_SKIP() << "files of other users need root";
    struct Case {
        const char* what;
        std::string link; // under t, owned by linkOwner
        std::string to; // under t
        unsigned linkOwner, caller;
        std::string listIn; // the folder listed, under t
        std::string written; // the file that receives the page, under t; "" when refused
    };
    const Case cases[] = {
        { "A's list.htm to root's file", "home/list.htm", "etc/some.conf", kUserA, kRoot, "home", "" },
        { "A's list.htm to a new name in root's folder", "home/list.htm", "etc/new.conf", kUserA, kRoot,
            "home", "" },
        { "A's list.htm to A's own file", "home/list.htm", "home/own.htm", kUserA, kRoot, "home",
            "home/own.htm" },
        { "A's list.htm to a new name in A's folder", "home/list.htm", "home/music/new.htm", kUserA, kRoot,
            "home", "home/music/new.htm" },
        { "root's own link", "home/list.htm", "etc/some.conf", kRoot, kRoot, "home", "etc/some.conf" },
        { "A on root's link in A's folder to A's file", "home/list.htm", "home/own.htm", kRoot, kUserA,
            "home", "home/own.htm" },
        { "B on A's link to root's open file", "home/list.htm", "shared/open.htm", kUserA, kUserB, "home",
            "" },
        { "A on A's own link to root's open file", "home/list.htm", "shared/open.htm", kUserA, kUserA, "home",
            "shared/open.htm" },
        { "A's folder link into root's folder", "home/linked", "etc/music", kUserA, kRoot, "home/linked",
            "" },
        { "A's folder link into A's folder", "home/linked", "home/music", kUserA, kRoot, "home/linked",
            "home/music/list.htm" },
        { "B on A's link in a sticky folder", "tmp/list.htm", "home/own.htm", kUserA, kUserB, "tmp", "" },
    };
    for (const auto& c : cases) {
        Planted p;
        const fs::path link = p.t.path() / c.link;
        const fs::path target = p.t.path() / c.to;
        fs::create_symlink(target, link);
        own(link, c.linkOwner, 0);
        const std::vector<std::string> before = tree(p.t.path());
        const bool existed = fs::is_regular_file(target);
        const uid_t targetOwner = existed ? ownerOf(target) : 0;

        const std::string result = test::runAs(c.caller, [&] { return writeList(p.t.path() / c.listIn); });

        if (c.written.empty()) {
            const std::string why = c.listIn == "tmp"
                ? " was placed by another user in a shared folder and is not followed"
                : " is another user's and leads to " + target.string()
                    + ", which is not theirs: it is not followed";
            EXPECT_EQ(
                result, (p.t.path() / c.listIn / "list.htm").string() + ": the link " + link.string() + why)
                << c.what;
            EXPECT_EQ(tree(p.t.path()), before) << c.what << ": nothing may be made";
            EXPECT_EQ(readFile(p.etc / "some.conf"), "precious") << c.what;
            EXPECT_EQ(readFile(p.shared / "open.htm"), "root's") << c.what;
            EXPECT_EQ(readFile(p.home / "own.htm"), "A's page") << c.what;
        } else {
            EXPECT_EQ(result, "ok") << c.what;
            const fs::path written = p.t.path() / c.written;
            EXPECT_EQ(readFile(written).rfind("<HTML>", 0), 0u) << c.what;
            EXPECT_TRUE(fs::is_symlink(link)) << c.what;
            if (existed && c.caller == kRoot) {
                EXPECT_EQ(ownerOf(written), targetOwner) << c.what << ": the file keeps its owner";
            }
        }
    }
}

TEST(PlantedLinks, TheIniFileIsHeldToTheSameRule)
{
    if (!test::canChangeUsers())
        GTEST_SKIP() << "files of other users need root";
    for (const bool theirs : { false, true }) {
        Planted p;
        const fs::path ini = p.home / "melodex.ini";
        const fs::path target = theirs ? p.home / "own.htm" : p.etc / "some.conf";
        fs::create_symlink(target, ini);
        own(ini, kUserA, 0);
        setIniProgram(p.home / "melodex");
        IniError error;
        const bool saved = IniPutString("p", "Title", "x", &error);
        const auto names = IniSectionNames(&error);
        setIniProgram({});
        if (theirs) {
            EXPECT_TRUE(saved) << error.reason;
            EXPECT_EQ(readFile(target), "A's page\r\n\r\n[p]\r\nTitle=x\r\n");
            EXPECT_EQ(ownerOf(target), kUserA);
            continue;
        }
        const std::string refused = "the link " + ini.string() + " is another user's and leads to "
            + target.string() + ", which is not theirs: it is not followed";
        EXPECT_FALSE(saved);
        EXPECT_FALSE(names.has_value()) << "nor read through";
        EXPECT_EQ(error.reason, refused);
        EXPECT_EQ(readFile(target), "precious");
    }
}

TEST(FolderArgument, AnEmptyOneIsABadArgumentNotTheRoot)
{
    // Were "" still "/", the preset nobody saved would stop each list run
    // before it wrote into every folder of the system.
    test::ScopedIniPlace ini;
    const std::vector<std::vector<std::string>> cases = {
        { "info", "" },
        { "info", "--json", "" },
        { "list", "", "--preset", "nosuch" },
        { "list", "", "-r", "--preset", "nosuch" },
    };
    for (const auto& args : cases) {
        const test::CliRun r = test::runCli(args);
        EXPECT_EQ(r.code, cli::kExitUsage) << args.size();
        EXPECT_EQ(r.out, "") << args.size();
        EXPECT_EQ(
            r.err.rfind(
                "melodex-cli: FOLDER: an empty folder name is no folder (for the root, give \"/\")\n", 0),
            0u)
            << r.err;
    }
}

TEST(ReadOnlyFolder, WithAWritableListSaysTheFolderRefuses)
{
    if (!test::canChangeUsers())
        GTEST_SKIP() << "root may write into any folder";
    TempDir dir("melodex-readonly");
    const fs::path list = dir.write("list.htm", "previous");
    own(dir.path(), kRoot, 0755);
    own(list, kUserA, 0644);

    const std::string result = test::runAs(kUserA, [&] { return writeList(dir.path()); });

    EXPECT_EQ(result,
        list.string() + ": the folder " + dir.path().string() + " refuses the write: Permission denied");
    EXPECT_EQ(readFile(list), "previous");
    EXPECT_EQ(tree(dir.path()), std::vector<std::string> { "list.htm" });
}
