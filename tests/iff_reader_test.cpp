#include "trackinfo/plain_tags.h"
#include "trackinfo/track_details.h"

#include <cstdio>
#include <filesystem>
#include <set>
#include <sstream>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <taglib/aifffile.h>
#include <taglib/id3v2tag.h>
#include <taglib/infotag.h>
#include <taglib/wavfile.h>

#include "test_support.h"

namespace melodex::test {
namespace {

using namespace std::string_literals;
using trackinfo::TagTexts;
using trackinfo::TrackDetails;
namespace fs = std::filesystem;

// A chunk; its size as stated (the body's unless given), a pad byte after an odd body unless left out.
std::string chunk(std::string_view id, const std::string& body, bool big = false,
    std::optional<uint64_t> size = {}, bool pad = true)
{
    return std::string(id) + intBytes(size.value_or(body.size()), 4, big) + body
        + (pad && body.size() % 2 ? "\0"s : ""s);
}

std::string form(std::string_view magic, std::string_view kind, const std::string& chunks)
{
    return std::string(magic) + intBytes(chunks.size() + 4, 4, magic == "RIFX" || magic == "FORM")
        + std::string(kind) + chunks;
}

// Mono 8-bit PCM: `rate` bytes a second, unless the byte rate field says otherwise.
std::string fmt8(uint32_t rate, bool big = false, uint32_t byteRate = 0)
{
    return chunk("fmt ",
        intBytes(1, 2, big) + intBytes(1, 2, big) + intBytes(rate, 4, big)
            + intBytes(byteRate ? byteRate : rate, 4, big) + intBytes(1, 2, big) + intBytes(8, 2, big),
        big);
}

std::string data(std::size_t n) { return chunk("data", std::string(n, '\x80')); }

// An ID3v2.3 tag of Latin-1 text frames (under 128 bytes: one synchsafe byte).
std::string id3v23(const std::vector<std::pair<std::string, std::string>>& frames)
{
    std::string body;
    for (const auto& [id, text] : frames)
        body += id + intBytes(text.size() + 1, 4, true) + "\0\0\0"s + text;
    return "ID3\3\0\0\0\0\0"s + static_cast<char>(body.size()) + body;
}

TrackDetails ok(AudioFormat format, int kbps, int rate, int64_t seconds, TagTexts texts = {})
{
    return { format, std::move(texts), 0, kbps, rate, seconds, true };
}

TrackDetails bad(AudioFormat format, std::string problem, TagTexts texts = {})
{
    return { .format = format, .texts = std::move(texts), .problem = std::move(problem) };
}

std::string summary(const TrackDetails& d)
{
    const TagTexts& t = d.texts;
    std::ostringstream s;
    s << formatRow(d.format).name << " | " << t.title << " | " << t.artist << " | " << t.album << " | "
      << t.year << " | " << t.comment << " | " << t.genre << " | " << t.track << " | " << d.bitrateKbps
      << " kbps | " << d.sampleRate << " Hz | " << d.seconds << " s | " << (d.readable ? "ok" : d.problem);
    return s.str();
}

std::string wave(const std::string& chunks) { return form("RIFF", "WAVE", chunks); }

std::string info(const std::string& entries, bool big = false)
{
    return chunk("LIST", "INFO" + entries, big);
}

constexpr auto Wav = AudioFormat::Wav;
constexpr auto Aiff = AudioFormat::Aiff;

struct Shape {
    const char* file; // its extension promises the format
    std::string bytes; // made by hand; else by ffmpeg from a sine of `source`, with `args`
    const char* source;
    const char* args;
    TrackDetails expected;
    uintmax_t cutAt = 0;
};

Shape byHand(const char* file, std::string bytes, TrackDetails expected)
{
    return { file, std::move(bytes), "", "", std::move(expected) };
}

Shape byFfmpeg(
    const char* file, const char* source, const char* args, TrackDetails expected, uintmax_t cutAt = 0)
{
    return { file, "", source, args, std::move(expected), cutAt };
}

// The shapes TagLib and mutagen read right.
const std::set<std::string> kSecondOpinion { "info.wav", "ext.wav", "id3.wav", "id3.aiff", "sowt.aiff" };

std::vector<Shape> shapes()
{
    std::string flood;
    for (int i = 0; i < 2000; ++i)
        flood += chunk("JUNK", "");
    const std::string macComm = intBytes(1, 2, true) + intBytes(44510, 4, true) + intBytes(8, 2, true)
        + "\x40\x0D\xAD\xDD\x17\x46\0\0\0\0"s;
    return {
        byFfmpeg("info.wav", "r=44100:d=1",
            "-ac 2 -metadata title=Title -metadata artist=Artist -metadata album=Album "
            "-metadata date=2003-05-01 -metadata comment=Comment -metadata genre=Jazz -metadata track=7/12",
            ok(Wav, 1411, 44100, 1, { "Title", "Artist", "Album", "2003", "Comment", "Jazz", 7 })),
        byFfmpeg("ext.wav", "r=96000:d=1", "-ac 2 -c:a pcm_s24le", ok(Wav, 4608, 96000, 1)),
        byFfmpeg("rf64.wav", "r=8000:d=2", "-rf64 always", ok(Wav, 128, 8000, 2)),
        // A recording to a pipe states 0xFFFFFFFF for the sizes it did not know.
        byFfmpeg("pipe.wav", "r=8000:d=2", "-f wav - >", ok(Wav, 128, 8000, 2)),
        // 2 s of 16,000 bytes a second behind a short header, cut 20,000 bytes in: the title before the audio
        // stays.
        byFfmpeg("cut.wav", "r=8000:d=2", "-metadata title=Kept", ok(Wav, 128, 8000, 1, { .title = "Kept" }),
            20000),
        byHand("x.wav",
            form("RIFX", "WAVE",
                fmt8(8000, true) + info(chunk("INAM", "Big", true), true)
                    + chunk("data", std::string(16000, 'x'), true)),
            ok(Wav, 64, 8000, 2, { .title = "Big" })),
        byHand("id3.wav",
            wave(fmt8(8000) + info(chunk("INAM", "Info title")) + data(8000)
                + chunk("id3 ", id3v23({ { "TIT2", "Id3 title" }, { "TPE1", "Id3 artist" } }))),
            ok(Wav, 64, 8000, 1, { .title = "Info title", .artist = "Id3 artist" })),
        byHand("front.wav",
            id3v23({ { "TIT2", "Front" }, { "TALB", "Front album" } })
                + wave(info(chunk("IART", "Inside")) + fmt8(8000) + data(8000)),
            ok(Wav, 64, 8000, 1, { .title = "Front", .artist = "Inside", .album = "Front album" })),
        // CP932 text, two artists (the first odd, padded), a track "3/12", a date in words; an entry and the
        // audio of odd size whose writer left out the pad byte.
        byHand("values.wav",
            wave(fmt8(8000) + chunk("data", std::string(8001, 'x'), false, {}, false)
                + info(chunk("INAM", "\x82\xb3\x82\xad\x82\xe7") + chunk("IART", "Ann") + chunk("IART", "Bob")
                    + chunk("ITRK", "3/12") + chunk("ICRD", "May 1999")
                    + chunk("ICMT", "odd", false, {}, false) + chunk("IGNR", "Pop"))),
            ok(Wav, 64, 8000, 1, { "さくら", "Ann; Bob", "", "1999", "odd", "Pop", 3 })),
        // PCM plays as its rate and blocks say, whatever its byte rate field claims.
        byHand("rate.wav", wave(fmt8(8000, false, 1000) + data(16000)), ok(Wav, 64, 8000, 2)),
        // A data size of 0: a recording's when bytes that are no chunk follow, else an empty one.
        byHand("zero.wav", wave(fmt8(8000) + data(0) + std::string(16000, '\x80')), ok(Wav, 64, 8000, 2)),
        byHand("empty.wav", wave(fmt8(8000) + data(0) + info(chunk("INAM", "Empty"))),
            ok(Wav, 64, 8000, 0, { .title = "Empty" })),
        // A value and its list claiming more than the file holds: what is there.
        byHand("past.wav",
            wave(fmt8(8000) + data(8000)
                + chunk("LIST", "INFO" + chunk("INAM", "Cut", false, 0xFFFFFF00), false, 0xFFFFFFF0)),
            ok(Wav, 64, 8000, 1, { .title = "Cut" })),
        byHand("nofmt.wav", wave(info(chunk("INAM", "Alone")) + data(8000)),
            bad(Wav, "no fmt chunk", { .title = "Alone" })),
        // The walk is capped: 2,000 empty chunks hide what follows.
        byHand("flood.wav", wave(flood + fmt8(8000) + data(8000)), bad(Wav, "no fmt chunk")),
        byFfmpeg("texts.aiff", "r=8000:d=1",
            "-metadata title=Name -metadata author=Auth -metadata comment=Anno -metadata copyright=Mine",
            ok(Aiff, 128, 8000, 1, { .title = "Name", .artist = "Auth", .comment = "Anno" })),
        byFfmpeg("id3.aiff", "r=44100:d=1",
            "-ac 2 -write_id3v2 1 -metadata title=Title -metadata artist=Artist -metadata album=Album "
            "-metadata date=2004 -metadata genre=Rock -metadata track=5",
            ok(Aiff, 1411, 44100, 1, { "Title", "Artist", "Album", "2004", "", "Rock", 5 })),
        // COMM counts packets of 64 frames, 34 bytes each.
        byFfmpeg("ima4.aiff", "r=8000:d=2", "-c:a adpcm_ima_qt", ok(Aiff, 34, 8000, 2)),
        byFfmpeg("sowt.aiff", "r=8000:d=2", "-c:a pcm_s16le", ok(Aiff, 128, 8000, 2)),
        byFfmpeg("cut.aiff", "r=8000:d=2", "", ok(Aiff, 128, 8000, 1), 20000),
        // 22254.5454 Hz as a Macintosh wrote it, 44,510 frames of 8 bits behind an SSND offset of 4.
        byHand("mac.aiff",
            form("FORM", "AIFF",
                chunk("COMM", macComm, true)
                    + chunk("SSND", intBytes(4, 4, true) + intBytes(0, 8) + std::string(44510, 'x'), true)),
            ok(Aiff, 178, 22254, 2)),
        byHand("nocomm.aiff", form("FORM", "AIFF", chunk("NAME", "Only", true)),
            bad(Aiff, "no COMM chunk", { .title = "Only" })),
    };
}

fs::path make(const TempDir& dir, const Shape& shape)
{
    if (!shape.bytes.empty())
        return dir.write(shape.file, shape.bytes);
    const fs::path out = dir.path() / shape.file;
    const std::string command = "ffmpeg -v error -y -f lavfi -i sine=f=440:"s + shape.source + " "
        + shape.args + " '" + out.string() + "'";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    if (shape.cutAt)
        fs::resize_file(out, shape.cutAt);
    return out;
}

void requireTool(const char* command)
{
    if (std::system(("command -v "s + command + " >/dev/null").c_str()) != 0)
        FAIL() << command << " is missing: scripts/install-deps.sh test installs it";
}

TEST(IffReader, ReadsEachShape)
{
    requireTool("ffmpeg");
    TempDir dir("melodex-iff");
    for (const Shape& shape : shapes()) {
        const fs::path path = make(dir, shape);
        EXPECT_EQ(summary(trackinfo::readTrackDetails(path.c_str())), summary(shape.expected)) << shape.file;
    }
}

// TagLib's reading of a WAV file's INFO list and ID3 chunk, or of an AIFF file's ID3 chunk.
TrackDetails tagLibDetails(const fs::path& path, AudioFormat format)
{
    TrackDetails d { .format = format, .readable = true };
    const auto addTexts = [&](const TagLib::Tag* tag) {
        if (tag)
            trackinfo::fillMissing(d.texts,
                { tag->title().to8Bit(true), tag->artist().to8Bit(true), tag->album().to8Bit(true),
                    tag->year() ? std::to_string(tag->year()) : "", tag->comment().to8Bit(true),
                    tag->genre().to8Bit(true), tag->track() });
    };
    const auto addStream = [&](const TagLib::AudioProperties* p) {
        d.bitrateKbps = p ? p->bitrate() : -1;
        d.sampleRate = p ? p->sampleRate() : -1;
        d.seconds = p ? p->lengthInSeconds() : -1;
    };
    if (format == Wav) {
        TagLib::RIFF::WAV::File file(path.c_str());
        addTexts(file.InfoTag());
        addTexts(file.ID3v2Tag());
        addStream(file.audioProperties());
    } else {
        TagLib::RIFF::AIFF::File file(path.c_str());
        addTexts(file.tag());
        addStream(file.audioProperties());
    }
    return d;
}

nlohmann::json mutagenReading(const fs::path& path)
{
    const std::string command = MELODEX_PYTHON3
        " -c 'import sys, json, mutagen\n"
        "f = mutagen.File(sys.argv[1]); t = f.tags or {}\n"
        "print(json.dumps([f.info.sample_rate, int(f.info.length), "
        "round(f.info.bitrate / 1000), str(t[\"TPE1\"]) if \"TPE1\" in t else \"\"]))' '"
        + path.string() + "'";
    FILE* pipe = popen(command.c_str(), "r");
    std::string out;
    char buffer[256];
    while (pipe && fgets(buffer, sizeof buffer, pipe))
        out += buffer;
    EXPECT_TRUE(pipe && pclose(pipe) == 0)
        << command << ": python3-mutagen is needed (scripts/install-deps.sh test)";
    return nlohmann::json::parse(out.empty() ? "[0, 0, 0, \"\"]" : out);
}

TEST(IffReader, AgreesWithTagLibAndMutagen)
{
    requireTool("ffmpeg");
    TempDir dir("melodex-iff");
    for (const Shape& shape : shapes()) {
        if (!kSecondOpinion.contains(shape.file))
            continue;
        const fs::path path = make(dir, shape);
        const TrackDetails ours = trackinfo::readTrackDetails(path.c_str());
        EXPECT_EQ(summary(ours), summary(tagLibDetails(path, shape.expected.format))) << shape.file;
        const auto m = mutagenReading(path);
        EXPECT_EQ(m,
            nlohmann::json({ ours.sampleRate, ours.seconds, ours.bitrateKbps,
                m[3].get<std::string>().empty() ? "" : ours.texts.artist }))
            << shape.file;
    }
}

} // namespace
} // namespace melodex::test
