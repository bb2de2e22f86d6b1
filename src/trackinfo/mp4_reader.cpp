// MP4 audio (.m4a, .m4b, .mp4; AAC, ALAC and whatever else a sound track
// holds): the texts of the iTunes item list, the sound track's time and
// sampling rate, and the bit rate its codec configuration declares.
//
// Only the boxes on a few known paths are read (moov/trak/mdia/minf/stbl/
// stsd, moov/udta/meta/ilst, moof/traf/trun), one level at a time, each held
// to its parent (mp4_boxes.h); everything else, the media data and cover
// pictures first of all, is stepped over by its size. A usual file costs
// one to three reads: its head, the movie box when it is at the end, the
// item list when a large sample table lies before it.

#include "trackinfo/format_readers.h"

#include "trackinfo/buffered_stream.h"
#include "trackinfo/byte_order.h"
#include "trackinfo/mp4_boxes.h"
#include "trackinfo/plain_tags.h"
#include "trackinfo/tag_layout.h"
#include "trackinfo/track_details.h"

#include <bit>
#include <climits>
#include <span>

namespace melodex::trackinfo {
namespace {

using mp4::Box;
using mp4::BoxWalk;
using mp4::fourcc;
using mp4::readFields;

// A fragmented file holds a moof and an mdat box for every second or so of
// audio: this many top-level boxes are hours of it, and a walk over their
// headers still takes a fraction of a second.
constexpr uint32_t kMaxTopLevelBoxes = 1u << 17;

uint64_t addCapped(uint64_t a, uint64_t b) { return a > UINT64_MAX - b ? UINT64_MAX : a + b; }

// What the sound track says about itself.
struct AudioTrack {
    uint32_t id = 0; // fragments name their track by it
    uint32_t timescale = 0; // time units a second
    uint64_t duration = 0; // in time units
    uint32_t entryRate = 0; // the sample entry's (16.16, or QuickTime's float)
    uint32_t cookieRate = 0; // ALAC's own
    uint32_t configRate = 0; // the AAC configuration's
    uint32_t declaredBps = 0; // the average the codec configuration declares; 0: none
    std::optional<Box> stts, stsz;

