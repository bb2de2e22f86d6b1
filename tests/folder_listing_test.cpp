#include "common/folder_listing.h"

#include <algorithm>
#include <filesystem>

#include <gtest/gtest.h>

#include "test_support.h"

using namespace melodex;
using melodex::test::TempDir;

TEST(ListMp3Files, KeepsVisibleMp3FilesInNaturalOrder)
{
    TempDir dir;
    for (const char* name : { "10 x.mp3", "2 x.mp3", "b.MP3", "A.mp3", ".hidden.mp3", "notes.txt",
             "c.mp3.txt", "track02.Mp3", "track1.mp3", ".mp3", "mp3" })
        dir.write(name, "x");
    std::filesystem::create_directory(dir.path() / "folder.mp3");
    std::filesystem::create_symlink(dir.path() / "A.mp3", dir.path() / "link.mp3");
    std::filesystem::create_symlink(dir.path() / "missing", dir.path() / "dangling.mp3");

    const FolderListing listing = listMp3Files(dir.path().string());
    ASSERT_TRUE(listing.ok) << listing.error;
    const std::vector<std::string> expected { "2 x.mp3", "10 x.mp3", "A.mp3", "b.MP3", "link.mp3",
        "track1.mp3", "track02.Mp3" };
    EXPECT_EQ(listing.names, expected);
}

TEST(ListMp3Files, ReportsAFolderThatCannotBeRead)
{
    const FolderListing listing = listMp3Files("/nonexistent/melodex");
    EXPECT_FALSE(listing.ok);
    EXPECT_NE(listing.error.find("/nonexistent/melodex"), std::string::npos);
    EXPECT_TRUE(listing.names.empty());
}

TEST(ListMp3Files, CorpusFolderMatchesItsSummary)
{
    const FolderListing listing = listMp3Files(test::corpusDir().string());
    ASSERT_TRUE(listing.ok) << listing.error;
    EXPECT_EQ(listing.names.size(), 34u);
    EXPECT_EQ(listing.names.front(), "a&b <c>.mp3");
}

TEST(NaturalLess, ComparesDigitRunsAsNumbersAndIgnoresCase)
{
    EXPECT_TRUE(naturalLess("2 x.mp3", "10 x.mp3"));
    EXPECT_FALSE(naturalLess("10 x.mp3", "2 x.mp3"));
    EXPECT_TRUE(naturalLess("a.mp3", "B.mp3"));
    EXPECT_TRUE(naturalLess("track9", "track010"));
    EXPECT_TRUE(naturalLess("a", "ab"));
    // Equal under the rule: the bytes decide, so the order is total.
    EXPECT_NE(naturalLess("A.mp3", "a.mp3"), naturalLess("a.mp3", "A.mp3"));
    EXPECT_NE(naturalLess("01", "1"), naturalLess("1", "01"));
}

TEST(JoinPath, AddsOneSeparator)
{
    EXPECT_EQ(joinPath("", "a.mp3"), "/a.mp3");
    EXPECT_EQ(joinPath("/music", "a.mp3"), "/music/a.mp3");
    EXPECT_EQ(joinPath("/", "a.mp3"), "/a.mp3");
}

TEST(ListSubfolders, KeepsVisibleFoldersAndLinksToThem)
{
    TempDir dir;
    for (const char* name : { "10 b", "2 a", ".hidden", "Zed" })
        std::filesystem::create_directory(dir.path() / name);
    dir.write("file.mp3", "x");
    std::filesystem::create_directory_symlink(dir.path() / "Zed", dir.path() / "link");
    std::filesystem::create_symlink(dir.path() / "file.mp3", dir.path() / "filelink");

    const FolderListing listing = listSubfolders(dir.path().string());
    ASSERT_TRUE(listing.ok) << listing.error;
    const std::vector<std::string> expected { "2 a", "10 b", "link", "Zed" };
    EXPECT_EQ(listing.names, expected);
    EXPECT_FALSE(listSubfolders((dir.path() / "missing").string()).ok);
}

// Sorting a folder must give the order of naturalLess itself, whatever the
// names: digit runs with leading zeros, case, punctuation around digits.
TEST(SortNaturally, AgreesWithNaturalLess)
{
    std::vector<std::string> names
        = { "10 x.mp3", "2 x.mp3", "02 x.mp3", "a.mp3", "B.mp3", "A.mp3", "track010", "track9", "a", "ab",
              "01", "1", "0", "00", "x/1", "x-1", "x:1", "x1a", "x1", "x01b", "ｱ.mp3", "\xff", "9z", "z9",
              "Z9", "z10", "1.5", "1.50", "1.05", "999999999999999999999", "1000000000000000000000" };
    std::vector<std::string> expected = names;
    std::sort(expected.begin(), expected.end(),
        [](const std::string& a, const std::string& b) { return naturalLess(a, b); });
    sortNaturally(names);
    EXPECT_EQ(names, expected);
}
