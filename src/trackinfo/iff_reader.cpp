// WAV and AIFF are one container drawn twice: a form ("RIFF", "RF64",
// "RIFX" or "FORM") of chunks, each a four-letter ID, a size and a body
// padded to an even length. They differ in byte order and in the chunks
// that say what the audio is and what it is called, so one walk reads both.
//
// A size in these files is a claim. Downloads stop early, and a program that
// records to a pipe cannot go back to fill in the sizes it did not know, so
// it leaves 0 or 0xFFFFFFFF. Every chunk is held to what the file holds, a
// chunk that runs past the end keeps what came before it, and an audio chunk
// of unknown size is whatever follows its header.

#include "trackinfo/format_readers.h"

#include "common/sjis.h"
#include "trackinfo/buffered_stream.h"
#include "trackinfo/byte_order.h"
#include "trackinfo/plain_tags.h"
#include "trackinfo/tag_layout.h"
#include "trackinfo/track_details.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace melodex::trackinfo {
namespace {

// Real files hold a dozen chunks, and an INFO list a dozen entries. The walk
// of a file stops after this many of both together, so that a file of a
// million empty chunks costs what a large real one does.
constexpr int kMaxChunks = 1024;

constexpr std::size_t kChunkHeaderBytes = 8;

// What a writer that could not go back leaves for a size it did not know.
constexpr uint64_t kUnknownSize = 0xFFFFFFFF;

struct ByteOrder {
    bool big = false;
    uint16_t u16(const unsigned char* p) const { return big ? bigEndian16(p) : littleEndian16(p); }
    uint32_t u32(const unsigned char* p) const { return big ? bigEndian32(p) : littleEndian32(p); }
};

struct Chunk {
    std::array<char, 4> id {};
    int64_t body = 0; // where its body starts
    uint64_t size = 0; // as stated
    int64_t held = 0; // what the form holds of its body

    bool is(std::string_view name) const { return std::string_view(id.data(), id.size()) == name; }
};

// The chunks from `first` up to `end`, one after another, never into one.
class ChunkWalk {
public:
    ChunkWalk(BufferedStream& stream, ByteOrder order, int64_t first, int64_t end, int& walked)
        : stream_(stream)
        , order_(order)
        , next_(first)
        , end_(end)
        , walked_(walked)
    {
    }

    // The next chunk; nothing where none follows: the end, bytes that are no
    // chunk (zeros, junk or another tag after the form), a chunk before that
    // ran past the end, or the cap.
    std::optional<Chunk> next();

    // The chunk next() gave last is `size` long, whatever its header says
    // (RF64's data, a recording's audio of unknown size).
    void resize(Chunk& chunk, uint64_t size);

    // True when a chunk's header starts at offset.
    bool chunkAt(int64_t offset) { return !headerAt(offset).empty(); }

private:
    std::span<const unsigned char> headerAt(int64_t offset);

