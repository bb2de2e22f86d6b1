// The MP4 reader on files ffmpeg makes and on shapes built box by box here;
// every expected value comes from how the file was made.
#include "trackinfo/track_details.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <vector>

#include <gtest/gtest.h>
#include <taglib/mp4file.h>
#include <taglib/tpropertymap.h>

#include "test_support.h"

using namespace melodex;
using namespace std::string_literals;
using melodex::test::TempDir;
namespace fs = std::filesystem;

namespace {

// Boxes -----------------------------------------------------------------------

std::string be(uint64_t v, int bytes)
{
    std::string s;
    for (int i = bytes - 1; i >= 0; --i)
        s += i < 8 ? static_cast<char>(v >> (8 * i)) : '\0';
    return s;
}

// 32-bit big-endian numbers one after another.
std::string words(std::initializer_list<uint32_t> values)
{
    std::string s;
    for (uint32_t v : values)
        s += be(v, 4);
    return s;
}

std::string box(std::string_view type, const std::string& body)
{
    return be(8 + body.size(), 4) + std::string(type) + body;
}
std::string full(std::string_view type, const std::string& body, int version = 0)
{
    return box(type, be(version, 1) + be(0, 3) + body);
}
// An MPEG-4 descriptor with a one-byte length.
std::string descriptor(int tag, const std::string& body) { return be(tag, 1) + be(body.size(), 1) + body; }

// iTunes names its text items with a "©" (0xA9) before three letters.
std::string itunes(std::string_view name) { return "\xA9"s + std::string(name); }
std::string data(int type, const std::string& value) { return box("data", be(type, 4) + be(0, 4) + value); }
std::string text(std::string_view item, const std::string& value) { return box(item, data(1, value)); }
std::string itemList(const std::string& items, bool fullMeta = true)
{
    const std::string children = full("hdlr", be(0, 4) + "mdir" + be(0, 12) + '\0') + box("ilst", items);
    return box("udta", fullMeta ? full("meta", children) : box("meta", children));
}

std::string esds(uint32_t avgBps, const std::string& audioConfig = "\x12\x10")
{
    const std::string config = "\x40\x15"s + be(0, 3) + words({ avgBps, avgBps });
    return full("esds", descriptor(3, be(1, 2) + '\0' + descriptor(4, config + descriptor(5, audioConfig))));
}

// A sound sample entry: the 16.16 rate, QuickTime's description version
// with the fields it adds, then the codec's boxes.
std::string sound(std::string_view type, uint32_t rate, const std::string& config, int version = 0,
    const std::string& added = {})
{
    return box(type,
        be(0, 6) + be(1, 2) + be(version, 2) + be(0, 6) + be(2, 2) + be(16, 2) + be(0, 4)
            + be(uint64_t(rate) << 16, 4) + added + config);
}
std::string aac(uint32_t rate, uint32_t avgBps) { return sound("mp4a", rate, esds(avgBps)); }
std::string alacCookie(uint32_t rate, uint32_t avgBps)
{
    return full("alac", be(4096, 4) + "\0\x10\x28\x0a\x0e\x02"s + be(255, 2) + words({ 0, avgBps, rate }));
}

struct Track {
    std::string entry;
    uint32_t timescale = 44100;
    uint64_t duration = 44100;
    std::string extra; // stts, stsz
    std::string handler = "soun";
    uint32_t id = 1;
    int mdhdVersion = 0;
};

std::string trak(const Track& t)
{
    const std::string mdhd = t.mdhdVersion == 1
        ? full("mdhd", be(0, 16) + be(t.timescale, 4) + be(t.duration, 8) + be(0, 4), 1)
        : full("mdhd", be(0, 8) + be(t.timescale, 4) + be(t.duration, 4) + be(0, 4));
    const std::string stbl = box("stbl", full("stsd", be(1, 4) + t.entry) + t.extra);
    return box("trak",
        full("tkhd", be(0, 8) + be(t.id, 4) + be(0, 68))
            + box("mdia", mdhd + full("hdlr", be(0, 4) + t.handler + be(0, 12) + '\0') + box("minf", stbl)));
}

std::string ftyp() { return box("ftyp", "M4A "s + be(0, 4) + "M4A mp42isom"); }
std::string mdat(std::size_t payload) { return box("mdat", std::string(payload, '\0')); }

// A movie fragment of one track's runs.
std::string fragment(uint32_t track, const std::string& tfhdFields, uint32_t flags, const std::string& runs)
{
    return box("moof", box("traf", box("tfhd", be(flags, 4) + be(track, 4) + tfhdFields) + runs));
}

// ID3v2.3 with one text frame.
std::string id3v2(std::string_view id, const std::string& value)
{
    const std::string frame = std::string(id) + be(value.size() + 1, 4) + be(0, 2) + '\0' + value;
    return "ID3\x03\0\0"s + be(frame.size(), 4) + frame;
}

// The bytes up to `extra` bytes past the first `marker`.
std::string cutAfter(const std::string& bytes, std::string_view marker, std::size_t extra)
{
    return bytes.substr(0, bytes.find(marker) + marker.size() + extra);
}

// Expected readings ----------------------------------------------------------

struct Expected {
    std::string title, artist, album, year, comment, genre;
    unsigned track = 0;
    std::string albumArtist;
    int rate = 0, kbps = 0;
    int64_t seconds = 0;
    std::string problem; // empty: readable
};

void expectReading(const fs::path& file, const Expected& e)
{
    const auto d = trackinfo::readTrackDetails(file.c_str());
    const auto& t = d.texts;
    EXPECT_EQ(d.format, AudioFormat::Mp4);
    EXPECT_EQ(std::tie(t.title, t.artist, t.album, t.year, t.comment, t.genre, t.track, t.albumArtist),
        std::tie(e.title, e.artist, e.album, e.year, e.comment, e.genre, e.track, e.albumArtist));
    EXPECT_EQ(std::tie(d.sampleRate, d.bitrateKbps, d.seconds, d.problem),
        std::tie(e.rate, e.kbps, e.seconds, e.problem));
    EXPECT_EQ(d.readable, e.problem.empty());
}

std::string runOutput(const std::string& command)
{
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buf[4096];
        while (std::size_t n = fread(buf, 1, sizeof buf, pipe))
            out.append(buf, n);
        if (pclose(pipe) != 0)
            out.clear();
    }
    return out;
}

