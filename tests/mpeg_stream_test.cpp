#include "trackinfo/mpeg_stream.h"

#include "trackinfo/buffered_stream.h"
#include "trackinfo/tag_layout.h"

#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <mpg123.h>
#include <nlohmann/json.hpp>

#include "test_support.h"

namespace {

using melodex::test::TempDir;
namespace fs = std::filesystem;

// Layer III frames with silent bodies, padded as LAME pads a CBR stream.
struct Kind {
    int versionBits = 3; // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
    int rateIndex = 0;
    bool mono = false;
    bool padded = true;
    int freeKbps = 0; // free format (bit rate index 0) at this rate
};

std::string frames(int bitrateIndex, int count, const Kind& k = {})
{
    static constexpr int kRates[4][3]
        = { { 11025, 12000, 8000 }, {}, { 22050, 24000, 16000 }, { 44100, 48000, 32000 } };
    static constexpr int kKbps[2][15]
        = { { 0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320 },
              { 0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160 } };
    const bool mpeg1 = k.versionBits == 3;
    const int rate = kRates[k.versionBits][k.rateIndex];
    const int kbps = bitrateIndex == 0 ? k.freeKbps : kKbps[mpeg1 ? 0 : 1][bitrateIndex];
    const int total = (mpeg1 ? 144 : 72) * kbps * 1000;
    std::string out;
    int carried = 0;
    for (int i = 0; i < count; ++i) {
        bool pad = false;
        if (k.padded) {
            carried += total % rate;
            pad = carried >= rate;
            carried -= pad ? rate : 0;
        }
        std::string f(static_cast<std::size_t>(total / rate + pad), '\0');
        f[0] = '\xFF';
        f[1] = static_cast<char>(0xE0 | k.versionBits << 3 | 0x02 | 0x01);
        f[2] = static_cast<char>(bitrateIndex << 4 | k.rateIndex << 2 | pad << 1);
        f[3] = static_cast<char>(k.mono ? 0xC0 : 0x40);
        out += f;
    }
    return out;
}

std::string randomBytes(std::size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; i += 4) {
        const uint32_t v = rng();
        std::memcpy(s.data() + i, &v, std::min<std::size_t>(4, n - i));
    }
    return s;
}

std::string apeTagAndId3v1()
{
    auto le32 = [](uint32_t v) {
        return std::string { char(v), char(v >> 8), char(v >> 16), char(v >> 24) };
    };
    const std::string item = le32(5) + le32(0) + "Title" + '\0' + "Hello";
    const std::string footer = "APETAGEX" + le32(2000) + le32(uint32_t(item.size() + 32)) + le32(1) + le32(0)
        + std::string(8, '\0');
    return item + footer + "TAG" + std::string(125, 'x');
}

melodex::trackinfo::StreamSummary summaryOf(const fs::path& path)
{
    melodex::BufferedStream stream(path.c_str());
    melodex::trackinfo::TagLayout layout(stream);
    return melodex::trackinfo::analyzeStream(stream, layout);
}

// Frames libmpg123 counts in [begin, end) of the file.
int64_t decoderFrames(const fs::path& path, int64_t begin, int64_t end)
{
    struct Window {
        int fd;
        off_t begin, length, pos;
    };
    static const bool initialised = mpg123_init() == MPG123_OK;
    if (!initialised)
        return -1;
    auto read = [](void* h, void* out, size_t n) -> mpg123_ssize_t {
        auto* w = static_cast<Window*>(h);
        const off_t want = std::min<off_t>(static_cast<off_t>(n), w->length - w->pos);
        const ssize_t got = want > 0 ? pread(w->fd, out, static_cast<size_t>(want), w->begin + w->pos) : 0;
        w->pos += std::max<ssize_t>(got, 0);
        return got;
    };
    auto seek = [](void* h, off_t offset, int whence) -> off_t {
        auto* w = static_cast<Window*>(h);
        const off_t base = whence == SEEK_CUR ? w->pos : whence == SEEK_END ? w->length : 0;
        w->pos = std::clamp<off_t>(base + offset, 0, w->length);
        return w->pos;
    };
    Window w { ::open(path.c_str(), O_RDONLY), begin, end - begin, 0 };
    int error = 0;
    mpg123_handle* mh = mpg123_new(nullptr, &error);
    mpg123_param(mh, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
    int64_t count = -1;
    if (mpg123_replace_reader_handle(mh, read, seek, nullptr) == MPG123_OK
        && mpg123_open_handle(mh, &w) == MPG123_OK && mpg123_scan(mh) == MPG123_OK)
        count = mpg123_framelength(mh);
    mpg123_delete(mh);
    ::close(w.fd);
    return count;
}

} // namespace