    BufferedStream& stream_;
    ByteOrder order_;
    int64_t next_; // -1: nothing can follow
    int64_t end_;
    bool afterOdd_ = false;
    int& walked_;
};

std::span<const unsigned char> ChunkWalk::headerAt(int64_t offset)
{
    if (offset < 0 || end_ - offset < static_cast<int64_t>(kChunkHeaderBytes))
        return {};
    const auto head = stream_.view(static_cast<long>(offset), kChunkHeaderBytes, kChunkHeaderBytes);
    if (head.size() < kChunkHeaderBytes || !std::all_of(head.begin(), head.begin() + 4, [](unsigned char c) {
            return c >= 0x20 && c <= 0x7E;
        }))
        return {};
    return head;
}

std::optional<Chunk> ChunkWalk::next()
{
    if (next_ < 0 || ++walked_ > kMaxChunks)
        return std::nullopt;
    int64_t at = next_;
    // A chunk of odd size is followed by a pad byte of 0. Where a printable
    // byte stands in its place, the writer left the pad out and the next
    // chunk begins there.
    auto head = afterOdd_ ? headerAt(at - 1) : std::span<const unsigned char>();
    if (!head.empty())
        --at;
    else
        head = headerAt(at);
    if (head.empty())
        return std::nullopt;
    Chunk chunk;
    std::memcpy(chunk.id.data(), head.data(), chunk.id.size());
    chunk.body = at + static_cast<int64_t>(kChunkHeaderBytes);
    resize(chunk, order_.u32(head.data() + 4));
    return chunk;
}

void ChunkWalk::resize(Chunk& chunk, uint64_t size)
{
    const auto left = static_cast<uint64_t>(end_ - chunk.body);
    chunk.size = size;
    chunk.held = static_cast<int64_t>(std::min(size, left));
    afterOdd_ = (size & 1) != 0;
    next_ = size <= left ? chunk.body + static_cast<int64_t>(size + (size & 1)) : -1;
}

// The bytes of a text chunk, up to kMaxTagValueBytes.
std::string readValue(BufferedStream& stream, const Chunk& chunk)
{
    std::string bytes(static_cast<std::size_t>(std::min<int64_t>(chunk.held, kMaxTagValueBytes)), '\0');
    bytes.resize(stream.readAt(static_cast<long>(chunk.body), bytes.data(), bytes.size()));
    return bytes;
}

// A chunk whose body is one text, and the field it fills; no field: the
// track number.
struct TextChunk {
    std::string_view id;
    std::string TagTexts::*field;
};

constexpr std::array<TextChunk, 8> kInfoTexts { {
    { "INAM", &TagTexts::title },
    { "IART", &TagTexts::artist },
    { "IPRD", &TagTexts::album },
    { "ICRD", &TagTexts::year },
    { "ICMT", &TagTexts::comment },
    { "IGNR", &TagTexts::genre },
    { "ITRK", nullptr },
    { "IPRT", nullptr },
} };

// "(c) " is left out: a copyright is no comment.
constexpr std::array<TextChunk, 3> kAiffTexts { {
    { "NAME", &TagTexts::title },
    { "AUTH", &TagTexts::artist },
    { "ANNO", &TagTexts::comment },
} };

// A text chunk's value added to its field: several of one field are joined.
// The texts are 8-bit in whatever code page the writer's system used.
void addText(BufferedStream& stream, const Chunk& chunk, std::span<const TextChunk> kinds, TagTexts& texts)
{
    const auto kind
        = std::find_if(kinds.begin(), kinds.end(), [&](const TextChunk& k) { return chunk.is(k.id); });
    if (kind == kinds.end())
        return;
    if (!kind->field) {
        if (texts.track == 0)
            texts.track = trackNumberOf(sjis::legacyToUtf8(readValue(stream, chunk)));
        return;
    }
    std::string& field = texts.*kind->field;
    // A thousand copies of one large text would take the memory of all of them.
    if (field.size() >= kMaxTagValueBytes)
        return;
    const std::string value = sjis::legacyToUtf8(readValue(stream, chunk));
    if (value.empty())
        return;
    if (!field.empty())
        field += kValueJoiner;
    field += value;
}

struct WaveFormat {
    uint16_t coding = 0; // the format tag, or an extensible format's sub-format
    uint16_t channels = 0;
    uint32_t rate = 0;
    uint32_t byteRate = 0;
    uint16_t blockAlign = 0;
};

struct AiffFormat {
    uint16_t channels = 0;
    uint32_t frames = 0;
    uint16_t sampleSize = 0; // bits
    long double rate = 0; // Hz, not always whole
    std::array<char, 4> compression { 'N', 'O', 'N', 'E' };
};

// What the walk found.
struct IffScan {
    bool wave = true; // else AIFF
    bool aifc = false;
    bool rf64 = false;
    ByteOrder order;
    TagTexts own; // LIST INFO or NAME/AUTH/ANNO, the year as stored
    std::optional<TagTexts> id3; // the first ID3 chunk's
    std::optional<uint64_t> ds64Data; // RF64's size of the data chunk
    std::optional<WaveFormat> waveFormat;
    std::optional<AiffFormat> aiffFormat;
    std::optional<int64_t> audioBytes; // the samples the file holds
};

// The 80-bit extended float of AIFF's sample rate; 0 for a negative number,
// an infinity or not a number.
long double extendedFloat(const unsigned char* p)
{
    const int exponent = (p[0] & 0x7F) << 8 | p[1];
    if ((p[0] & 0x80) != 0 || exponent == 0x7FFF)
        return 0;
    return std::ldexp(static_cast<long double>(bigEndian64(p + 2)), exponent - 16383 - 63);
}

void readWaveFormat(BufferedStream& stream, const Chunk& chunk, IffScan& scan)
{
    constexpr std::size_t kExtensibleBytes = 40;
    if (scan.waveFormat || chunk.held < 16)
        return;
    const auto want = static_cast<std::size_t>(std::min<int64_t>(chunk.held, kExtensibleBytes));
    const auto p = stream.view(static_cast<long>(chunk.body), want, want);
    if (p.size() < want)
        return;
    const ByteOrder o = scan.order;
    WaveFormat f { o.u16(p.data()), o.u16(p.data() + 2), o.u32(p.data() + 4), o.u32(p.data() + 8),
        o.u16(p.data() + 12) };
    // WAVE_FORMAT_EXTENSIBLE names its coding in the first field of the GUID
    // that follows the common part.
    if (f.coding == 0xFFFE && want == kExtensibleBytes)
        f.coding = static_cast<uint16_t>(o.u32(p.data() + 24) & 0xFFFF);
    scan.waveFormat = f;
}

void readAiffFormat(BufferedStream& stream, const Chunk& chunk, IffScan& scan)
{
    if (scan.aiffFormat || chunk.held < 18)
        return;
    // AIFF-C adds the compression type; a COMM too short to hold one is read
    // as AIFF's, uncompressed.
    const std::size_t want = scan.aifc && chunk.held >= 22 ? 22 : 18;
    const auto p = stream.view(static_cast<long>(chunk.body), want, want);
    if (p.size() < want)
        return;
    AiffFormat f;
    f.channels = bigEndian16(p.data());
    f.frames = bigEndian32(p.data() + 2);
    f.sampleSize = bigEndian16(p.data() + 6);
    f.rate = extendedFloat(p.data() + 8);
    if (want == 22)
        std::memcpy(f.compression.data(), p.data() + 18, f.compression.size());
    scan.aiffFormat = f;
}

// The first audio chunk: "data", or "SSND", whose samples start behind an
// offset and a block size.
void readAudioChunk(BufferedStream& stream, ChunkWalk& walk, Chunk& chunk, IffScan& scan)
{
    if (scan.audioBytes)
        return;
    if (scan.rf64 && chunk.size == kUnknownSize && scan.ds64Data.value_or(0) > 0)
        walk.resize(chunk, *scan.ds64Data);
    else if (chunk.size == kUnknownSize || (chunk.size == 0 && !walk.chunkAt(chunk.body)))
        walk.resize(chunk, static_cast<uint64_t>(stream.size() - chunk.body));
    int64_t bytes = chunk.held;
    if (chunk.is("SSND")) {
        const auto p = stream.view(static_cast<long>(chunk.body), 8, 8);
        const int64_t skip = p.size() < 8 ? bytes : 8 + int64_t(bigEndian32(p.data()));
        bytes = std::max<int64_t>(0, bytes - skip);
    }
    scan.audioBytes = bytes;
}

void readId3Chunk(BufferedStream& stream, const Chunk& chunk, IffScan& scan)
{
    if (scan.id3 || chunk.held < static_cast<int64_t>(kId3v2HeaderBytes))
        return;
    const auto p = stream.view(static_cast<long>(chunk.body), kId3v2HeaderBytes, kId3v2HeaderBytes);
    auto header = p.size() == kId3v2HeaderBytes ? parseId3v2Header(p.data()) : std::nullopt;
    if (!header)
        return;
    // The tag is what its chunk holds, whatever its own header claims.
    header->bodyBytes = std::min<int64_t>(header->bodyBytes, chunk.held - int64_t(kId3v2HeaderBytes));
    scan.id3 = readId3v2Texts(stream, chunk.body, *header);
}

void readInfoList(BufferedStream& stream, const Chunk& list, IffScan& scan, int& walked)
{
    if (list.held < 4)
        return;
    const auto type = stream.view(static_cast<long>(list.body), 4, 4);
    if (type.size() < 4 || std::memcmp(type.data(), "INFO", 4) != 0)
        return;
    ChunkWalk entries(stream, scan.order, list.body + 4, list.body + list.held, walked);
    while (const auto entry = entries.next())
        addText(stream, *entry, kInfoTexts, scan.own);
}

void readDs64(BufferedStream& stream, const Chunk& chunk, IffScan& scan)
{
    if (!scan.rf64 || chunk.held < 16)
        return;
    // RF64 is little-endian only; the data size follows the form's size.
    const auto p = stream.view(static_cast<long>(chunk.body), 16, 16);
    if (p.size() == 16)
        scan.ds64Data = littleEndian64(p.data() + 8);
}

void walkChunks(BufferedStream& stream, int64_t first, IffScan& scan)
{
    int walked = 0;
    ChunkWalk walk(stream, scan.order, first, stream.size(), walked);
    while (auto chunk = walk.next()) {
        if (chunk->is("id3 ") || chunk->is("ID3 ")) {
            readId3Chunk(stream, *chunk, scan);
        } else if (scan.wave) {
            if (chunk->is("fmt "))
                readWaveFormat(stream, *chunk, scan);
            else if (chunk->is("data"))
                readAudioChunk(stream, walk, *chunk, scan);
            else if (chunk->is("LIST"))
                readInfoList(stream, *chunk, scan, walked);
            else if (chunk->is("ds64"))
                readDs64(stream, *chunk, scan);
        } else if (chunk->is("COMM")) {
            readAiffFormat(stream, *chunk, scan);
        } else if (chunk->is("SSND")) {
            readAudioChunk(stream, walk, *chunk, scan);
        } else {
            addText(stream, *chunk, kAiffTexts, scan.own);
        }
    }
}

// Rounded once; a rate no audio has (a hostile header's) held to the field.
int roundedKbps(long double bitsPerSecond)
{
    return static_cast<int>(std::llround(std::min<long double>(bitsPerSecond / 1000, INT_MAX)));
}

void measureWave(const IffScan& scan, TrackDetails& details)
{
    if (!scan.waveFormat) {
        details.problem = "no fmt chunk";
        return;
    }
    const WaveFormat& f = *scan.waveFormat;
    if (f.channels == 0 || f.rate == 0 || f.rate > INT_MAX) {
        details.problem = "unusable fmt chunk";
        return;
    }
    if (!scan.audioBytes) {
        details.problem = "no data chunk";
        return;
    }
    // PCM (integer, float, A-law, mu-law) plays as many blocks a second as
    // its rate says, whatever the byte rate field claims; other codings
    // state their average there.
    const bool pcm = f.coding == 1 || f.coding == 3 || f.coding == 6 || f.coding == 7;
    const uint64_t blocks = uint64_t(f.rate) * f.blockAlign;
    const uint64_t perSecond = (pcm && blocks > 0) || f.byteRate == 0 ? blocks : f.byteRate;
    details.sampleRate = static_cast<int>(f.rate);
    if (perSecond > 0) {
        details.seconds = static_cast<int64_t>(static_cast<uint64_t>(*scan.audioBytes) / perSecond);
        details.bitrateKbps = roundedKbps(static_cast<long double>(perSecond) * 8);
    }
    details.readable = true;
}

// How the samples of an AIFF-C coding are laid out: packets of
// framesPerPacket frames, channelBytes for each channel (0: the bytes the
// sample size takes, as uncompressed AIFF).
struct AiffCoding {
    std::string_view type;
    uint16_t channelBytes;
    uint16_t framesPerPacket;
};

constexpr std::array<AiffCoding, 15> kAiffCodings { {
    { "NONE", 0, 1 },
    { "twos", 0, 1 },
    { "sowt", 0, 1 },
    { "raw ", 1, 1 },
    { "in24", 3, 1 },
    { "in32", 4, 1 },
    { "fl32", 4, 1 },
    { "FL32", 4, 1 },
    { "fl64", 8, 1 },
    { "FL64", 8, 1 },
    { "alaw", 1, 1 },
    { "ALAW", 1, 1 },
    { "ulaw", 1, 1 },
    { "ULAW", 1, 1 },
    // IMA ADPCM as Apple packs it; COMM counts its packets, not frames.
    { "ima4", 34, 64 },
} };

// The time and bit rate of AIFF audio: of the packets the file holds for a
// coding whose layout is known; else as long as COMM says, over the bytes the
// file holds.
void measureAiffAudio(const AiffFormat& f, int64_t audioBytes, TrackDetails& details)
{
    const std::string_view type(f.compression.data(), f.compression.size());
    const auto coding = std::find_if(
        kAiffCodings.begin(), kAiffCodings.end(), [&](const AiffCoding& c) { return c.type == type; });
    const uint64_t channelBytes = coding == kAiffCodings.end()
        ? 0
        : (coding->channelBytes ? coding->channelBytes : (f.sampleSize + 7) / 8);
    const uint64_t packetBytes = channelBytes * f.channels;
    long double seconds = f.frames / f.rate;
    if (packetBytes > 0) {
        const uint64_t held = static_cast<uint64_t>(audioBytes) / packetBytes;
        // A cut file holds fewer; a recording that never went back to count
        // them says 0.
        const uint64_t packets = f.frames == 0 ? held : std::min<uint64_t>(f.frames, held);
        seconds = packets * coding->framesPerPacket / f.rate;
        details.bitrateKbps = roundedKbps(f.rate / coding->framesPerPacket * packetBytes * 8);
    } else if (seconds > 0) {
        details.bitrateKbps = roundedKbps(audioBytes * 8 / seconds);
    }
    details.seconds = static_cast<int64_t>(seconds);
}

void measureAiff(const IffScan& scan, TrackDetails& details)
{
    if (!scan.aiffFormat) {
        details.problem = "no COMM chunk";
        return;
    }
    const AiffFormat& f = *scan.aiffFormat;
    if (f.channels == 0 || !(f.rate >= 1 && f.rate <= INT_MAX)) {
        details.problem = "unusable COMM chunk";
        return;
    }
    // A sound of no frames may leave out its SSND chunk.
    if (!scan.audioBytes && f.frames > 0) {
        details.problem = "no SSND chunk";
        return;
    }
    // Rates that are not whole (Macintosh's 22254.54 Hz) are shown cut, as
    // players show them.
    details.sampleRate = static_cast<int>(f.rate);
    measureAiffAudio(f, scan.audioBytes.value_or(0), details);
    details.readable = true;
}

} // namespace

