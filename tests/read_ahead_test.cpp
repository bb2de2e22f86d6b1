#include "trackinfo/read_ahead.h"

#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "test_support.h"

using namespace melodex;

namespace {

// Waits until the count stops below `limit` or reaches it.
std::size_t settle(const ReadAhead& ahead, std::size_t limit)
{
    for (int i = 0; i < 200 && ahead.fetched() < limit; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return ahead.fetched();
}

} // namespace

// It keeps its distance: never more than `depth` files past the reader, all
// of them once the reader gets there, and missing or odd entries (a folder,
// a vanished file) are passed over.
TEST(ReadAhead, StaysWithinItsDepthAndReachesTheEnd)
{
    test::TempDir dir;
    std::vector<std::string> names;
    for (int i = 0; i < 20; ++i) {
        names.push_back("f" + std::to_string(i) + ".mp3");
        dir.write(names.back(), std::string(100000, 'x'));
    }
    names.push_back("missing.mp3");
    std::filesystem::create_directory(dir.path() / "folder.mp3");
    names.push_back("folder.mp3");

    ReadAhead ahead(dir.path().string(), names, 4);
    EXPECT_EQ(settle(ahead, 4), 4u);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(ahead.fetched(), 4u);
    ahead.reached(10);
    EXPECT_EQ(settle(ahead, 14), 14u);
    ahead.reached(names.size() - 1);
    EXPECT_EQ(settle(ahead, names.size()), names.size());
}

// A reader that stops early (cancel, an error) does not wait for the thread
// to go through the rest of the folder; a hang here fails by the test's time limit.
TEST(ReadAhead, StopsWhenTheReaderStops)
{
    test::TempDir dir;
    std::vector<std::string> names(1000, "none.mp3");
    ReadAhead ahead(dir.path().string(), names, 2);
    ahead.reached(1);
    EXPECT_LE(settle(ahead, 3), 3u);
}

// A folder loop sees every name once, in order, with its own index, past the
// thread's depth.
TEST(FolderWalk, VisitsEveryFileInOrder)
{
    test::TempDir dir;
    std::vector<std::string> names;
    for (int i = 0; i < 40; ++i) {
        names.push_back("f" + std::to_string(i) + ".mp3");
        dir.write(names.back(), "x");
    }
    std::vector<std::string> seen;
    for (const auto& [i, name] : FolderWalk(dir.path().string(), names)) {
        EXPECT_EQ(i, seen.size());
        seen.push_back(name);
    }
    EXPECT_EQ(seen, names);
}