// A stream without a VBR header is measured frame by frame: the rate may
// change anywhere, junk may sit inside it, and whatever follows its last
// frame (a tag, a cut frame, megabytes of zeros or noise) is not audio.
TEST(AnalyzeStream, WalksEveryFrameOfAStreamWithoutHeader)
{
    const Kind mpeg25 { .versionBits = 0, .rateIndex = 2, .mono = true };
    const std::string sixtySeconds = frames(1, 834, mpeg25); // 8 kbps at 8 kHz
    const std::string hundred = frames(9, 100);
    struct Case {
        const char* name;
        std::string bytes;
        int64_t firstFrame, audioEnd, frames, seconds;
        int kbps;
        bool averaged;
        // libmpg123 stops at more than 1 KiB of junk inside a stream; other
        // decoders play on, as the walk counts on.
        bool decoderAgrees = true;
    };
    const std::vector<Case> cases = {
        { "cbr", frames(9, 400), 0, 167183, 400, 10, 128, false },
        { "late_burst",
            frames(1, 37, { .padded = false }) + frames(10, 3, { .padded = false })
                + frames(11, 2, { .padded = false }),
            0, 6666, 42, 1, 49, true },
        { "quiet_then_loud", frames(1, 3828) + frames(11, 383), 0, 640103, 4211, 110, 47, true },
        { "loud_then_quiet", frames(11, 383) + frames(1, 3828), 0, 640103, 4211, 110, 47, true },
        { "junk_inside", hundred + randomBytes(3000, 1) + hundred, 0, 86590, 200, 5, 128, false, false },
        { "false_sync_in_junk_after",
            hundred + randomBytes(500, 2) + hundred.substr(0, 4) + randomBytes(2000, 3), 0, 41795, 100, 2,
            128, false },
        { "cut_last_frame", hundred + hundred.substr(0, 200), 0, 41795, 100, 2, 128, false },
        // A single frame has no chain to confirm it, but it is all there is
        // (libmpg123's scan gives up on a file this short).
        { "one_frame_and_part_of_a_second", hundred.substr(0, 417 + 100), 0, 417, 1, 0, 128, false, false },
        { "one_frame_alone", hundred.substr(0, 417), 0, 417, 1, 0, 128, false, false },
        { "ape_and_id3v1", hundred + apeTagAndId3v1(), 0, 41795, 100, 2, 128, false },
        { "free_format", frames(0, 200, { .freeKbps = 400 }), 0, 261224, 200, 5, 400, true },
        { "free_format_in_junk",
            randomBytes(700, 4) + frames(0, 150, { .freeKbps = 640 }) + randomBytes(900, 5), 700, 314169, 150,
            3, 640, true },
        { "zeros_after", sixtySeconds + std::string(10 << 20, '\0'), 0, 60048, 834, 60, 8, false },
        { "noise_after", sixtySeconds + randomBytes(10 << 20, 6), 0, 60048, 834, 60, 8, false },
        { "less_zeros_after", sixtySeconds + std::string(1 << 20, '\0'), 0, 60048, 834, 60, 8, false },
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path path = dir.write(std::string(c.name) + ".mp3", c.bytes);
        const auto s = summaryOf(path);
        ASSERT_TRUE(s.found);
        EXPECT_EQ(s.firstFrame, c.firstFrame);
        EXPECT_EQ(s.audioEnd, c.audioEnd);
        EXPECT_EQ(s.frames, c.frames);
        EXPECT_EQ(s.totalSeconds, c.seconds);
        EXPECT_EQ(s.bitrateKbps, c.kbps);
        EXPECT_EQ(s.averagedRate, c.averaged);
        if (c.decoderAgrees) {
            EXPECT_EQ(decoderFrames(path, c.firstFrame, c.audioEnd), c.frames);
        }
    }
}

TEST(AnalyzeStream, AveragesTheRateOnlyForVbrWithoutHeader)
{
    struct Case {
        const char* file;
        bool averaged;
        int64_t seconds;
    };
    const Case cases[] = {
        { "vbr_no_header.mp3", true, 9 },
        { "thirdparty/taglib-bladeenc.mp3", false, 3 }, // CBR, no header
        { "trailing_junk.mp3", false, 3 },
        { "tcon_pop.mp3", false, 1 },
        { "vbr_v2_xing_id3v24.mp3", false, 7 },
        { "vbri_synthetic.mp3", false, 5 },
        // Its Info header describes the 1887 s file it was cut from: what is there counts.
        { "thirdparty/taglib-garbage.mp3", false, 0 },
        { "id3v2_size_too_large.mp3", false, 3 },
    };
    for (const auto& c : cases) {
        const auto s = summaryOf(melodex::test::corpusDir() / c.file);
        EXPECT_TRUE(s.found) << c.file;
        EXPECT_EQ(s.averagedRate, c.averaged) << c.file;
        EXPECT_EQ(s.totalSeconds, c.seconds) << c.file;
    }
}

// Cut copies keep the VBR header of the whole file; the frames present count.
TEST(AnalyzeStream, MeasuresACutFileNotItsHeader)
{
    TempDir dir;
    const std::string whole
        = melodex::test::readFile(melodex::test::corpusDir() / "thirdparty/mutagen-silence-44-s-mpeg25.mp3");
    const std::string cbr = melodex::test::readFile(melodex::test::corpusDir() / "cbr128_44k_stereo.mp3");
    struct Case {
        fs::path path;
        int seconds, kbps;
    };
    const Case cases[] = {
        // Xing: 80 frames, 4464 bytes, 3.84 s; the first 1500 bytes hold about a third of it.
        { dir.write("xing_cut.mp3", whole.substr(0, 1500)), 1, 9 },
        // Info (CBR): 174 frames, 4.5 s; cut to 1.0 s of frames and no ID3v1.
        { dir.write("info_cut.mp3", cbr.substr(0, 16720)), 1, 128 },
    };
    for (const auto& c : cases) {
        const auto s = summaryOf(c.path);
        EXPECT_TRUE(s.found) << c.path;
        EXPECT_EQ(s.totalSeconds, c.seconds) << c.path;
        EXPECT_EQ(s.bitrateKbps, c.kbps) << c.path;
    }
}