    // ALAC's 32-bit field over the 16.16 one, which cannot hold 96 kHz (and
    // which ffmpeg leaves 0 there), the AAC configuration's behind both.
    int sampleRate() const
    {
        for (const uint32_t rate : { cookieRate, entryRate, configRate }) {
            if (rate != 0)
                return rate > INT_MAX ? INT_MAX : static_cast<int>(rate);
        }
        return 0;
    }
};

struct Track {
    uint32_t handler = 0; // "soun" for sound, "vide" for video ...
    AudioTrack audio;
};

struct Movie {
    int tracks = 0;
    std::optional<AudioTrack> audio; // the first sound track
    std::optional<Box> mvex; // present in fragmented files
    TagTexts texts;
};

// AAC's sampling rates, as its configuration numbers them.
constexpr uint32_t kAacRates[]
    = { 96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000, 7350 };

// The rate an AudioSpecificConfig names: for HE-AAC signalled explicitly the
// rate its SBR extension plays at, else the core's; 0 when it names none.
uint32_t audioSpecificConfigRate(std::span<const unsigned char> config)
{
    std::size_t bit = 0;
    auto bits = [&](int n) {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i, ++bit)
            v = v << 1 | (bit / 8 < config.size() ? (config[bit / 8] >> (7 - bit % 8)) & 1 : 0);
        return v;
    };
    auto rate = [&]() -> uint32_t {
        const uint32_t index = bits(4);
        return index == 15 ? bits(24) : (index < std::size(kAacRates) ? kAacRates[index] : 0);
    };
    uint32_t object = bits(5);
    if (object == 31)
        object = 32 + bits(6);
    uint32_t found = rate();
    if (object == 5 || object == 29) {
        bits(4); // channel configuration
        found = rate();
    }
    return bit <= config.size() * 8 ? found : 0;
}

// An MPEG-4 descriptor in `bytes`: a tag, a length of one to four bytes of
// seven bits each, the body; held to the bytes there are.
struct Descriptor {
    unsigned tag = 0;
    std::size_t body = 0;
    std::size_t end = 0;
};

std::optional<Descriptor> descriptorAt(std::span<const unsigned char> bytes, std::size_t pos, std::size_t end)
{
    if (pos >= end)
        return std::nullopt;
    Descriptor d { bytes[pos++] };
    std::size_t length = 0;
    for (int i = 0; i < 4; ++i) {
        if (pos >= end)
            return std::nullopt;
        const unsigned char b = bytes[pos++];
        length = length << 7 | (b & 0x7F);
        if (!(b & 0x80))
            break;
    }
    d.body = pos;
    d.end = std::min(end, pos + length);
    return d;
}

// The elementary stream descriptor: the declared average bit rate and the
// AAC configuration's rate.
void readEsds(BufferedStream& stream, const Box& esds, AudioTrack& track)
{
    // The descriptors needed come first; a long URL or decoder configuration
    // after them is not needed.
    constexpr std::size_t kMostBytes = 512;
    const std::size_t n = static_cast<std::size_t>(std::min<int64_t>(esds.bodyBytes(), kMostBytes));
    const auto bytes = stream.view(static_cast<long>(esds.body), n, n);
    const auto es = descriptorAt(bytes, 4, bytes.size()); // after the version and flags
    if (!es || es->tag != 3 || es->end - es->body < 3)
        return;
    std::size_t pos = es->body + 2; // the stream's ID
    const unsigned char flags = bytes[pos++];
    if (flags & 0x80) // depends on another stream
        pos += 2;
    if ((flags & 0x40) && pos < es->end) // a URL
        pos += 1 + bytes[pos];
    if (flags & 0x20) // an OCR stream
        pos += 2;
    const auto config = descriptorAt(bytes, pos, es->end);
    // Object type, stream type, buffer size, maximum and average bit rate.
    if (!config || config->tag != 4 || config->end - config->body < 13)
        return;
    track.declaredBps = bigEndian32(bytes.data() + config->body + 9);
    const auto specific = descriptorAt(bytes, config->body + 13, config->end);
    if (specific && specific->tag == 5)
        track.configRate
            = audioSpecificConfigRate(bytes.subspan(specific->body, specific->end - specific->body));
}

// ALAC's magic cookie, after the box's version and flags: frame length,
// version, bit depth, three tuning bytes, channels, maximum run, maximum
// frame bytes, average bit rate, sampling rate.
void readAlacCookie(BufferedStream& stream, const Box& alac, AudioTrack& track)
{
    unsigned char f[8];
    if (!readFields(stream, alac, 20, f, sizeof f))
        return;
    track.declaredBps = bigEndian32(f);
    track.cookieRate = bigEndian32(f + 4);
}

// The codec configuration among a sample entry's boxes; QuickTime files
// keep it one level down, in a "wave" box.
void readCodecConfig(BufferedStream& stream, BoxWalk boxes, AudioTrack& track, bool inWave = false)
{
    while (auto box = boxes.next()) {
        if (box->type == fourcc("esds"))
            readEsds(stream, *box, track);
        else if (box->type == fourcc("alac"))
            readAlacCookie(stream, *box, track);
        else if (box->type == fourcc("wave") && !inWave)
            readCodecConfig(stream, BoxWalk(stream, *box), track, true);
    }
}

// An audio sample entry: six reserved bytes, a data reference, then the
// sound description, whose QuickTime versions 1 and 2 are longer; version 2
// keeps the rate as a 64-bit float.
void readSampleEntry(BufferedStream& stream, const Box& entry, AudioTrack& track)
{
    unsigned char f[28];
    if (!readFields(stream, entry, 0, f, sizeof f))
        return;
    const uint16_t version = bigEndian16(f + 8);
    track.entryRate = bigEndian32(f + 24) >> 16;
    int64_t extra = 0;
    if (version == 1) {
        extra = 16;
    } else if (version == 2) {
        extra = 36;
        track.entryRate = 0;
        unsigned char rate[8];
        if (readFields(stream, entry, 32, rate, sizeof rate)) {
            const double hz = std::bit_cast<double>(bigEndian64(rate));
            if (hz >= 1 && hz <= 1e7)
                track.entryRate = static_cast<uint32_t>(hz);
        }
    }
    readCodecConfig(stream, BoxWalk(stream, entry, int64_t(sizeof f) + extra), track);
}

// mdhd: version 0 has 32-bit times, version 1 64-bit ones; a duration of
// all ones says it is not known.
void readMediaHeader(BufferedStream& stream, const Box& mdhd, AudioTrack& track)
{
    unsigned char f[32];
    if (!readFields(stream, mdhd, 0, f, 1))
        return;
    if (f[0] == 1 && readFields(stream, mdhd, 0, f, 32)) {
        track.timescale = bigEndian32(f + 20);
        const uint64_t duration = bigEndian64(f + 24);
        track.duration = duration == UINT64_MAX ? 0 : duration;
    } else if (f[0] == 0 && readFields(stream, mdhd, 0, f, 20)) {
        track.timescale = bigEndian32(f + 12);
        const uint32_t duration = bigEndian32(f + 16);
        track.duration = duration == UINT32_MAX ? 0 : duration;
    }
}

void readSampleTable(BufferedStream& stream, const Box& stbl, AudioTrack& track)
{
    BoxWalk boxes(stream, stbl);
    // The chunk tables behind these (stco, stsc ...) are never needed:
    // their headers may lie past a large sample size table, a read saved.
    bool entry = false;
    while (!(entry && track.stts && track.stsz)) {
        const auto box = boxes.next();
        if (!box)
            break;
        if (box->type == fourcc("stsd")) {
            // Version, flags and the count of entries; the first entry is the one used.
            entry = true;
            if (const auto first = BoxWalk(stream, *box, 8, 1).next())
                readSampleEntry(stream, *first, track);
        } else if (box->type == fourcc("stts")) {
            track.stts = box;
        } else if (box->type == fourcc("stsz")) {
            track.stsz = box;
        }
    }
}

void readMedia(BufferedStream& stream, const Box& mdia, Track& track)
{
    BoxWalk boxes(stream, mdia);
    while (auto box = boxes.next()) {
        unsigned char f[12];
        if (box->type == fourcc("mdhd")) {
            readMediaHeader(stream, *box, track.audio);
        } else if (box->type == fourcc("hdlr") && readFields(stream, *box, 0, f, sizeof f)) {
            track.handler = bigEndian32(f + 8); // after version, flags and a reserved word
        } else if (box->type == fourcc("minf")) {
            if (const auto stbl = BoxWalk(stream, *box).find(fourcc("stbl")))
                readSampleTable(stream, *stbl, track.audio);
        }
    }
}

Track readTrack(BufferedStream& stream, const Box& trak)
{
    Track track;
    BoxWalk boxes(stream, trak);
    while (auto box = boxes.next()) {
        unsigned char f[24];
        if (box->type == fourcc("tkhd") && readFields(stream, *box, 0, f, 1)) {
            // The ID follows two times of 32 bits in version 0, of 64 in version 1.
            const std::size_t at = f[0] == 1 ? 20 : 12;
            if (readFields(stream, *box, 0, f, at + 4))
                track.audio.id = bigEndian32(f + at);
        } else if (box->type == fourcc("mdia")) {
            readMedia(stream, *box, track);
        }
    }
    return track;
}

// The item list of a meta box. MP4 makes "meta" a full box (a version and
// flags before its children); QuickTime does not, and its first child's
// size is never 0 there.
void readMeta(BufferedStream& stream, const Box& meta, TagTexts& texts)
{
    unsigned char f[4];
    const int64_t skip = readFields(stream, meta, 0, f, sizeof f) && bigEndian32(f) == 0 ? 4 : 0;
    if (const auto ilst = BoxWalk(stream, meta, skip).find(fourcc("ilst")))
        fillMissing(texts, mp4::readItemList(stream, *ilst));
}

Movie readMovie(BufferedStream& stream, const Box& moov)
{
    Movie movie;
    BoxWalk boxes(stream, moov);
    while (auto box = boxes.next()) {
        if (box->type == fourcc("trak")) {
            ++movie.tracks;
            Track track = readTrack(stream, *box);
            if (!movie.audio && track.handler == fourcc("soun"))
                movie.audio = track.audio;
        } else if (box->type == fourcc("mvex")) {
            movie.mvex = box;
        } else if (box->type == fourcc("udta")) {
            if (const auto meta = BoxWalk(stream, *box).find(fourcc("meta")))
                readMeta(stream, *meta, movie.texts);
        } else if (box->type == fourcc("meta")) {
            readMeta(stream, *box, movie.texts);
        }
    }
    return movie;
}

// Fragments ----------------------------------------------------------------

// What a sample of a fragment is when its run does not say.
struct SampleDefaults {
    uint32_t duration = 0;
    uint32_t size = 0;
};

struct Totals {
    uint64_t ticks = 0;
    uint64_t bytes = 0;
};

// The defaults the movie sets for a track (trex, in mvex).
SampleDefaults movieDefaults(BufferedStream& stream, const Box& mvex, uint32_t trackId)
{
    BoxWalk boxes(stream, mvex);
    while (const auto trex = boxes.find(fourcc("trex"))) {
        // Version and flags, track, description index, duration, size.
        unsigned char f[20];
        if (readFields(stream, *trex, 0, f, sizeof f) && bigEndian32(f + 4) == trackId)
            return { bigEndian32(f + 12), bigEndian32(f + 16) };
    }
    return {};
}

// A fragment's track header: the defaults of its samples, or nothing when
// it is another track's. Its optional fields follow the track ID in the
// order of their flags.
std::optional<SampleDefaults> fragmentDefaults(
    BufferedStream& stream, const Box& tfhd, uint32_t trackId, SampleDefaults defaults)
{
    unsigned char f[8];
    if (!readFields(stream, tfhd, 0, f, sizeof f) || bigEndian32(f + 4) != trackId)
        return std::nullopt;
    const uint32_t flags = bigEndian32(f) & 0xFFFFFF;
    int64_t at = 8 + (flags & 0x01 ? 8 : 0) + (flags & 0x02 ? 4 : 0); // base offset, description
    unsigned char v[4];
    if (flags & 0x08) {
        if (readFields(stream, tfhd, at, v, sizeof v))
            defaults.duration = bigEndian32(v);
        at += 4;
    }
    if ((flags & 0x10) && readFields(stream, tfhd, at, v, sizeof v))
        defaults.size = bigEndian32(v);
    return defaults;
}

// A run of samples: their count, optional fields, then per sample what its
// flags say (duration, size, flags, composition offset). The entries are
// read only where the defaults do not answer; a run cut short counts the
// samples it holds.
void addRun(BufferedStream& stream, const Box& trun, SampleDefaults defaults, bool needBytes, Totals& totals)
{
    unsigned char f[8];
    if (!readFields(stream, trun, 0, f, sizeof f))
        return;
    const uint32_t flags = bigEndian32(f) & 0xFFFFFF;
    const uint32_t count = bigEndian32(f + 4);
    const bool durations = flags & 0x100, sizes = flags & 0x200;
    if (!durations && !(sizes && needBytes)) {
        totals.ticks = addCapped(totals.ticks, uint64_t(count) * defaults.duration);
        totals.bytes = addCapped(totals.bytes, uint64_t(count) * defaults.size);
        return;
    }
    const int64_t at = 8 + (flags & 0x01 ? 4 : 0) + (flags & 0x04 ? 4 : 0); // data offset, first flags
    const std::size_t entryBytes = 4 * static_cast<std::size_t>(std::popcount(flags & 0xF00));
    const std::size_t sizeAt = durations ? 4 : 0;
    mp4::forEachEntry(stream, trun, at, count, entryBytes, [&](const unsigned char* e) {
        totals.ticks = addCapped(totals.ticks, durations ? bigEndian32(e) : defaults.duration);
        totals.bytes = addCapped(totals.bytes, sizes ? bigEndian32(e + sizeAt) : defaults.size);
    });
}

// The sound track's samples in one movie fragment.
void addFragment(
    BufferedStream& stream, const Box& moof, const AudioTrack& audio, SampleDefaults defaults, Totals& totals)
{
    BoxWalk trafs(stream, moof);
    while (const auto traf = trafs.find(fourcc("traf"))) {
        BoxWalk boxes(stream, *traf);
        const auto tfhd = boxes.find(fourcc("tfhd"));
        const auto own = tfhd ? fragmentDefaults(stream, *tfhd, audio.id, defaults) : std::nullopt;
        if (!own)
            continue;
        while (const auto trun = boxes.find(fourcc("trun")))
            addRun(stream, *trun, *own, audio.declaredBps == 0, totals);
    }
}

// Sample tables -------------------------------------------------------------

// The time of the samples the movie box itself holds (stts: runs of a
// count and a duration).
uint64_t tableTicks(BufferedStream& stream, const Box& stts)
{
    unsigned char f[8];
    if (!readFields(stream, stts, 0, f, sizeof f))
        return 0;
    uint64_t ticks = 0;
    mp4::forEachEntry(stream, stts, 8, bigEndian32(f + 4), 8, [&](const unsigned char* e) {
        ticks = addCapped(ticks, uint64_t(bigEndian32(e)) * bigEndian32(e + 4));
    });
    return ticks;
}

// The bytes of the samples the movie box holds (stsz: one size for all, or
// a size for each).
uint64_t tableBytes(BufferedStream& stream, const Box& stsz)
{
    unsigned char f[12];
    if (!readFields(stream, stsz, 0, f, sizeof f))
        return 0;
    const uint32_t size = bigEndian32(f + 4), count = bigEndian32(f + 8);
    if (size != 0)
        return uint64_t(size) * count;
    uint64_t bytes = 0;
    mp4::forEachEntry(stream, stsz, 12, count, 4,
        [&](const unsigned char* e) { bytes = addCapped(bytes, bigEndian32(e)); });
    return bytes;
}

// The whole file ------------------------------------------------------------

struct FileFacts {
    bool hasMovie = false;
    Movie movie;
    Totals fragments;
    uint64_t mediaBytes = 0; // the payload of every mdat box the file holds
    bool mediaCut = false; // an mdat box runs past the end of the file
};

FileFacts walkFile(BufferedStream& stream, int64_t start)
{
    FileFacts facts;
    SampleDefaults defaults;
    BoxWalk boxes(stream, start, stream.size(), kMaxTopLevelBoxes);
    while (const auto box = boxes.next()) {
        switch (box->type) {
        case fourcc("moov"):
            if (facts.hasMovie)
                break;
            facts.hasMovie = true;
            facts.movie = readMovie(stream, *box);
            if (facts.movie.audio && facts.movie.mvex)
                defaults = movieDefaults(stream, *facts.movie.mvex, facts.movie.audio->id);
            // Past the movie box only fragments and the media data's size
            // can matter, the latter only for a bit rate to measure.
            if (!facts.movie.mvex && !(facts.movie.audio && facts.movie.audio->declaredBps == 0))
                return facts;
            break;
        case fourcc("moof"):
            if (facts.movie.audio && facts.movie.mvex)
                addFragment(stream, *box, *facts.movie.audio, defaults, facts.fragments);
            break;
        case fourcc("mdat"):
            facts.mediaBytes = addCapped(facts.mediaBytes, static_cast<uint64_t>(box->bodyBytes()));
            facts.mediaCut = facts.mediaCut || box->cut;
            break;
        default:
            break;
        }
    }
    return facts;
}

// The sound track's bytes: a file of one track, whole, holds nothing else in
// its mdat boxes, whose size then answers without a walk over the sizes of
// all its samples.
uint64_t audioBytes(BufferedStream& stream, const FileFacts& facts)
{
    const AudioTrack& audio = *facts.movie.audio;
    if (!facts.movie.mvex && facts.movie.tracks == 1 && facts.mediaBytes > 0 && !facts.mediaCut)
        return facts.mediaBytes;
    const uint64_t inMovie = audio.stsz ? tableBytes(stream, *audio.stsz) : 0;
    return facts.movie.mvex ? addCapped(inMovie, facts.fragments.bytes) : inMovie;
}

} // namespace

