// Folders and users that try to make a run write where it must not: planted
// links, an empty folder argument, names a USB stick reads differently, long
// names, folders that refuse the write.

#include <algorithm>
#include <filesystem>

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
using melodex::test::readFile;
using melodex::test::TempDir;
namespace fs = std::filesystem;

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
            r.err.rfind("FOLDER: an empty folder name is no folder (for the root, give \"/\")\n", 0), 0u)
            << r.err;
    }
}
