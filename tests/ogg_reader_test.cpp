// The Ogg reader (Vorbis, Opus, FLAC in Ogg) on files oggenc, opusenc and
// ffmpeg make and on streams built page by page; every expected value comes
// from how the file was made.
#include "trackinfo/plain_tags.h"
#include "trackinfo/track_details.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include <gtest/gtest.h>
#include <taglib/opusfile.h>
#include <taglib/tpropertymap.h>
#include <taglib/vorbisfile.h>

#include "test_support.h"

namespace melodex::test {
namespace {

using namespace std::string_literals;
using trackinfo::TagTexts;
using trackinfo::TrackDetails;
namespace fs = std::filesystem;

std::string vorbisComment(const std::vector<std::string>& comments, std::optional<uint32_t> count = {})
{
    std::string out = intBytes(4, 4) + "test" + intBytes(count.value_or(comments.size()), 4);
    for (const auto& c : comments)
        out += intBytes(c.size(), 4) + c;
    return out;
}

constexpr uint64_t kNoGranule = ~0ull;
constexpr char kContinued = 1, kFirst = 2, kLast = 4;

// One page of whole packets (a packet of a multiple of 255 bytes ends with a
// 0 lacing value), or of a piece of one that `open` leaves unfinished.
std::string page(
    uint32_t serial, uint64_t granule, char flags, const std::vector<std::string>& packets, bool open = false)
{
    std::string lacing, body;
    for (std::size_t i = 0; i < packets.size(); ++i) {
        const std::size_t n = packets[i].size();
        lacing += std::string(n / 255, '\xFF');
        if (!(open && i + 1 == packets.size()))
            lacing += static_cast<char>(n % 255);
        body += packets[i];
    }
    return "OggS\0"s + flags + intBytes(granule, 8) + intBytes(serial, 4) + intBytes(0, 4) + intBytes(0, 4)
        + static_cast<char>(lacing.size()) + lacing + body;
}

std::string vorbisIdent(uint32_t rate)
{
    return "\x01vorbis"s + intBytes(0, 4) + '\1' + intBytes(rate, 4) + intBytes(0, 12) + "\xB8\x01"s;
}
std::string vorbisTags(const std::vector<std::string>& comments)
{
    return "\x03vorbis" + vorbisComment(comments) + '\1';
}
const std::string kVorbisSetup = "\x05vorbis" + std::string(100, 's');

std::string opusHead(uint16_t preSkip)
{
    return "OpusHead\x01\x01"s + intBytes(preSkip, 2) + intBytes(44100, 4) + intBytes(0, 3);
}

// A Vorbis stream at `rate`: its three headers, then `seconds` of audio in
// pages of `perPage` bytes, a page a second.
std::string vorbisStream(uint32_t serial, uint32_t rate, const std::vector<std::string>& comments,
    int seconds, std::size_t perPage = 1000)
{
    std::string out = page(serial, 0, kFirst, { vorbisIdent(rate) })
        + page(serial, 0, 0, { vorbisTags(comments), kVorbisSetup });
    for (int s = 1; s <= seconds; ++s)
        out += page(serial, uint64_t(rate) * s, s == seconds ? kLast : 0, { std::string(perPage, 'a') });
    return out;
}

int kbps(std::size_t audioBytes, double seconds)
{
    return static_cast<int>(std::lround(audioBytes * 8 / seconds / 1000));
}

struct Expected {
    AudioFormat format;
    TagTexts texts;
    int kbps = 0; // -1: the second opinion checks it
    int rate = 0;
    int64_t seconds = 0;
    std::string problem; // empty: readable
};

std::string summary(const TrackDetails& d, bool withKbps = true)
{
    const TagTexts& t = d.texts;
    std::ostringstream s;
    s << formatRow(d.format).name << " | " << t.title << " | " << t.artist << " | " << t.album << " | "
      << t.year << " | " << t.comment << " | " << t.genre << " | " << t.track << " | " << t.albumArtist
      << " | " << (withKbps ? d.bitrateKbps : -1) << " kbps | " << d.sampleRate << " Hz | " << d.seconds
      << " s | " << (d.readable ? "ok" : d.problem);
    return s.str();
}

std::string summary(const Expected& e)
{
    return summary(
        { e.format, e.texts, 0, e.kbps, e.rate, e.seconds, e.problem.empty(), 0, e.problem }, e.kbps >= 0);
}

struct Shape {
    const char* file; // its extension need not say what it holds
    std::string bytes; // built here; else made by `command` into the file
    std::string command;
    Expected expected;
};

constexpr auto Vorbis = AudioFormat::Vorbis;
constexpr auto Opus = AudioFormat::Opus;
constexpr auto Flac = AudioFormat::Flac;

const std::string kWav = "ffmpeg -v error -f lavfi -i sine=f=440:r=44100:d=2 -ac 2 -f wav - | ";
const std::string kMeta = "-metadata title=Title -metadata artist=Ann -metadata album=Album "
                          "-metadata date=2003-05-01 -metadata genre=Jazz -metadata track=7/12";

std::vector<Shape> builtShapes();

std::vector<Shape> madeShapes()
{
    const TagTexts tagged { "Title", "Ann; Bob", "Album", "2003", "Note", "Jazz", 7, "Various" };
    const TagTexts meta { "Title", "Ann", "Album", "2003", "", "Jazz", 7, "" };
    return {
        { "tags.ogg", "",
            kWav
                + "oggenc -Q -t Title -c ARTIST=Ann -l Album -d 2003-05-01 -G Jazz -N 7 -c ARTIST=Bob -c "
                  "COMMENT=Note "
                  "-c ALBUMARTIST=Various - -o",
            { Vorbis, tagged, -1, 44100, 2 } },
        // Opus plays at 48 kHz whatever its input's rate.
        { "tags.opus", "",
            kWav
                + "opusenc --quiet --title Title --artist Ann --artist Bob --album Album --date 2003-05-01 "
                  "--genre Jazz --comment TRACKNUMBER=7 --comment COMMENT=Note --comment ALBUMARTIST=Various "
                  "- ",
            { Opus, tagged, -1, 48000, 2 } },
        { "flac.oga", "", "ffmpeg -v error -f lavfi -i sine=f=440:r=32000:d=2 -c:a flac " + kMeta + " -y",
            { Flac, meta, -1, 32000, 2 } },
        // The video stream comes first, its pages beside the sound's to the end.
        { "theora.ogg", "",
            "ffmpeg -v error -f lavfi -i testsrc=size=64x48:rate=10:d=2 -f lavfi -i sine=f=440:r=22050:d=2 "
            "-map 0:v -map 1:a -c:v libtheora -c:a libvorbis -y",
            { Vorbis, {}, -1, 22050, 2 } },
        // Two files one after another: each link timed at its own rate.
        { "chained.ogg", "",
            "{ ffmpeg -v error -f lavfi -i sine=f=440:r=44100:d=2 -c:a libvorbis -metadata title=One -f ogg "
            "-; "
            "ffmpeg -v error -f lavfi -i sine=f=440:r=22050:d=3.5 -c:a libvorbis -f ogg -; } >",
            { Vorbis, { .title = "One" }, -1, 44100, 5 } },
    };
}

const fs::path& madeFolder()
{
    static const TempDir dir("melodex-ogg");
    static const bool made = [] {
        for (const auto& shapes : { madeShapes(), builtShapes() }) {
            for (const Shape& shape : shapes) {
                const fs::path out = dir.path() / shape.file;
                if (shape.command.empty())
                    dir.write(shape.file, shape.bytes);
                else if (std::system((shape.command + " '" + out.string() + "' 2>/dev/null").c_str()) != 0)
                    return false;
            }
        }
        return true;
    }();
    if (!made)
        ADD_FAILURE()
            << "ffmpeg, oggenc or opusenc could not make the test files (scripts/install-deps.sh test)";
    return dir.path();
}

std::vector<Shape> builtShapes()
{
    const std::string one = vorbisStream(1, 8000, { "TITLE=First", "ARTIST=Ann" }, 2);
    const std::string two = vorbisStream(2, 16000, { "TITLE=Second" }, 3);
    const std::size_t headers
        = vorbisIdent(8000).size() + vorbisTags({ "TITLE=First", "ARTIST=Ann" }).size() + kVorbisSetup.size();

    // Theora's pages first and last, the sound's between.
    const std::string theoraIdent = "\x80theora" + std::string(35, 't');
    const std::string muxed = page(9, 0, kFirst, { theoraIdent }) + page(1, 0, kFirst, { vorbisIdent(8000) })
        + page(9, 0, 0, { "\x81theora" + vorbisComment({}), "\x82theora" })
        + page(1, 0, 0, { vorbisTags({ "TITLE=Beside" }), kVorbisSetup }) + page(1, 8000, 0, { "a" })
        + page(9, 5, 0, { std::string(3000, 'v') }) + page(1, 16000, kLast, { "a" })
        + page(9, 10, kLast, { std::string(3000, 'v') });

    // Opus: 2 s after a pre-skip of 312 samples; padding after the last page is no audio.
    const std::string tags = "OpusTags" + vorbisComment({ "TITLE=Padded" });
    const std::string opus = page(3, 0, kFirst, { opusHead(312) }) + page(3, 0, 0, { tags })
        + page(3, 48312, 0, { std::string(2000, 'o') }) + page(3, 96312, kLast, { std::string(2000, 'o') });

    // A comment that spans pages: a picture before the title.
    const std::string bigTags = "OpusTags"
        + vorbisComment({ "METADATA_BLOCK_PICTURE=" + std::string(200000, 'p'), "TITLE=Behind" });
    std::string spanning = page(4, 0, kFirst, { opusHead(0) });
    for (std::size_t at = 0; at < bigTags.size(); at += 255 * 200) {
        const std::string piece = bigTags.substr(at, 255 * 200);
        spanning += page(4, at + piece.size() < bigTags.size() ? kNoGranule : 0, at ? kContinued : 0,
            { piece }, at + piece.size() < bigTags.size());
    }
    spanning += page(4, 48000, kLast, { "o" });

    const std::string bomb = page(5, 0, kFirst, { opusHead(0) })
        + page(5, 0, 0, { "OpusTags" + vorbisComment({ "TITLE=Counted" }, 0xFFFFFFFF) })
        + page(5, 48000, kLast, { std::string(1000, 'o') });
    std::string cut = opus.substr(0, opus.size() - 1000);

    return {
        { "chain.ogg", one + two, "",
            { Vorbis, { .title = "First", .artist = "Ann" }, kbps((one + two).size() - headers, 5), 8000,
                5 } },
        { "muxed.ogg", muxed, "", { Vorbis, { .title = "Beside" }, -1, 8000, 2 } },
        // Content decides: Opus named .ogg is Opus.
        { "opus.ogg", opus + std::string(50000, '\0'), "",
            { Opus, { .title = "Padded" }, kbps(opus.size() - opusHead(312).size() - tags.size(), 2), 48000,
                2 } },
        { "spanning.opus", spanning, "", { Opus, { .title = "Behind" }, -1, 48000, 1 } },
        { "bomb.opus", bomb, "", { Opus, { .title = "Counted" }, -1, 48000, 1 } },
        // Cut inside the last page: the page before it ends the audio.
        { "cut.opus", cut, "", { Opus, { .title = "Padded" }, -1, 48000, 1 } },
        { "headers.opus", opus.substr(0, opus.find("OggS", opus.find("OpusTags"))), "",
            { Opus, { .title = "Padded" }, 0, 0, 0, "no Ogg audio pages" } },
        { "speex.ogg", page(6, 0, kFirst, { "Speex   " + std::string(72, '\0') }) + page(6, 0, 0, { "x" }),
            "", { Vorbis, {}, 0, 0, 0, "no Vorbis, Opus or FLAC stream" } },
    };
}

TEST(OggReader, ReadsEachShape)
{
    const fs::path& folder = madeFolder();
    for (const auto& shapes : { madeShapes(), builtShapes() }) {
        for (const Shape& shape : shapes) {
            const auto d = trackinfo::readTrackDetails((folder / shape.file).c_str());
            EXPECT_EQ(summary(d, shape.expected.kbps >= 0), summary(shape.expected)) << shape.file;
        }
    }
}

// TagLib's reading of the comment (values joined as ours are) and the stream.
template <class File>
TrackDetails tagLibReading(const fs::path& path, AudioFormat format)
{
    File f(path.c_str());
    const TagLib::PropertyMap p = f.properties();
    const auto joined = [&](const char* key) { return p[key].toString("; ").to8Bit(true); };
    TrackDetails d { .format = format, .readable = f.isValid() };
    d.texts = { joined("TITLE"), joined("ARTIST"), joined("ALBUM"), trackinfo::yearOf(joined("DATE")),
        p.contains("DESCRIPTION") ? joined("DESCRIPTION") : joined("COMMENT"), joined("GENRE"),
        f.tag()->track(), joined("ALBUMARTIST") };
    if (const auto* a = f.audioProperties())
        d.bitrateKbps = a->bitrate(), d.sampleRate = a->sampleRate(), d.seconds = a->lengthInSeconds();
    return d;
}

// On the shapes it reads right: TagLib times a chained file at its first
// link's rate over the last page and finds no file behind a video stream.
TEST(OggReader, AgreesWithTagLib)
{
    const fs::path& folder = madeFolder();
    const fs::path vorbis = folder / "tags.ogg", opus = folder / "tags.opus";
    EXPECT_EQ(summary(trackinfo::readTrackDetails(vorbis.c_str())),
        summary(tagLibReading<TagLib::Vorbis::File>(vorbis, Vorbis)));
    EXPECT_EQ(summary(trackinfo::readTrackDetails(opus.c_str())),
        summary(tagLibReading<TagLib::Ogg::Opus::File>(opus, Opus)));
}

} // namespace
} // namespace melodex::test