// ffmpeg files ------------------------------------------------------------------

// The file with the average bit rate ffmpeg declared in the AAC track's
// esds box (its own measure) set to a value the test chooses.
std::string declaringBitrate(std::string bytes, uint32_t bps)
{
    const std::size_t esds = bytes.find("esds", bytes.find("mp4a"));
    EXPECT_EQ((std::string { bytes[esds + 8], bytes[esds + 16] }), "\x03\x04") << "ffmpeg wrote another esds";
    return bytes.replace(esds + 30, 4, be(bps, 4));
}

struct MadeRow {
    std::string name;
    std::string inputs; // ffmpeg's inputs
    std::string options;
    uint32_t declareBps; // 0: as ffmpeg wrote it
    Expected expected;
    bool fragmented = false; // TagLib and mutagen time these wrongly
};

const std::string kTags = "-metadata title=Title -metadata artist='Some Artist' -metadata album=Album "
                          "-metadata album_artist='Album Artist' -metadata date=2003-05-01 "
                          "-metadata genre=Rock -metadata track=7/12 -metadata comment=Note";
const Expected kTagged { "Title", "Some Artist", "Album", "2003", "Note", "Rock", 7, "Album Artist" };
Expected tagged(int rate, int kbps, int64_t seconds)
{
    Expected e = kTagged;
    e.rate = rate, e.kbps = kbps, e.seconds = seconds;
    return e;
}

std::string sine(int rate, double seconds)
{
    return "-f lavfi -i sine=frequency=440:sample_rate=" + std::to_string(rate)
        + ":duration=" + std::to_string(seconds);
}

