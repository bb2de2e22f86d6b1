// Folder paths: what the folder list and the command line make of the paths
// they are given.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/folder_path.h"

namespace melodex {
namespace {

TEST(FolderPaths, AreNormalAndSplitIntoTheirAncestors)
{
    EXPECT_EQ(normalFolderPath("/a/b/"), "/a/b");
    EXPECT_EQ(normalFolderPath("/a/./b/../c"), "/a/c");
    EXPECT_EQ(normalFolderPath("/"), "/");
    EXPECT_EQ(normalFolderPath("/a/b  "), "/a/b  ");
    EXPECT_EQ(folderChain("/a/b c/d"), (std::vector<std::string> { "/", "/a", "/a/b c", "/a/b c/d" }));
    EXPECT_EQ(folderChain("/"), (std::vector<std::string> { "/" }));
    EXPECT_EQ(folderName("/a/b c"), "b c");
    EXPECT_EQ(listedFolder("/"), "");
    EXPECT_EQ(listedFolder("/a/b/"), "/a/b");
    EXPECT_EQ(shownFolder(""), "/");
}

} // namespace
} // namespace melodex
