// Ogg: pages ("OggS", a granule position, the serial number of the logical
// stream they belong to, lacing values that cut packets) of one or more
// logical streams. Streams may run side by side (a Theora video with its
// sound) or one after another (a chained file: a radio recording, tracks
// joined). Which codec a stream holds its first packet says: Vorbis, Opus
// and FLAC are read, anything else is passed over.
//
// The texts and the rate come from the first audio stream's header
// packets, at the front. The length comes from the granule position of its
// last page, looked for backwards from the end of the file: a big file is
// not walked. Only a file that ends in a stream not seen at the front (a
// chained file) is walked page by page, each link timed at its own rate.

#include "trackinfo/format_readers.h"

#include "trackinfo/buffered_stream.h"
#include "trackinfo/byte_order.h"
#include "trackinfo/plain_tags.h"
#include "trackinfo/tag_layout.h"
#include "trackinfo/track_details.h"
#include "trackinfo/xiph.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstring>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace melodex::trackinfo {
namespace {

constexpr std::size_t kPageHeaderBytes = 27;
constexpr uint64_t kNoGranule = UINT64_MAX; // a page on which no packet ends
constexpr unsigned char kFirst = 0x02, kLast = 0x04;

// The header packets (and a cover picture in the comment, a few hundred
// pages of it) lie in the first pages; the walk for them stops after this
// many.
constexpr int kMaxHeaderPages = 4096;
// A chained file is walked page by page up to this many: hours of audio.
constexpr int kMaxPages = 1 << 20;
// The last page of the audio is looked for this far back from the end:
// past trailing junk and past the pages of a video stream beside it.
constexpr int64_t kMaxBackBytes = 1 << 20;
// FLAC in Ogg may carry a packet for each metadata block.
constexpr int kMaxHeaderPackets = 1024;
// The most read at once in that search.
constexpr int64_t kMaxStep = int64_t(64) * 1024;
// Streams side by side in one file.
constexpr std::size_t kMaxStreams = 16;

struct Page {
    int64_t offset = 0;
    unsigned char flags = 0;
    uint64_t granule = kNoGranule;
    uint32_t serial = 0;
    int64_t headerBytes = 0, bodyBytes = 0;
    std::array<unsigned char, 255> lacing {};
    int segments = 0;