// AAC's encoder delay makes the track 1,024 samples and a partial frame
// longer than the input: lengths are chosen well inside a whole second.
const std::vector<MadeRow>& madeRows()
{
    static const std::vector<MadeRow> rows {
        { "aac_moov_at_end.m4a", sine(44100, 1.5), "-c:a aac " + kTags, 128000, tagged(44100, 128, 1) },
        { "aac_moov_first.m4a", sine(48000, 2.5), "-c:a aac -movflags faststart " + kTags, 127499,
            tagged(48000, 127, 2) },
        // ffmpeg's ALAC cookie declares the rate of the PCM it was given.
        { "alac.m4a", sine(48000, 1.5), "-c:a alac " + kTags, 0, tagged(48000, 768, 1) },
        { "aac_96k.m4a", sine(96000, 1.2), "-c:a aac", 96000, { .rate = 96000, .kbps = 96, .seconds = 1 } },
        { "fragments_only.m4a", sine(44100, 2.5),
            "-c:a aac -movflags frag_keyframe+empty_moov -frag_duration 500000 " + kTags, 64000,
            tagged(44100, 64, 2), true },
        { "fragments_after_samples.m4a", sine(44100, 2.5),
            "-c:a aac -movflags frag_keyframe -frag_duration 500000", 64000,
            { .rate = 44100, .kbps = 64, .seconds = 2 }, true },
        { "video_first.mp4", "-f lavfi -i testsrc=size=64x48:rate=10:duration=3 " + sine(22050, 1.5),
            "-map 0:v -map 1:a -c:v mpeg4 -c:a aac", 32000, { .rate = 22050, .kbps = 32, .seconds = 1 } },
    };
    return rows;
}

// The files are made once for the tests that read them.
const fs::path& madeFolder()
{
    static const TempDir dir("melodex-mp4");
    static const bool made = [] {
        for (const auto& row : madeRows()) {
            const fs::path out = dir.path() / row.name;
            const std::string command = "ffmpeg -hide_banner -loglevel error -y " + row.inputs + " "
                + row.options + " -fflags +bitexact '" + out.string() + "'";
            if (std::system(command.c_str()) != 0)
                return false;
            if (row.declareBps != 0)
                dir.write(row.name, declaringBitrate(test::readFile(out), row.declareBps));
        }
        return true;
    }();
    if (!made)
        ADD_FAILURE() << "ffmpeg could not make the test files (scripts/install-deps.sh test installs it)";
    return dir.path();
}

TEST(Mp4Reader, FilesFfmpegMakes)
{
    const fs::path& folder = madeFolder();
    for (const auto& row : madeRows()) {
        SCOPED_TRACE(row.name);
        expectReading(folder / row.name, row.expected);
    }
}

// TagLib's reading: texts, rate and seconds.
trackinfo::TrackDetails tagLibReading(const fs::path& file)
{
    TagLib::MP4::File f(file.c_str());
    trackinfo::TrackDetails d;
    if (const auto* p = f.audioProperties())
        d.sampleRate = p->sampleRate(), d.seconds = p->lengthInSeconds();
    const auto* t = f.tag();
    auto utf8 = [](const TagLib::String& s) { return s.to8Bit(true); };
    d.texts = { utf8(t->title()), utf8(t->artist()), utf8(t->album()),
        t->year() ? std::to_string(t->year()) : "", utf8(t->comment()), utf8(t->genre()), t->track(),
        utf8(f.properties()["ALBUMARTIST"].toString()) };
    return d;
}

// mutagen's rate, bit rate (b/s) and seconds, by file name.
std::map<std::string, std::array<int64_t, 3>> mutagenReadings(const fs::path& folder)
{
    const std::string script
        = "import sys, os\nfrom mutagen.mp4 import MP4\nfor p in sys.argv[1:]:\n"
          "  i = MP4(p).info\n  print(os.path.basename(p), i.sample_rate, i.bitrate, int(i.length))\n";
    std::string command = MELODEX_PYTHON3 " -c '" + script + "'";
    for (const auto& row : madeRows())
        command += " '" + (folder / row.name).string() + "'";
    std::istringstream lines(runOutput(command));
    std::map<std::string, std::array<int64_t, 3>> readings;
    std::string name;
    std::array<int64_t, 3> r;
    while (lines >> name >> r[0] >> r[1] >> r[2])
        readings[name] = r;
    return readings;
}

