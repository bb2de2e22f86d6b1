#include "trackinfo/buffered_stream.h"

#include <taglib/fileref.h>
#include <taglib/id3v2framefactory.h>
#include <taglib/mpegfile.h>
#include <taglib/mpegproperties.h>
#include <taglib/tag.h>
#include <taglib/tfilestream.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "test_support.h"
#include "trackinfo/mpeg_stream.h"

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

// Every observable result of the two streams must match along the same
// sequence of seeks and reads: offsets before the start, past the end,
// zero-length and oversized reads included.
void expectSameAsFileStream(const std::filesystem::path& path, unsigned seed)
{
    SCOPED_TRACE(path.filename().string());
    TagLib::FileStream plain(path.c_str(), true);
    BufferedStream fast(path.c_str());
    ASSERT_TRUE(plain.isOpen());
    ASSERT_TRUE(fast.isOpen());
    ASSERT_EQ(fast.length(), plain.length());
    const long size = plain.length();

    std::mt19937 rng(seed);
    auto pick = [&](long lo, long hi) { return std::uniform_int_distribution<long>(lo, hi)(rng); };
    for (int step = 0; step < 400; ++step) {
        switch (pick(0, 5)) {
        case 0: {
            const long off = pick(-100, size + 100);
            plain.seek(off);
            fast.seek(off);
            break;
        }
        case 1: {
            const long off = pick(-size - 200, 200);
            plain.seek(off, TagLib::IOStream::End);
            fast.seek(off, TagLib::IOStream::End);
            break;
        }
        case 2: {
            const long off = pick(-5000, 5000);
            plain.seek(off, TagLib::IOStream::Current);
            fast.seek(off, TagLib::IOStream::Current);
            break;
        }
        default: {
            const long roll = pick(0, 9);
            const unsigned long n = roll == 0 ? 0UL
                : roll == 1                   ? static_cast<unsigned long>(size) + 10000UL
                : roll == 2                   ? static_cast<unsigned long>(pick(4096, 70000))
                                              : static_cast<unsigned long>(pick(1, 2048));
            ASSERT_EQ(fast.readBlock(n), plain.readBlock(n)) << "step " << step << ", " << n << " bytes";
            break;
        }
        }
        ASSERT_EQ(fast.tell(), plain.tell()) << "step " << step;
        ASSERT_EQ(fast.length(), plain.length()) << "step " << step;
    }
}