    int64_t body() const { return offset + headerBytes; }
    int64_t end() const { return body() + bodyBytes; }
};

// The page whose header is at p (n bytes at hand), or nothing.
std::optional<Page> parsePage(const unsigned char* p, std::size_t n, int64_t offset)
{
    if (n < kPageHeaderBytes || std::memcmp(p, "OggS", 4) != 0 || p[4] != 0)
        return std::nullopt;
    Page page;
    page.offset = offset;
    page.flags = p[5];
    page.granule = littleEndian64(p + 6);
    page.serial = littleEndian32(p + 14);
    page.segments = p[26];
    page.headerBytes = int64_t(kPageHeaderBytes) + page.segments;
    if (n < static_cast<std::size_t>(page.headerBytes))
        return std::nullopt;
    std::memcpy(page.lacing.data(), p + kPageHeaderBytes, static_cast<std::size_t>(page.segments));
    for (int i = 0; i < page.segments; ++i)
        page.bodyBytes += page.lacing[static_cast<std::size_t>(i)];
    return page;
}

std::optional<Page> pageAt(BufferedStream& stream, int64_t offset)
{
    const auto p = stream.view(static_cast<long>(offset), kPageHeaderBytes + 255, kPageHeaderBytes + 255);
    return parsePage(p.data(), p.size(), offset);
}

enum class Codec { Other, Vorbis, Opus, Flac };

// What a stream's first packet says about it.
struct Ident {
    Codec codec = Codec::Other;
    uint32_t rate = 0; // of the granule positions
    uint64_t preSkip = 0; // Opus: samples before the first one played
    int headerPackets = 2; // identification, comment, and what else precedes the audio
    std::optional<FlacStreamInfo> flac;
};

Ident identify(BufferedStream& stream, const Page& page)
{
    constexpr std::size_t kIdentBytes = 17 + kFlacStreamInfoBytes;
    const auto p = stream.view(static_cast<long>(page.body()), kIdentBytes, kIdentBytes);
    const std::string_view s(reinterpret_cast<const char*>(p.data()), p.size());
    Ident id;
    if (s.size() >= 16 && s.starts_with("\x01vorbis")) {
        id.codec = Codec::Vorbis;
        id.rate = littleEndian32(p.data() + 12);
        id.headerPackets = 3; // and the codec's setup
    } else if (s.size() >= 16 && s.starts_with("OpusHead")) {
        // Opus always plays at 48 kHz, whatever rate its input had.
        id.codec = Codec::Opus;
        id.rate = 48000;
        id.preSkip = littleEndian16(p.data() + 10);
    } else if (s.size() >= kIdentBytes
        && s.starts_with("\x7F"
                         "FLAC")
        && s.substr(9, 4) == "fLaC") {
        id.codec = Codec::Flac;
        id.flac = parseFlacStreamInfo(p.data() + 17);
        id.rate = id.flac->rate;
        // The mapping's first packet, then its metadata blocks (0: not said).
        id.headerPackets = std::clamp(1 + bigEndian16(p.data() + 7), 2, kMaxHeaderPackets);
    }
    return id;
}

// Where the comment starts in the second packet, after the codec's marker.
std::optional<int64_t> commentStart(BufferedStream& stream, Codec codec, const PacketBytes& packet)
{
    char head[8] {};
    const std::size_t n = packet.read(stream, 0, head, sizeof head);
    const std::string_view s(head, n);
    switch (codec) {
    case Codec::Vorbis:
        return s.starts_with("\x03vorbis") ? std::optional<int64_t>(7) : std::nullopt;
    case Codec::Opus:
        return s.starts_with("OpusTags") ? std::optional<int64_t>(8) : std::nullopt;
    case Codec::Flac:
        // A metadata block: its type in the low seven bits of the first byte.
        return n >= 4 && (head[0] & 0x7F) == 4 ? std::optional<int64_t>(4) : std::nullopt;
    case Codec::Other:
        break;
    }
    return std::nullopt;
}

struct Stream {
    uint32_t serial = 0;
    Ident ident;
};

// What the walk over the front found.
struct Front {
    std::vector<Stream> streams; // every stream begun at the front
    std::optional<Stream> audio; // the first that is read
    PacketBytes packets[2]; // the audio stream's identification and comment
    int headerPackets = 0; // of the audio stream, seen whole
    int64_t headerBytes = 0; // their bytes, which are no audio
    int64_t end = 0; // where the walk stopped
};

// The audio stream's header packets on this page: where the first two lie,
// how many bytes all of them take.
void addPackets(const Page& page, Front& front)
{
    int64_t at = page.body();
    const int wanted = front.audio->ident.headerPackets;
    for (int i = 0; i < page.segments && front.headerPackets < wanted; ++i) {
        const int length = page.lacing[static_cast<std::size_t>(i)];
        if (front.headerPackets < 2)
            front.packets[front.headerPackets].add(at, length);
        front.headerBytes += length;
        at += length;
        if (length < 255)
            ++front.headerPackets;
    }
}

Front walkFront(BufferedStream& stream, int64_t start)
{
    Front front;
    int64_t at = start;
    const int64_t end = stream.size();
    for (int pages = 0;
         pages < kMaxHeaderPages && !(front.audio && front.headerPackets >= front.audio->ident.headerPackets);
         ++pages) {
        const auto page = pageAt(stream, at);
        if (!page)
            break;
        if ((page->flags & kFirst) && front.streams.size() < kMaxStreams) {
            front.streams.push_back({ page->serial, identify(stream, *page) });
            if (!front.audio && front.streams.back().ident.codec != Codec::Other)
                front.audio = front.streams.back();
        }
        if (front.audio && page->serial == front.audio->serial) {
            addPackets(*page, front);
        }
        at = page->end();
        if (at > end)
            break;
    }
    front.end = std::min(at, end);
    return front;
}

// The last whole page of the stream `serial` ending by `end`, looked for
// backwards; a page of a stream the front never began says the file is
// chained.
struct Last {
    std::optional<Page> page;
    bool chained = false;
};

constexpr std::size_t kNone = SIZE_MAX;

// Where the last "OggS" in the bytes starts: memrchr finds the candidates
// many bytes at a time, where a plain search would look at each.
std::size_t lastCapturePattern(std::span<const unsigned char> bytes)
{
    for (std::size_t n = bytes.size(); n >= 4;) {
        const void* hit = memrchr(bytes.data(), 'O', n - 3);
        if (!hit)
            break;
        const auto at = static_cast<std::size_t>(static_cast<const unsigned char*>(hit) - bytes.data());
        if (std::memcmp(bytes.data() + at, "OggS", 4) == 0)
            return at;
        n = at + 3;
    }
    return kNone;
}

Last findLastPage(BufferedStream& stream, const Front& front, int64_t start, int64_t end)
{
    // The last page of a file of one stream is a few KiB long at most: the
    // first window reads little, later ones more.
    int64_t step = int64_t(8) * 1024;
    const auto known = [&](uint32_t serial) {
        return std::any_of(
            front.streams.begin(), front.streams.end(), [&](const Stream& s) { return s.serial == serial; });
    };
    // Windows overlap by a page's largest header, so that none is missed.
    for (int64_t high = end; high > start && end - high < kMaxBackBytes;
         step = std::min(2 * step, kMaxStep)) {
        const int64_t low = std::max(start, high - step);
        const auto n = static_cast<std::size_t>(std::min(end, high + int64_t(kPageHeaderBytes) + 255) - low);
        const auto bytes = stream.view(static_cast<long>(low), n, n);
        for (auto i = static_cast<std::size_t>(high - low); i > 0;) {
            i = lastCapturePattern(bytes.first(std::min(i - 1 + 4, bytes.size())));
            if (i == kNone)
                break;
            const auto page = parsePage(bytes.data() + i, bytes.size() - i, low + int64_t(i));
            if (!page || page->end() > end)
                continue;
            if (!known(page->serial))
                return { std::nullopt, true };
            if (page->serial == front.audio->serial && page->granule != kNoGranule)
                return { page, false };
        }
        high = low;
    }
    return {};
}

// The samples of a stream at its rate, up to a granule position.
uint64_t samplesTo(const Ident& ident, uint64_t granule)
{
    return granule == kNoGranule || granule < ident.preSkip ? 0 : granule - ident.preSkip;
}

struct Timing {
    long double seconds = 0;
    int64_t audioEnd = 0; // the end of the last page that holds audio
};

// A chained file, walked page by page: each audio link's length at its own
// rate. A link counts when it begins after the one counted before has ended,
// not beside it.
Timing walkChain(BufferedStream& stream, int64_t start)
{
    struct Link {
        uint32_t serial;
        Ident ident;
        uint64_t granule = kNoGranule;
        bool ended = false;
    };
    std::vector<Link> links;
    Timing timing;
    stream.readRest(static_cast<long>(start));
    int64_t at = start;
    for (int pages = 0; pages < kMaxPages; ++pages) {
        const auto page = pageAt(stream, at);
        if (!page || page->end() > stream.size())
            break;
        at = page->end();
        if ((page->flags & kFirst) && (links.empty() || links.back().ended)) {
            const Ident ident = identify(stream, *page);
            if (ident.codec != Codec::Other && ident.rate > 0)
                links.push_back({ page->serial, ident });
        }
        if (links.empty() || page->serial != links.back().serial)
            continue;
        Link& link = links.back();
        if (page->granule != kNoGranule)
            link.granule = page->granule;
        link.ended = link.ended || (page->flags & kLast) != 0;
        timing.audioEnd = at;
    }
    for (const Link& link : links)
        timing.seconds += static_cast<long double>(samplesTo(link.ident, link.granule)) / link.ident.rate;
    return timing;
}

AudioFormat formatOf(Codec codec)
{
    return codec == Codec::Opus ? AudioFormat::Opus
        : codec == Codec::Flac  ? AudioFormat::Flac
                                : AudioFormat::Vorbis;
}

void readTexts(BufferedStream& stream, const Front& front, TrackDetails& details)
{
    const auto at = commentStart(stream, front.audio->ident.codec, front.packets[1]);
    if (at)
        details.texts = readVorbisComment(stream, front.packets[1], *at);
}

} // namespace