// Where they read right: TagLib takes the rate from the 16.16 field only
// (0 past 65,535 Hz) and rounds the bit rate twice (128,000 b/s shows 129),
// and neither adds up fragments (0 s, or the samples before the first).
TEST(Mp4Reader, AgreesWithTagLibAndMutagen)
{
    const fs::path& folder = madeFolder();
    const auto mutagen = mutagenReadings(folder);
    ASSERT_EQ(mutagen.size(), madeRows().size())
        << "mutagen did not read every file (scripts/install-deps.sh test installs python3-mutagen)";
    for (const auto& row : madeRows()) {
        SCOPED_TRACE(row.name);
        const auto ours = trackinfo::readTrackDetails((folder / row.name).c_str());
        const auto tagLib = tagLibReading(folder / row.name);
        const auto [rate, bps, seconds] = mutagen.at(row.name);
        const auto &t = ours.texts, &u = tagLib.texts;
        EXPECT_EQ(std::tie(t.title, t.artist, t.album, t.year, t.comment, t.genre, t.track, t.albumArtist),
            std::tie(u.title, u.artist, u.album, u.year, u.comment, u.genre, u.track, u.albumArtist));
        EXPECT_EQ(ours.sampleRate, rate);
        EXPECT_EQ(ours.sampleRate, ours.sampleRate <= 65535 ? tagLib.sampleRate : ours.sampleRate);
        EXPECT_EQ(ours.bitrateKbps, (bps + 500) / 1000);
        if (!row.fragmented) {
            EXPECT_EQ(std::tie(ours.seconds, ours.seconds), std::tie(tagLib.seconds, seconds));
        }
    }
}

// Shapes built here ------------------------------------------------------------

struct BuiltRow {
    std::string name;
    std::string bytes;
    Expected expected;
};

std::string plain(const Track& t, const std::string& tags, std::size_t payload)
{
    return ftyp() + box("moov", trak(t) + tags) + mdat(payload);
}

const std::string kItems = box(itunes("nam"), data(1, "First")) + box(itunes("nam"), data(1, "Second"))
    + box(itunes("ART"), data(1, "A") + data(1, "B")) + text(itunes("day"), "2003-05-01T07:00:00Z")
    + box("gnre", data(0, be(18, 2))) + box("trkn", data(0, be(0, 2) + be(5, 2) + be(12, 2) + be(0, 2)))
    + text("aART", "AA") + text(itunes("cmt"), "c") + box("covr", data(13, std::string(5000, '\xFF')));

const std::string kEncodings = box(itunes("nam"), data(2, "\x68\x5C"))
    + box(itunes("alb"), data(3, "\x8D\xF7")) + box(itunes("ART"), data(1, "\x83\x65\x83\x58\x83\x67"))
    + box(itunes("cmt"), data(0, "binary") + data(1, "kept")) + text(itunes("gen"), "Jazz")
    + box("gnre", data(0, be(18, 2))) + text(itunes("day"), "1999\0later"s);

// trex says 1,024 ticks and 300 bytes a sample, the movie box holds ten
// samples; then runs of defaults, of tfhd's defaults, another track's run,
// one of its own durations and sizes, and one that claims four billion
// samples and holds one: 10,240 + 102,400 + 102,400 + 3,000 + 44,100 ticks
// (5.94 s), 3,000 + 30,000 + 20,000 + 300 + 300 bytes (72.14 kb/s).
std::string fragmented()
{
    const std::string trex = box("mvex", full("trex", words({ 1, 1, 1024, 300, 0 })));
    const std::string tables = full("stts", words({ 1, 10, 1024 })) + full("stsz", words({ 300, 10 }));
    return ftyp() + box("moov", trak({ aac(44100, 0), 44100, 10240, tables }) + trex) + mdat(3000)
        + fragment(1, "", 0, box("trun", words({ 0, 100 }))) + mdat(30000)
        + fragment(1, words({ 2048, 400 }), 0x18, box("trun", words({ 1, 50, 0 })))
        + fragment(2, "", 0, box("trun", words({ 0, 1000 }))) + mdat(20000)
        + fragment(1, "", 0, box("trun", words({ 0x300, 2, 1000, 100, 2000, 200 }))) + mdat(300)
        + fragment(1, "", 0, box("trun", words({ 0x100, 0xFFFFFFFF, 44100 })));
}

