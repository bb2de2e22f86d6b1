#include "trackinfo/buffered_stream.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

using melodex::BufferedStream;
using melodex::test::TempDir;

std::string randomBytes(std::size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (char& c : s)
        c = static_cast<char>(rng());
    return s;
}

// An ID3v2.3 header claiming a tag body of `body` bytes (synchsafe size).
std::string id3Header(unsigned long body)
{
    std::string h = "ID3";
    h += '\x03';
    h += '\0';
    h += '\0';
    h += static_cast<char>((body >> 21) & 0x7f);
    h += static_cast<char>((body >> 14) & 0x7f);
    h += static_cast<char>((body >> 7) & 0x7f);
    h += static_cast<char>(body & 0x7f);
    return h;
}

// Reads at random offsets and of random lengths (before the start, past the
// end, empty and oversized ones included) must copy exactly the file's bytes.
void expectTheFilesBytes(const std::filesystem::path& path, unsigned seed)
{
    SCOPED_TRACE(path.filename().string());
    const std::string bytes = melodex::test::readFile(path);
    BufferedStream s(path.c_str());
    ASSERT_TRUE(s.isOpen());
    ASSERT_EQ(s.size(), static_cast<long>(bytes.size()));
    const long size = s.size();

    std::mt19937 rng(seed);
    auto pick = [&](long lo, long hi) { return std::uniform_int_distribution<long>(lo, hi)(rng); };
    std::string out;
    for (int step = 0; step < 400; ++step) {
        const long offset = pick(0, 9) == 0 ? pick(-100, -1) : pick(0, size + 100);
        const long roll = pick(0, 9);
        const std::size_t n = roll == 0 ? 0
            : roll == 1                 ? static_cast<std::size_t>(size) + 10000
            : roll == 2                 ? static_cast<std::size_t>(pick(4096, 70000))
                                        : static_cast<std::size_t>(pick(1, 2048));
        out.assign(n, '\0');
        const std::size_t got = s.readAt(offset, out.data(), n);
        const std::string want = offset < 0 || offset >= size
            ? std::string()
            : bytes.substr(static_cast<std::size_t>(offset), n);
        ASSERT_EQ(out.substr(0, got), want) << "step " << step << ", " << n << " bytes at " << offset;
    }
}

