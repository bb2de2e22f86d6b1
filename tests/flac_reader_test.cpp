// The FLAC reader on files flac and ffmpeg make and on shapes built block by
// block around the frames flac encoded; every expected value comes from how
// the file was made.
#include "trackinfo/plain_tags.h"
#include "trackinfo/track_details.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include <gtest/gtest.h>
#include <taglib/flacfile.h>
#include <taglib/tpropertymap.h>

#include "test_support.h"

namespace melodex::test {
namespace {

using namespace std::string_literals;
using trackinfo::TagTexts;
using trackinfo::TrackDetails;
namespace fs = std::filesystem;

// A Vorbis comment: vendor, count (the comments' unless given), comments.
std::string vorbisComment(const std::vector<std::string>& comments, std::optional<uint32_t> count = {})
{
    std::string out = intBytes(4, 4, false) + "test" + intBytes(count.value_or(comments.size()), 4, false);
    for (const auto& c : comments)
        out += intBytes(c.size(), 4, false) + c;
    return out;
}

std::string block(int type, const std::string& body, bool last = false)
{
    return static_cast<char>(type | (last ? 0x80 : 0)) + intBytes(body.size(), 3, true) + body;
}

// ID3v2.3 of Latin-1 text frames, under 128 bytes.
std::string id3v23(const std::vector<std::pair<std::string, std::string>>& frames)
{
    std::string body;
    for (const auto& [id, text] : frames)
        body += id + intBytes(text.size() + 1, 4, true) + "\0\0\0"s + text;
    return "ID3\3\0\0\0\0\0"s + static_cast<char>(body.size()) + body;
}

std::string run(const std::string& command)
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

// 2 s of an 8 kHz mono sine as flac encodes it: its STREAMINFO and its
// frames, to build files around.
struct Encoded {
    std::string streamInfo, frames;
};

const Encoded& encoded()
{
    static const Encoded e = [] {
        const std::string file
            = run("ffmpeg -v error -f lavfi -i sine=f=440:r=8000:d=2 -f s16le - | flac -s "
                  "--force-raw-format --endian=little --sign=signed --channels=1 --bps=16 "
                  "--sample-rate=8000 --input-size=32000 --no-padding --no-seektable -c -");
        Encoded out;
        std::size_t at = 4;
        for (bool last = false; !last && at + 4 <= file.size();) {
            last = (file[at] & 0x80) != 0;
            const std::size_t length = std::size_t(uint8_t(file[at + 1])) << 16
                | std::size_t(uint8_t(file[at + 2])) << 8 | uint8_t(file[at + 3]);
            if ((file[at] & 0x7F) == 0)
                out.streamInfo = file.substr(at + 4, length);
            at += 4 + length;
        }
        if (file.empty() || out.streamInfo.size() != 34)
            ADD_FAILURE() << "flac could not encode (scripts/install-deps.sh test installs it)";
        out.frames = file.substr(std::min(at, file.size()));
        return out;
    }();
    return e;
}

// The STREAMINFO with its count of samples left 0, as an encoder writing to
// a pipe leaves it.
std::string withoutCount(std::string streamInfo)
{
    streamInfo[13] = static_cast<char>(streamInfo[13] & 0xF0);
    std::fill(streamInfo.begin() + 14, streamInfo.begin() + 18, '\0');
    return streamInfo;
}

// "fLaC", STREAMINFO (unless left out), the blocks, the frames.
std::string flacFile(
    const std::vector<std::string>& blocks, const std::string& streamInfo = encoded().streamInfo)
{
    std::string out = "fLaC";
    if (!streamInfo.empty())
        out += block(0, streamInfo, blocks.empty());
    for (std::size_t i = 0; i < blocks.size(); ++i)
        out += (i + 1 == blocks.size()) ? static_cast<char>(blocks[i][0] | 0x80) + blocks[i].substr(1)
                                        : blocks[i];
    return out + encoded().frames;
}

// The bit rate of the encoded frames over their 2 s.
int framesKbps() { return static_cast<int>(std::lround(encoded().frames.size() * 8 / 2000.0)); }

struct Expected {
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
        { AudioFormat::Flac, e.texts, 0, e.kbps, e.rate, e.seconds, e.problem.empty(), 0, e.problem },
        e.kbps >= 0);
}

struct Shape {
    const char* file;
    std::string bytes; // built here; else made by `command` into the file
    std::string command;
    Expected expected;
};

const std::string kSine = "ffmpeg -v error -f lavfi -i sine=f=440:r=44100:d=3 -ac 2 -f s16le - | ";
const std::string kRaw = "--force-raw-format --endian=little --sign=signed --bps=16 ";

std::vector<Shape> shapes()
{
    const std::string cp932Title = "TITLE=\x82\xb3\x82\xad\x82\xe7";
    const std::string picture = "METADATA_BLOCK_PICTURE=" + std::string(300000, 'p');
    const std::string comments = block(4,
        vorbisComment({ "title=Built", "Artist=Ann", "ARTIST=", "ARTIST=Bob", "COMMENT=Plain",
            "DESCRIPTION=Described", "YEAR=Oct 3, 1995", "GENRE=Jazz", "GENRE=Funk", "TRACKNUMBER= 07/12",
            "ALBUMARTIST=Various", "NOEQUALS", "ALBUM" }));
    const int kbps = framesKbps();
    std::string cut
        = flacFile({ block(4, vorbisComment({ "TITLE=Cut", "ARTIST=" + std::string(5000, 'a') })) });
    cut.resize(cut.find("TITLE=Cut") + 2000);
    return {
        { "tags.flac", "",
            kSine + "flac -s " + kRaw
                + "--channels=2 --sample-rate=44100 --input-size=529200 --tag=TITLE=Title --tag=ARTIST=Ann "
                  "--tag=ARTIST=Bob --tag=ALBUM=Album "
                  "--tag=DATE=2003-05-01 --tag=COMMENT=Note --tag=GENRE=Jazz --tag=TRACKNUMBER=7/12 "
                  "--tag=ALBUMARTIST=Various -c - >",
            { { "Title", "Ann; Bob", "Album", "2003", "Note", "Jazz", 7, "Various" }, -1, 44100, 3 } },
        // Written to a pipe, STREAMINFO says 0 samples: ffmpeg states the largest frame, flac does not.
        { "ffpipe.flac", "", "ffmpeg -v error -f lavfi -i sine=f=440:r=44100:d=3 -f flac - >",
            { {}, -1, 44100, 3 } },
        { "rawpipe.flac", "",
            "ffmpeg -v error -f lavfi -i sine=f=440:r=48000:d=3 -f s16le - | flac -s " + kRaw
                + "--channels=1 --sample-rate=48000 -c - >",
            { {}, -1, 48000, 3 } },
        // Reading a WAV from a pipe, flac claims the most samples a header can say.
        { "claim.flac", "", "ffmpeg -v error -f lavfi -i sine=f=440:r=44100:d=3 -f wav - | flac -s -c - >",
            { {}, -1, 44100, 3 } },
        // Names in any case; empty values and comments without "=" are no values; DESCRIPTION before
        // COMMENT; YEAR where no DATE is.
        { "values.flac", flacFile({ comments }), "",
            { { "Built", "Ann; Bob", "", "1995", "Described", "Jazz; Funk", 7, "Various" }, kbps, 8000, 2 } },
        { "legacy.flac", flacFile({ block(4, vorbisComment({ cp932Title })) }), "",
            { { .title = "さくら" }, kbps, 8000, 2 } },
        { "zeroed.flac", flacFile({}, withoutCount(encoded().streamInfo)), "", { {}, kbps, 8000, 2 } },
        // The Vorbis comment first, then the ID3v2 tag in front, field by field; the tag is no audio.
        { "front.flac",
            id3v23({ { "TIT2", "Front" }, { "TALB", "Front album" } })
                + flacFile({ block(1, std::string(100, '\0')), block(4, vorbisComment({ "TITLE=Own" })) }),
            "", { { .title = "Own", .album = "Front album" }, kbps, 8000, 2 } },
        // A picture stored as a comment is stepped over.
        { "picture.flac", flacFile({ block(4, vorbisComment({ picture, "TITLE=After" })) }), "",
            { { .title = "After" }, kbps, 8000, 2 } },
        // Counts and sizes past what the block holds: what it holds.
        { "count.flac", flacFile({ block(4, vorbisComment({ "TITLE=Counted" }, 0xFFFFFFFF)) }), "",
            { { .title = "Counted" }, kbps, 8000, 2 } },
        { "length.flac",
            flacFile(
                { block(4, vorbisComment({ "TITLE=Kept" }) + intBytes(0xFFFFFF00, 4, false) + "ARTIST=x") }),
            "", { { .title = "Kept" }, kbps, 8000, 2 } },
        // Cut inside its third frame of 4,096 samples: the two before it, 1 s.
        { "cutframes.flac", flacFile({}).substr(0, flacFile({}).size() - encoded().frames.size() * 4 / 10),
            "", { {}, -1, 8000, 1 } },
        { "cut.flac", cut, "", { { .title = "Cut" }, 0, 0, 0, "no FLAC frames" } },
        { "nostreaminfo.flac", flacFile({ block(4, vorbisComment({ "TITLE=Alone" })) }, ""), "",
            { { .title = "Alone" }, 0, 0, 0, "FLAC STREAMINFO missing" } },
    };
}

const fs::path& madeFolder()
{
    static const TempDir dir("melodex-flac");
    static const bool made = [] {
        for (const Shape& shape : shapes()) {
            const fs::path out = dir.path() / shape.file;
            if (shape.command.empty())
                dir.write(shape.file, shape.bytes);
            else if (std::system((shape.command + " '" + out.string() + "' 2>/dev/null").c_str()) != 0)
                return false;
        }
        return true;
    }();
    if (!made)
        ADD_FAILURE() << "flac or ffmpeg could not make the test files (scripts/install-deps.sh test)";
    return dir.path();
}

TEST(FlacReader, ReadsEachShape)
{
    const fs::path& folder = madeFolder();
    for (const Shape& shape : shapes()) {
        const auto d = trackinfo::readTrackDetails((folder / shape.file).c_str());
        EXPECT_EQ(summary(d, shape.expected.kbps >= 0), summary(shape.expected)) << shape.file;
    }
}

// The count an encoder writing to a pipe could not fill in is the one it
// writes to a file: the same time and bit rate either way.
TEST(FlacReader, CountsFramesAsStreamInfoWould)
{
    TempDir dir("melodex-flac");
    const auto counted = trackinfo::readTrackDetails(dir.write("a.flac", flacFile({})).c_str());
    const auto zeroed = trackinfo::readTrackDetails(
        dir.write("b.flac", flacFile({}, withoutCount(encoded().streamInfo))).c_str());
    EXPECT_EQ(summary(zeroed), summary(counted));
}

// TagLib's reading of the comment (values joined as ours are) and the stream.
TrackDetails tagLibReading(const fs::path& file)
{
    TagLib::FLAC::File f(file.c_str());
    const TagLib::PropertyMap p = f.properties();
    const auto joined = [&](const char* key) { return p[key].toString("; ").to8Bit(true); };
    TrackDetails d { .format = AudioFormat::Flac, .readable = f.isValid() };
    d.texts = { joined("TITLE"), joined("ARTIST"), joined("ALBUM"), trackinfo::yearOf(joined("DATE")),
        p.contains("DESCRIPTION") ? joined("DESCRIPTION") : joined("COMMENT"), joined("GENRE"),
        f.tag()->track(), joined("ALBUMARTIST") };
    if (const auto* a = f.audioProperties())
        d.bitrateKbps = a->bitrate(), d.sampleRate = a->sampleRate(), d.seconds = a->lengthInSeconds();
    return d;
}

// On the shapes it reads right: TagLib times a stream whose STREAMINFO says
// 0 samples as 0 s, loses text that is not UTF-8, and leaves an ID3v2 tag's
// fields out of its properties.
TEST(FlacReader, AgreesWithTagLib)
{
    const fs::path& folder = madeFolder();
    for (const char* file : { "tags.flac", "picture.flac" }) {
        const fs::path path = folder / file;
        EXPECT_EQ(summary(trackinfo::readTrackDetails(path.c_str())), summary(tagLibReading(path))) << file;
    }
}

} // namespace
} // namespace melodex::test