const std::vector<BuiltRow>& builtRows()
{
    const Track video { box("avc1", be(1, 8)), 90000, 900000, full("stsz", words({ 0, 1, 9000 })), "vide" };
    const Track sized { aac(44100, 0), 44100, 88200, full("stsz", words({ 0, 3, 1000, 2000, 3000 })), "soun",
        2 };
    const Track uniform { aac(44100, 0), 44100, 176400, full("stsz", words({ 500, 100 })) };
    const std::string heAac = "\x2B\x11\x88\x00"s; // SBR at 48 kHz over a 24 kHz core
    const std::string qtV2 = words({ 72 }) + be(0x4107700000000000, 8) + words({ 2, 0x7F000000, 0, 0, 0, 0 });
    const std::string mdat64 = words({ 1 }) + "mdat" + be(16 + 16000, 8) + std::string(16000, '\0');
    static const std::vector<BuiltRow> rows {
        { "declared 128,000 b/s shows 128",
            plain({ aac(44100, 128000), 44100, 132300 }, itemList(kItems), 100),
            { "First", "A; B", "", "2003", "c", "Rock", 5, "AA", 44100, 128, 3 } },
        { "64-bit time in mdhd version 1",
            plain({ aac(48000, 127499), 48000, 336001, "", "soun", 1, 1 }, "", 10),
            { .rate = 48000, .kbps = 127, .seconds = 7 } },
        { "nothing declared: the media data (a 64-bit mdat, one to the end) over the exact time",
            ftyp() + box("moov", trak({ aac(44100, 0), 44100, 66150 })) + mdat64 + words({ 0 }) + "mdat"
                + std::string(4000, '\0'),
            { .rate = 44100, .kbps = 107, .seconds = 1 } },
        { "a video track first: the sound track, its sample sizes",
            ftyp() + box("moov", trak(video) + trak(sized)) + mdat(50000),
            { .rate = 44100, .kbps = 24, .seconds = 2 } },
        { "media data cut short: the movie's values", cutAfter(plain(uniform, "", 50000), "mdat", 100),
            { .rate = 44100, .kbps = 100, .seconds = 4 } },
        // Some writers keep the low 16 bits of 96,000 in the 16.16 field.
        { "ALAC: the cookie's rate, which 16.16 cannot hold",
            plain({ sound("alac", 30464, alacCookie(96000, 999500)), 96000, 192000 }, "", 10),
            { .rate = 96000, .kbps = 1000, .seconds = 2 } },
        { "HE-AAC: the configuration's rate where the entry says 0",
            plain({ sound("mp4a", 0, esds(96000, heAac)), 48000, 48000 }, "", 10),
            { .rate = 48000, .kbps = 96, .seconds = 1 } },
        { "QuickTime version 1, a wave box, a meta box without version",
            plain({ sound("mp4a", 22050, box("wave", box("frma", "mp4a") + esds(64000)), 1, be(0, 16)), 22050,
                      66150 },
                itemList(text(itunes("nam"), "QT"), false), 10),
            { .title = "QT", .rate = 22050, .kbps = 64, .seconds = 3 } },
        { "QuickTime version 2: the rate as a float",
            plain({ sound("mp4a", 1, esds(0), 2, qtV2), 192000, 384000 }, "", 48000),
            { .rate = 192000, .kbps = 192, .seconds = 2 } },
        { "text encodings and types", plain({ aac(44100, 128000) }, itemList(kEncodings), 10),
            { "桜", "テスト", "桜", "1999", "kept", "Jazz", 0, "", 44100, 128, 1 } },
        { "fragments", fragmented(), { .rate = 44100, .kbps = 72, .seconds = 5 } },
        { "moov never reached", ftyp() + mdat(1000) + "\0\0\x10", { .problem = "no moov box" } },
        { "a video track only: its tags, no audio",
            ftyp() + box("moov", trak(video) + itemList(text(itunes("nam"), "Clip"))),
            { .title = "Clip", .problem = "no audio track" } },
        { "cut inside the item list: what is whole",
            cutAfter(plain({ aac(44100, 64000) },
                         itemList(text(itunes("nam"), "Whole") + text(itunes("ART"), "Cut")), 0),
                itunes("ART"), 10),
            { .title = "Whole", .rate = 44100, .kbps = 64, .seconds = 1 } },
        { "an ID3v2 tag before ftyp fills what the item list lacks",
            id3v2("TPE1", "Id3 artist")
                + plain({ aac(44100, 64000) }, itemList(text(itunes("nam"), "Own")), 10),
            { .title = "Own", .artist = "Id3 artist", .rate = 44100, .kbps = 64, .seconds = 1 } },
    };
    return rows;
}

TEST(Mp4Reader, BuiltShapes)
{
    TempDir dir("melodex-mp4-built");
    for (const auto& row : builtRows()) {
        SCOPED_TRACE(row.name);
        expectReading(dir.write("shape.m4a", row.bytes), row.expected);
    }
}

} // namespace