void readMp4File(BufferedStream& stream, TagLayout& layout, TrackDetails& details)
{
    const auto& id3v2 = layout.id3v2();
    const FileFacts facts = walkFile(stream, id3v2 ? id3v2->extent() : 0);
    details.texts = facts.movie.texts;
    if (id3v2 && id3v2->readable())
        fillMissing(details.texts, readId3v2Texts(stream, 0, *id3v2));
    if (!facts.hasMovie) {
        details.problem = "no moov box";
        return;
    }
    if (!facts.movie.audio) {
        details.problem = "no audio track";
        return;
    }
    const AudioTrack& audio = *facts.movie.audio;
    // A fragmented file's movie box holds few samples or none, and its
    // duration may count the fragments or not: the samples say it exactly.
    const uint64_t ticks = facts.movie.mvex
        ? addCapped(audio.stts ? tableTicks(stream, *audio.stts) : 0, facts.fragments.ticks)
        : audio.duration;
    details.sampleRate = audio.sampleRate();
    if (audio.timescale != 0)
        details.seconds = static_cast<int64_t>(std::min<uint64_t>(ticks / audio.timescale, INT64_MAX));
    details.bitrateKbps = audio.declaredBps != 0
        ? static_cast<int>((uint64_t(audio.declaredBps) + 500) / 1000)
        : averageKbps(audioBytes(stream, facts), ticks, audio.timescale);
    details.readable = true;
}

} // namespace melodex::trackinfo
