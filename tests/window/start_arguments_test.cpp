// `melodex FOLDER`: the window starts in the folder given, and whatever else
// is given is an error rather than silently dropped.

#include <filesystem>

#include "test_support.h"
#include "window/start_arguments.h"
#include "window_fixture.h"

namespace fs = std::filesystem;

namespace melodex::test {
namespace {

TEST(StartArguments, TakesOneFolderAndRefusesTheRest)
{
    struct Case {
        QStringList args;
        std::string folder;
        bool refused;
    };
    const Case cases[] = {
        { {}, "", false },
        { { "/music" }, "/music", false },
        { { "--", "-dash" }, "-dash", false }, // after "--" a name, not an option
        { { "-" }, "-", false },
        { { "--frobnicate" }, "", true },
        { { "/music", "-x" }, "", true },
        { { "/a", "/b" }, "", true },
        { { "" }, "", true },
    };
    for (const Case& c : cases) {
        const StartArguments got = parseStartArguments(c.args);
        EXPECT_EQ(!got.error.isEmpty(), c.refused) << c.args.join(' ').toStdString();
        if (!c.refused) {
            EXPECT_EQ(got.folder, c.folder) << c.args.join(' ').toStdString();
        }
    }
}

TEST_F(WindowTest, OpensInTheFolderGivenOrTheOneHoldingTheFileGiven)
{
    TempDir music { "melodex-start" };
    music.write("a.mp3", "x");
    const std::string folder = music.path().native();
    for (const std::string& given : { folder, folder + "/a.mp3" }) {
        const StartArguments start = parseStartArguments({ QString::fromStdString(given) });
        ASSERT_TRUE(start.error.isEmpty());
        ASSERT_TRUE(window->openFolder(startFolderOf(start.folder))) << given;
        EXPECT_EQ(window->folderPath(), folder) << given;
        EXPECT_EQ(window->fileNames(), std::vector<std::string> { "a.mp3" }) << given;
        window->openFolder("/");
    }
}

} // namespace
} // namespace melodex::test