// Every corpus stream has as many frames as the corpus counts, from its VBR
// header or frame by frame; without a header its audio ends where its last
// frame does, and only a VBR stream has its rate averaged.
TEST(AnalyzeStream, CountsTheCorpusFrames)
{
    const auto expected
        = nlohmann::json::parse(melodex::test::readFile(melodex::test::corpusDir() / "expected.json"));
    int averaged = 0;
    for (const auto& [name, entry] : expected.at("files").items()) {
        const auto& truth = entry.at("stream");
        if (truth.is_null())
            continue;
        SCOPED_TRACE(name);
        const auto summary = summaryOf(melodex::test::corpusDir() / fs::u8path(name));
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

// A stream without a VBR header is averaged when its rate changes anywhere,
// even where the first frames give no hint; CBR never is.
TEST(AnalyzeStream, VariableRateWithoutHeaderIsAveraged)
{
    const Kind unpadded { .padded = false };
    struct Case {
        const char* name;
        std::string bytes;
        bool averaged;
        int64_t seconds;
        int kbps;
    };
    const std::vector<Case> cases = {
        { "cbr.mp3", frames(9, 400, unpadded), false, 10, 128 },
        { "rate_changes_in_the_middle_only.mp3",
            frames(1, 300, unpadded) + frames(9, 300, unpadded) + frames(1, 300, unpadded), true, 23, 0 },
        // The first frames are small; the frames behind them need more bytes
        // than a run of small frames would.
        { "large_frames_right_after_the_first.mp3",
            frames(1, 1, unpadded) + frames(14, 3, unpadded) + frames(1, 600, unpadded), true, 15, 0 },
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto s = summaryOf(dir.write(c.name, c.bytes));
        ASSERT_TRUE(s.found);
        EXPECT_EQ(s.firstFrame, 0);
        EXPECT_EQ(s.audioEnd, static_cast<int64_t>(c.bytes.size()));
        EXPECT_EQ(s.averagedRate, c.averaged);
        EXPECT_EQ(s.totalSeconds, c.seconds);
        if (c.kbps) {
            EXPECT_EQ(s.bitrateKbps, c.kbps);
        }
    }
}

TEST(ParseFrameHeader, ReadsLayerThreeHeadersAndRefusesReservedValues)
{
    struct Case {
        const char* why;
        std::string bytes;
        int version, bitrate, rate, channels, frameBytes, samples;
    };
    const Case cases[] = {
        { "MPEG-1 128 kbps 44.1 kHz stereo", "\xff\xfb\x90\x04", 10, 128, 44100, 2, 417, 1152 },
        { "same, padded", "\xff\xfb\x92\x04", 10, 128, 44100, 2, 418, 1152 },
        { "MPEG-1 320 kbps 48 kHz", "\xff\xfb\xe4\x44", 10, 320, 48000, 2, 960, 1152 },
        { "MPEG-2 64 kbps 22.05 kHz", "\xff\xf3\x80\x44", 20, 64, 22050, 2, 208, 576 },
        { "MPEG-2.5 32 kbps 11.025 kHz mono", "\xff\xe3\x40\xc4", 25, 32, 11025, 1, 208, 576 },
    };
    for (const auto& c : cases) {
        const auto h
            = melodex::trackinfo::parseFrameHeader(reinterpret_cast<const unsigned char*>(c.bytes.data()));
        ASSERT_TRUE(h) << c.why;
        EXPECT_EQ(h->version, c.version) << c.why;
        EXPECT_EQ(h->layer, 3) << c.why;
        EXPECT_EQ(h->bitrateKbps, c.bitrate) << c.why;
        EXPECT_EQ(h->sampleRate, c.rate) << c.why;
        EXPECT_EQ(h->channels, c.channels) << c.why;
        EXPECT_EQ(h->frameBytes, c.frameBytes) << c.why;
        EXPECT_EQ(h->samplesPerFrame, c.samples) << c.why;
    }
    for (const char* bad : { "\xff\xfb\x00\x04", // free format
             "\xff\xfb\xf0\x04", // bit rate index 15
             "\xff\xfb\x9c\x04", // sampling rate index 3
             "\xff\xeb\x90\x04", // reserved version
             "\xff\xf9\x90\x04", // reserved layer
             "\xff\xfb\x90\x06", // reserved emphasis
             "\xfe\xfb\x90\x04" }) // no sync
        EXPECT_FALSE(melodex::trackinfo::parseFrameHeader(reinterpret_cast<const unsigned char*>(bad)))
            << bad;
}