TEST(BufferedStream, ReadsTheFilesBytes)
{
    TempDir dir;
    struct Case {
        const char* name;
        std::string bytes;
    };
    const std::vector<Case> cases = {
        { "empty.mp3", "" },
        { "one_byte.mp3", "x" },
        { "smaller_than_buffers.mp3", randomBytes(700, 1) },
        { "head_and_tail_touch.mp3", randomBytes(24 * 1024 + 20 * 1024, 2) },
        { "gap_between_head_and_tail.mp3", randomBytes(90'000, 3) },
        { "tag_larger_than_head.mp3", id3Header(200'000) + randomBytes(260'000, 4) },
        { "tag_claims_more_than_file.mp3", id3Header(0x0fffffff) + randomBytes(40'000, 5) },
        { "tag_larger_than_any_buffer.mp3", id3Header(1'500'000) + randomBytes(1'600'000, 6) },
        { "bad_synchsafe_size.mp3", "ID3\x03\x00\x00\xff\xff\xff\xff" + randomBytes(30'000, 7) },
    };
    unsigned seed = 100;
    for (const Case& c : cases)
        expectTheFilesBytes(dir.write(c.name, c.bytes), seed++);
    for (const auto& entry : std::filesystem::recursive_directory_iterator(melodex::test::corpusDir()))
        if (entry.is_regular_file() && entry.path().extension() != ".py")
            expectTheFilesBytes(entry.path(), seed++);
}

// A view must show the file's own bytes wherever it falls: in the head, the
// tail, across their edges, in a gap (a window is loaded), at the very end.
TEST(BufferedStream, ViewsShowTheFilesBytes)
{
    TempDir dir;
    const std::string bytes = randomBytes(100'000, 21);
    const auto path = dir.write("gap.mp3", bytes);
    const long size = static_cast<long>(bytes.size());
    struct Case {
        long offset;
        std::size_t minBytes, maxBytes;
    };
    const std::vector<Case> cases = {
        { 0, 10, 10 },
        { 0, 4, 1'000'000 }, // as much as is at hand
        { 4000, 200, 200 }, // past the end of the head
        { 50'000, 4, 4 }, // in the gap
        { 50'000, 4, 100'000 }, // the window just loaded
        { 50'100, 9000, 9000 }, // more than a window
        { size - 128, 3, 3 }, // the tail
        { size - 10, 4, 100 }, // fewer left than asked
        { size - 5000, 5000, 5000 }, // across the start of the tail
        { size, 4, 4 },
        { -1, 4, 4 },
    };
    BufferedStream s(path.c_str());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.offset);
        const auto v = s.view(c.offset, c.minBytes, c.maxBytes);
        const std::size_t left = c.offset < 0 ? 0 : static_cast<std::size_t>(std::max(0L, size - c.offset));
        EXPECT_GE(v.size(), std::min(c.minBytes, left));
        EXPECT_LE(v.size(), std::min(std::max(c.minBytes, c.maxBytes), left));
        if (!v.empty()) {
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(v.data()), v.size()),
                bytes.substr(static_cast<std::size_t>(c.offset), v.size()));
        }
    }
    // Reads keep working around views, and a view after them still holds the bytes.
    std::string copied(16, '\0');
    EXPECT_EQ(s.readAt(50'000, copied.data(), 16), 16u);
    EXPECT_EQ(copied, bytes.substr(50'000, 16));
    const auto v = s.view(70'000, 64, 64);
    ASSERT_EQ(v.size(), 64u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(v.data()), 64), bytes.substr(70'000, 64));

    // A walk reads on in large pieces, from the head, the rest read at once,
    // or a fresh stream whose tail was never read.
    auto walked = [&](BufferedStream& stream, long from) {
        std::string seen;
        for (long at = from; at < size;) {
            const auto piece = stream.scan(at, static_cast<std::size_t>(size - at));
            if (piece.empty())
                break;
            seen.append(reinterpret_cast<const char*>(piece.data()), piece.size());
            at += static_cast<long>(piece.size());
        }
        return seen;
    };
    s.readRest(100);
    EXPECT_EQ(walked(s, 100), bytes.substr(100));
    BufferedStream fresh(path.c_str());
    EXPECT_EQ(walked(fresh, 30'000), bytes.substr(30'000));
    std::string tail(128, '\0');
    EXPECT_EQ(fresh.readAt(size - 128, tail.data(), 128), 128u);
    EXPECT_EQ(tail, bytes.substr(static_cast<std::size_t>(size - 128)));
}

// A look far into a file gets exactly the file's bytes, or nothing where the
// kernel would have to wait for the disk (or cannot say); never a short or
// stale piece, and nothing outside the file.
TEST(BufferedStream, PeekGivesTheFilesBytesOrNothing)
{
    TempDir dir;
    const std::string bytes = randomBytes(300'000, 9);
    const auto path = dir.write("peek.mp3", bytes);
    BufferedStream s(path.c_str());
    struct Case {
        long offset;
        std::size_t n;
        bool inside;
    };
    const Case cases[] = {
        { 10, 100, true }, // in the head, read when the stream opened
        { 150'000, 900, true },
        { 150'500, 900, true }, // overlapping the last look
        { 299'000, 1000, true }, // up to the last byte
        { 299'500, 1000, false }, // past the end
        { -1, 10, false },
        { 20, 0, false },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.offset);
        const auto v = s.peekCached(c.offset, c.n);
        if (!c.inside) {
            EXPECT_TRUE(v.empty());
        } else if (!v.empty()) {
            ASSERT_EQ(v.size(), c.n);
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(v.data()), v.size()),
                bytes.substr(static_cast<std::size_t>(c.offset), c.n));
        }
    }
    // A view taken before a look still holds its bytes after it.
    const auto head = s.view(0, 64, 64);
    ASSERT_EQ(head.size(), 64u);
    s.peekCached(200'000, 500);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(head.data()), 64), bytes.substr(0, 64));
}

TEST(BufferedStream, MissingFileIsClosedAndReadsNothing)
{
    TempDir dir;
    BufferedStream s((dir.path() / "absent.mp3").c_str());
    EXPECT_FALSE(s.isOpen());
    EXPECT_NE(s.openError(), 0);
    EXPECT_EQ(s.size(), 0);
    char c = 0;
    EXPECT_EQ(s.readAt(0, &c, 1), 0u);
}

TEST(BufferedStream, RefusesFolders)
{
    TempDir dir;
    BufferedStream folder(dir.path().c_str());
    EXPECT_FALSE(folder.isOpen());
    EXPECT_EQ(folder.openError(), EISDIR);
}

// Buffers pass from one stream to the next: a second stream must not see
// the first one's bytes, whatever their sizes.
TEST(BufferedStream, ReusedBuffersHoldOnlyTheCurrentFile)
{
    TempDir dir;
    const std::string bigBytes = id3Header(300'000) + randomBytes(400'000, 11);
    const auto big = dir.write("big.mp3", bigBytes);
    const auto small = dir.write("small.mp3", "ID3" + std::string(50, 'z'));
    auto readAll = [](BufferedStream& s, long offset, std::size_t n) {
        std::string out(n, '\0');
        out.resize(s.readAt(offset, out.data(), n));
        return out;
    };
    {
        BufferedStream s(big.c_str());
        EXPECT_EQ(readAll(s, s.size() - 100, 100).size(), 100u);
        EXPECT_EQ(readAll(s, 350'000, 8), bigBytes.substr(350'000, 8)); // loads a window
    }
    BufferedStream s(small.c_str());
    EXPECT_EQ(s.size(), 53);
    EXPECT_EQ(readAll(s, 0, 1000), "ID3" + std::string(50, 'z'));
    EXPECT_EQ(readAll(s, 60, 10), "");
    EXPECT_TRUE(s.view(60, 4, 4).empty());
}

} // namespace