void readOggFile(BufferedStream& stream, TagLayout& layout, TrackDetails& details)
{
    const int64_t start = layout.id3v2() ? layout.id3v2()->extent() : 0;
    const Front front = walkFront(stream, start);
    if (!front.audio) {
        details.problem = "no Vorbis, Opus or FLAC stream";
        return;
    }
    const Ident& ident = front.audio->ident;
    details.format = formatOf(ident.codec);
    readTexts(stream, front, details);
    if (ident.rate == 0 || ident.rate > INT_MAX) {
        details.problem = "unusable Ogg identification header";
        return;
    }
    // The audio starts on a page of its own after the headers: a file cut
    // before it keeps its texts, but holds no audio.
    const Last last = findLastPage(stream, front, front.end, stream.size());
    if (!last.page && !last.chained) {
        details.problem = "no Ogg audio pages";
        return;
    }
    details.sampleRate = static_cast<int>(ident.rate);
    details.readable = true;
    uint64_t samples = 0;
    Timing timing;
    if (last.chained) {
        timing = walkChain(stream, start);
    } else {
        samples = samplesTo(ident, last.page->granule);
        timing = { static_cast<long double>(samples) / ident.rate, last.page->end() };
    }
    // The header packets are no audio; the page headers around it are.
    const auto audioBytes
        = static_cast<uint64_t>(std::max<int64_t>(0, timing.audioEnd - start - front.headerBytes));
    details.seconds = static_cast<int64_t>(timing.seconds);
    details.bitrateKbps = last.chained
        ? averageKbps(audioBytes, static_cast<uint64_t>(std::llround(timing.seconds * 1e6L)), 1000000)
        : averageKbps(audioBytes, samples, ident.rate);
}

} // namespace melodex::trackinfo