TEST(BufferedStream, ReadsTheSameBytesAsAPlainFileStream)
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
        expectSameAsFileStream(dir.write(c.name, c.bytes), seed++);
    for (const auto& entry : std::filesystem::recursive_directory_iterator(melodex::test::corpusDir()))
        if (entry.is_regular_file() && entry.path().extension() != ".py")
            expectSameAsFileStream(entry.path(), seed++);
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
    s.seek(50'000);
    EXPECT_EQ(s.readBlock(16), TagLib::ByteVector(bytes.data() + 50'000, 16));
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
    fresh.seek(-128, TagLib::IOStream::End);
    EXPECT_EQ(fresh.readBlock(128), TagLib::ByteVector(bytes.data() + size - 128, 128));
}

TEST(BufferedStream, MissingFileIsClosedAndReadsNothing)
{
    TempDir dir;
    BufferedStream s((dir.path() / "absent.mp3").c_str());
    EXPECT_FALSE(s.isOpen());
    EXPECT_NE(s.openError(), 0);
    EXPECT_EQ(s.length(), 0);
    EXPECT_TRUE(s.readBlock(10).isEmpty());
    char c = 0;
    EXPECT_EQ(s.readAt(0, &c, 1), 0u);
}

TEST(BufferedStream, RefusesFoldersAndIgnoresWrites)
{
    TempDir dir;
    BufferedStream folder(dir.path().c_str());
    EXPECT_FALSE(folder.isOpen());

    const auto path = dir.write("a.mp3", "0123456789");
    {
        BufferedStream s(path.c_str());
        EXPECT_TRUE(s.readOnly());
        s.writeBlock(TagLib::ByteVector("xx"));
        s.insert(TagLib::ByteVector("yy"), 0, 0);
        s.removeBlock(0, 5);
        s.truncate(2);
        EXPECT_EQ(s.length(), 10);
    }
    EXPECT_EQ(melodex::test::readFile(path), "0123456789");
}

// Buffers pass from one stream to the next: a second stream must not see
// the first one's bytes, whatever their sizes.
TEST(BufferedStream, ReusedBuffersHoldOnlyTheCurrentFile)
{
    TempDir dir;
    const auto big = dir.write("big.mp3", id3Header(300'000) + randomBytes(400'000, 11));
    const auto small = dir.write("small.mp3", "ID3" + std::string(50, 'z'));
    {
        BufferedStream s(big.c_str());
        s.seek(-100, TagLib::IOStream::End);
        EXPECT_EQ(s.readBlock(100).size(), 100u);
    }
    TagLib::ByteVector heldFromBig;
    TagLib::ByteVector heldFromWindow;
    {
        BufferedStream s(big.c_str());
        s.seek(10);
        heldFromBig = s.readBlock(100);
    }
    BufferedStream s(small.c_str());
    // Slices handed out earlier keep their bytes when the buffers are reloaded.
    EXPECT_EQ(heldFromBig, TagLib::ByteVector(randomBytes(100, 11).c_str(), 100));
    EXPECT_EQ(s.length(), 53);
    EXPECT_EQ(s.readBlock(1000), TagLib::ByteVector(("ID3" + std::string(50, 'z')).c_str(), 53));
    s.seek(60);
    EXPECT_TRUE(s.readBlock(10).isEmpty());

    BufferedStream again(big.c_str());
    again.seek(350'000);
    heldFromWindow = again.readBlock(8);
    const TagLib::ByteVector copy(heldFromWindow.data(), heldFromWindow.size());
    again.seek(360'000);
    again.readBlock(8); // reloads the window
    EXPECT_EQ(heldFromWindow, copy);
    EXPECT_EQ(copy, TagLib::ByteVector(randomBytes(400'000, 11).substr(350'000 - 10, 8).c_str(), 8));
}

// TagLib over this stream must find exactly what it finds over its own:
// every tag field and every audio property, on every corpus file.
TEST(BufferedStream, TagLibReadsTheCorpusAsOverAPlainStream)
{
    int compared = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(melodex::test::corpusDir())) {
        const auto& path = entry.path();
        if (!entry.is_regular_file() || path.extension() == ".py" || path.extension() == ".json"
            || path.extension() == ".md")
            continue;
        SCOPED_TRACE(path.filename().string());
        // Both streams are read twice, by TagLib and by the stream analysis,
        // as the track reader does.
        TagLib::FileStream plainStream(path.c_str(), true);
        TagLib::MPEG::File plain(&plainStream, TagLib::ID3v2::FrameFactory::instance());
        BufferedStream fastStream(path.c_str());
        TagLib::MPEG::File fast(&fastStream, TagLib::ID3v2::FrameFactory::instance());
        ASSERT_EQ(fast.isValid(), plain.isValid());
        EXPECT_EQ(fast.hasID3v1Tag(), plain.hasID3v1Tag());
        EXPECT_EQ(fast.hasID3v2Tag(), plain.hasID3v2Tag());
        EXPECT_EQ(fast.hasAPETag(), plain.hasAPETag());

        const auto sa = melodex::trackinfo::analyzeStream(fastStream, fastStream.length());
        const auto sb = melodex::trackinfo::analyzeStream(plainStream, plainStream.length());
        EXPECT_EQ(sa.found, sb.found);
        EXPECT_EQ(sa.firstFrame, sb.firstFrame);
        EXPECT_EQ(sa.audioEnd, sb.audioEnd);
        EXPECT_EQ(sa.sampleRate, sb.sampleRate);
        EXPECT_EQ(sa.bitrateKbps, sb.bitrateKbps);
        EXPECT_EQ(sa.totalSeconds, sb.totalSeconds);
        EXPECT_EQ(sa.averagedRate, sb.averagedRate);
        if (!plain.isValid())
            continue;
        const TagLib::Tag* a = fast.tag();
        const TagLib::Tag* b = plain.tag();
        EXPECT_EQ(a->title(), b->title());
        EXPECT_EQ(a->artist(), b->artist());
        EXPECT_EQ(a->album(), b->album());
        EXPECT_EQ(a->comment(), b->comment());
        EXPECT_EQ(a->genre(), b->genre());
        EXPECT_EQ(a->year(), b->year());
        EXPECT_EQ(a->track(), b->track());
        const auto* pa = fast.audioProperties();
        const auto* pb = plain.audioProperties();
        ASSERT_EQ(pa == nullptr, pb == nullptr);
        if (pb) {
            EXPECT_EQ(pa->sampleRate(), pb->sampleRate());
            EXPECT_EQ(pa->bitrate(), pb->bitrate());
            EXPECT_EQ(pa->lengthInMilliseconds(), pb->lengthInMilliseconds());
            EXPECT_EQ(pa->channels(), pb->channels());
            EXPECT_EQ(pa->version(), pb->version());
            EXPECT_EQ(pa->xingHeader() == nullptr, pb->xingHeader() == nullptr);
        }
        ++compared;
    }
    EXPECT_GE(compared, 30);
}

// Every corpus stream has as many frames as the corpus counts, from its VBR
// header or frame by frame; without a header its audio ends where its last
// frame does, and only a VBR stream has its rate averaged.
TEST(BufferedStream, CountsTheCorpusFrames)
{
    const auto expected
        = nlohmann::json::parse(melodex::test::readFile(melodex::test::corpusDir() / "expected.json"));
    int averaged = 0;
    for (const auto& [name, entry] : expected.at("files").items()) {
        const auto& truth = entry.at("stream");
        if (truth.is_null())
            continue;
        SCOPED_TRACE(name);
        const auto path = melodex::test::corpusDir() / std::filesystem::u8path(name);
        BufferedStream stream(path.c_str());
        const auto summary = melodex::trackinfo::analyzeStream(stream, stream.length());
        EXPECT_EQ(summary.frames, truth.at("audio_frames").get<int64_t>());
        const bool headerless = truth.at("vbr_header").get<std::string>() == "none";
        if (headerless) {
            EXPECT_EQ(summary.audioEnd,
                truth.at("first_frame_offset").get<int64_t>() + truth.at("audio_bytes").get<int64_t>());
        }
        EXPECT_EQ(summary.averagedRate, headerless && truth.at("vbr").get<bool>());
        averaged += summary.averagedRate;
    }
    EXPECT_GE(averaged, 1);
}

// MPEG-1 Layer III frames, 44.1 kHz stereo, at the bit rate of the given
// index, with silent bodies.
std::string frames(int bitrateIndex, int count)
{
    static constexpr int kKbps[] = { 0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320 };
    std::string frame(static_cast<std::size_t>(144 * kKbps[bitrateIndex] * 1000 / 44100), '\0');
    frame[0] = '\xFF';
    frame[1] = '\xFB';
    frame[2] = static_cast<char>(bitrateIndex << 4);
    std::string out;
    for (int i = 0; i < count; ++i)
        out += frame;
    return out;
}

// A stream without a VBR header is averaged when its rate changes anywhere,
// even where the first frames give no hint; CBR never is.
TEST(StreamAnalysis, VariableRateWithoutHeaderIsAveraged)
{
    struct Case {
        const char* name;
        std::string bytes;
        bool averaged;
        int64_t seconds;
        int kbps;
    };
    const std::vector<Case> cases = {
        { "cbr.mp3", frames(9, 400), false, 10, 128 },
        { "rate_changes_in_the_middle_only.mp3", frames(1, 300) + frames(9, 300) + frames(1, 300), true, 23,
            0 },
        // The first frames are small; the frames behind them need more bytes
        // than a run of small frames would.
        { "large_frames_right_after_the_first.mp3", frames(1, 1) + frames(14, 3) + frames(1, 600), true, 15,
            0 },
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto path = dir.write(c.name, c.bytes);
        BufferedStream stream(path.c_str());
        const auto s = melodex::trackinfo::analyzeStream(stream, stream.length());
        ASSERT_TRUE(s.found);
        EXPECT_EQ(s.firstFrame, 0);
        EXPECT_EQ(s.audioEnd, static_cast<int64_t>(c.bytes.size()));
        EXPECT_EQ(s.averagedRate, c.averaged);
        EXPECT_EQ(s.totalSeconds, c.seconds);
        if (c.kbps) {
            EXPECT_EQ(s.bitrateKbps, c.kbps);
        }
        TagLib::FileStream plain(path.c_str(), true);
        const auto p = melodex::trackinfo::analyzeStream(plain, plain.length());
        EXPECT_EQ(p.averagedRate, s.averagedRate);
        EXPECT_EQ(p.totalSeconds, s.totalSeconds);
    }
}

} // namespace