void readIffFile(BufferedStream& stream, TagLayout& layout, TrackDetails& details)
{
    const int64_t start = layout.id3v2() ? layout.id3v2()->extent() : 0;
    const auto head = stream.view(static_cast<long>(start), 12, 12);
    if (head.size() < 12)
        return;
    IffScan scan;
    const std::string_view form(reinterpret_cast<const char*>(head.data()), 4);
    scan.wave = form != "FORM";
    scan.aifc = !scan.wave && std::memcmp(head.data() + 8, "AIFC", 4) == 0;
    scan.rf64 = form == "RF64";
    scan.order.big = form == "RIFX" || form == "FORM";
    details.format = scan.wave ? AudioFormat::Wav : AudioFormat::Aiff;
    walkChunks(stream, start + 12, scan);

    if (scan.wave)
        measureWave(scan, details);
    else
        measureAiff(scan, details);

    // The format's own texts first, then its ID3 chunk, then an ID3v2 tag in
    // front of the form. A file without audio still shows them.
    details.texts = std::move(scan.own);
    details.texts.year = yearOf(details.texts.year);
    if (scan.id3)
        fillMissing(details.texts, *scan.id3);
    if (layout.id3v2())
        fillMissing(details.texts, readId3v2Texts(stream, 0, *layout.id3v2()));
}

} // namespace melodex::trackinfo
