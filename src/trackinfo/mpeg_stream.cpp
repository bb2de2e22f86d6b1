#include "trackinfo/mpeg_stream.h"

#include "trackinfo/buffered_stream.h"
#include "trackinfo/byte_order.h"
#include "trackinfo/id3v2_reader.h"
#include "trackinfo/tag_layout.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <span>
#include <string_view>

namespace melodex::trackinfo {
namespace {

// Bit rates in kbps by [MPEG-1 ? 0 : 1][layer - 1][index]; index 0 is free
// format, whose rate only its frame size tells, and 15 is invalid.
constexpr int kBitrates[2][3][16] = {
    {
        { 0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0 },
        { 0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0 },
        { 0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0 },
    },
    {
        { 0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0 },
        { 0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0 },
        { 0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0 },
    },
};

// Frames needed in a row before a sync pattern counts as the stream: PCM and
// picture data hold plenty of bytes that look like one frame header.
constexpr int kChainToConfirm = 4;
constexpr std::size_t kSearchChunk = 16384;
// Junk before the first frame, between frames and after the last one is
// searched this far: far enough for any tagger's leftovers, and a large file
// that holds no audio at all (or no more) is not read to its end.
constexpr int64_t kMaxJunk = 8 << 20;
// The largest free-format frame looked for: a 640 kbps MPEG-1 Layer III frame
// at 32 kHz takes 2881 bytes.
constexpr int kMaxFreeFormatBytes = 4096;

// The file's bytes, looked at in place where the stream buffers them: the
// analysis makes many small reads near the start and near the end of a file,
// and a copy or a system call for each would cost more than the analysis.
class Reader {
public:
    explicit Reader(BufferedStream& stream)
        : stream_(stream)
        , size_(stream.size())
    {
    }
    int64_t size() const { return size_; }

    // At least min(minBytes, what the file holds from pos on) bytes, more up
    // to maxBytes where they are at hand; fewer only when the stream ends
    // early. Valid until the next call.
    std::span<const unsigned char> view(int64_t pos, int64_t minBytes, int64_t maxBytes)
    {
        if (pos < 0 || pos >= size_ || maxBytes <= 0)
            return {};
        minBytes = std::min(minBytes, size_ - pos);
        maxBytes = std::max(minBytes, std::min(maxBytes, size_ - pos));
        // Most looks fall into the bytes the last one got.
        const int64_t inLast = lastPos_ + static_cast<int64_t>(last_.size()) - pos;
        if (pos >= lastPos_ && inLast >= minBytes)
            return last_.subspan(static_cast<std::size_t>(pos - lastPos_),
                static_cast<std::size_t>(std::min(inLast, maxBytes)));
        last_ = stream_.view(static_cast<long>(pos), static_cast<std::size_t>(minBytes),
            static_cast<std::size_t>(std::max(maxBytes, kAtHandBytes)));
        lastPos_ = pos;
        return last_.first(std::min(last_.size(), static_cast<std::size_t>(maxBytes)));
    }

    // The bytes from pos on toward end for a walk through all of them: as
    // many as the stream gives at once, at least 4 where the file holds them.
    std::span<const unsigned char> stretch(int64_t pos, int64_t end)
    {
        if (pos < 0 || pos >= end)
            return {};
        last_ = stream_.scan(static_cast<long>(pos), static_cast<std::size_t>(end - pos));
        lastPos_ = pos;
        return last_;
    }

    // The n bytes at pos when they are in memory already (see
    // BufferedStream::peekCached); the bytes of view() stay valid.
    std::span<const unsigned char> peekCached(int64_t pos, int64_t n)
    {
        if (pos < 0 || n <= 0 || pos + n > size_)
            return {};
        return stream_.peekCached(static_cast<long>(pos), static_cast<std::size_t>(n));
    }

    // Everything from pos to the end of the file will be read.
    void readRest(int64_t pos)
    {
        last_ = {};
        stream_.readRest(static_cast<long>(pos));
    }

    std::optional<FrameHeader> headerAt(int64_t pos, int freeBytes)
    {
        const auto b = view(pos, 4, 4);
        if (b.size() < 4)
            return std::nullopt;
        return parseFrameHeader(b.data(), freeBytes);
    }

private:
    // What a view asks for beyond what it needs: all the stream has at hand,
    // up to the end of any frame.
    static constexpr int64_t kAtHandBytes = 8192;
    BufferedStream& stream_;
    int64_t size_;
    // The bytes the stream handed out last, valid until it is asked again.
    std::span<const unsigned char> last_;
    int64_t lastPos_ = 0;
};

// Where the audio may start: after an ID3v2 tag at the front, of whatever
// version. A tag whose size runs past the end of the file was cut short or
// lies: the audio may start where its frames end, but not inside one of
// them, where a cover's bytes can look like a stream of frames. The frames
// of a version nobody can read are searched too.
int64_t searchStart(BufferedStream& stream, const TagLayout& layout)
{
    if (!layout.id3v2())
        return 0;
    const Id3v2Header& tag = *layout.id3v2();
    if (tag.extent() <= stream.size())
        return tag.extent();
    if (!tag.readable())
        return static_cast<int64_t>(kId3v2HeaderBytes);
    Id3v2Reader frames(stream, 0, tag);
    while (frames.next()) { }
    return frames.framesEnd();
}

// A frame header of the stream at p: one of ref's stream when ref is given,
// a free-format one only with the stream's frame size.
std::optional<FrameHeader> headerOf(const unsigned char* p, int freeBytes, const FrameHeader* ref)
{
    auto h = parseFrameHeader(p, freeBytes);
    if (h && ref && !sameStream(*h, *ref))
        return std::nullopt;
    return h;
}

// True when a run of frames starts at pos: kChainToConfirm of them, or at
// least two that run up to the end of the audio (a short or cut file).
bool confirmChain(Reader& r, int64_t pos, int64_t end, int freeBytes, const FrameHeader* ref)
{
    std::optional<FrameHeader> first;
    int frames = 0;
    int64_t q = pos;
    std::span<const unsigned char> b; // the bytes at hand from bPos on
    int64_t bPos = 0;
    while (frames < kChainToConfirm) {
        if (end - q < 4)
            return frames >= 2;
        if (q < bPos || q + 4 > bPos + static_cast<int64_t>(b.size())) {
            b = r.view(q, 4, end - q);
            bPos = q;
            if (b.size() < 4)
                return frames >= 2;
        }
        const auto h = headerOf(b.data() + (q - bPos), freeBytes, first ? &*first : ref);
        if (!h)
            return false;
        if (!first)
            first = h;
        if (q + h->frameBytes > end)
            return frames >= 2;
        ++frames;
        q += h->frameBytes;
    }
    return true;
}

// The header, a CRC and Layer III's side information (a little bit allocation
// in Layers I and II): the least a frame holds.
int headerAndSideInfoBytes(const FrameHeader& h)
{
    if (h.layer != 3)
        return 4 + 2 + 16;
    const bool mono = h.channels == 1;
    return 4 + 2 + (h.version == 10 ? (mono ? 17 : 32) : (mono ? 9 : 17));
}

// A free-format header says nothing of its frame's size: that is the
// distance to the next frame. Each header of the same stream within reach
// is tried as the next frame, nearest first, and the first size a chain of
// frames confirms is the stream's size without padding.
std::optional<int> findFreeFormatBytes(Reader& r, int64_t pos, int64_t end)
{
    auto b = r.view(pos, std::min<int64_t>(end - pos, kMaxFreeFormatBytes + 4), kMaxFreeFormatBytes + 4);
    if (b.size() < 4)
        return std::nullopt;
    unsigned char header[4];
    std::memcpy(header, b.data(), 4);
    // Any size parses the header; the real one is found below.
    const auto probe = parseFrameHeader(header, kMaxFreeFormatBytes);
    if (!probe || probe->bitrateKbps != 0)
        return std::nullopt;
    const int padding = probe->frameBytes - kMaxFreeFormatBytes;
    const auto sameKind = [&](const unsigned char* p) {
        return p[1] == header[1] && (p[2] & 0xFC) == (header[2] & 0xFC)
            && (p[3] >> 6 == 3) == (header[3] >> 6 == 3);
    };
    for (std::size_t d = static_cast<std::size_t>(headerAndSideInfoBytes(*probe)); d + 4 <= b.size(); ++d) {
        const void* next = std::memchr(b.data() + d, 0xFF, b.size() - 3 - d);
        if (!next)
            break;
        d = static_cast<std::size_t>(static_cast<const unsigned char*>(next) - b.data());
        if (!sameKind(b.data() + d))
            continue;
        const int bytes = static_cast<int>(d) - padding;
        if (confirmChain(r, pos, end, bytes, nullptr))
            return bytes;
        // The chain may have been read from elsewhere: look again.
        const std::size_t n = b.size();
        b = r.view(pos, static_cast<int64_t>(n), static_cast<int64_t>(n));
        if (b.size() < n)
            return std::nullopt;
    }
    return std::nullopt;
}

struct FrameStart {
    int64_t pos = 0;
    int freeBytes = 0; // the frame size of a free-format stream, without padding
};

bool syncAt(const unsigned char* b) { return b[0] == 0xFF && (b[1] & 0xE0) == 0xE0; }

// The first place in [from, limit) where a confirmed run of frames starts.
// With ref, only frames of ref's stream count (freeBytes: its free-format
// size); without, the stream may be of any kind, free format included.
std::optional<FrameStart> findFrames(
    Reader& r, int64_t from, int64_t limit, int64_t end, const FrameHeader* ref, int freeBytes)
{
    int64_t pos = from;
    limit = std::min(limit, end);
    while (pos + 4 <= limit) {
        auto buffer = r.view(pos, 4, std::min<int64_t>(kSearchChunk, limit - pos));
        const std::size_t n = buffer.size();
        if (n < 4)
            break;
        for (std::size_t i = 0; i + 4 <= n; ++i) {
            const void* ff = std::memchr(buffer.data() + i, 0xFF, n - 3 - i);
            if (!ff)
                break;
            i = static_cast<std::size_t>(static_cast<const unsigned char*>(ff) - buffer.data());
            if (!syncAt(buffer.data() + i))
                continue;
            const int64_t at = pos + static_cast<int64_t>(i);
            if (headerOf(buffer.data() + i, freeBytes, ref)) {
                if (confirmChain(r, at, end, freeBytes, ref))
                    return FrameStart { at, freeBytes };
            } else if (!ref && buffer[i + 2] >> 4 == 0) {
                if (const auto bytes = findFreeFormatBytes(r, at, end))
                    return FrameStart { at, *bytes };
            } else {
                continue;
            }
            // The checks may have read from elsewhere: look again.
            buffer = r.view(pos, static_cast<int64_t>(n), static_cast<int64_t>(n));
            if (buffer.size() < n)
                return std::nullopt;
        }
        pos += static_cast<int64_t>(n) - 3;
    }
    return std::nullopt;
}

struct FrameWalk {
    int64_t frames = 0;
    int64_t frameBytes = 0; // the frames alone, junk between them left out
    int64_t end = 0; // where the last whole frame ends
    int firstKbps = 0;
    bool oneBitrate = true;
};

// The header bits that may change from frame to frame of one stream without
// changing its frame size but by the padding slot: padding, private bit, mode
// extension, copyright and original.
constexpr uint32_t kFrameKeyMask = ~uint32_t(0x0300 | 0x003C);
constexpr uint32_t kPaddingBit = 0x0200;

// The frames of one bit rate lie on a grid: each takes the frame size or
// that plus the padding slot, and an encoder pads just as many as keep the
// exact rate, so that n frames from anywhere hold n times the exact size,
// rounded down or up. On a cached file, copying every page to look at one
// header in a few hundred bytes is most of the reading; a walk through such
// a run looks where the grid puts a frame further on and, when a chain of
// frames of that rate starts exactly there, counts the frames between without
// reading them.
struct FrameGrid {
    int64_t unpadded = 0; // bytes of a frame without padding
    int64_t slot = 0; // bytes of the padding slot
    int64_t fraction = 0; // padded frames per `rate` frames
    int64_t rate = 0;

    // The grid of frames like h, if a walk may jump along it. An unpadded
    // stream is not jumped: a stream that may never pad holds runs of VBR
    // frames whose sizes add up to whole frames of a lower rate exactly
    // (LAME pads no VBR frame), so a jump over a short loud run would land
    // on the grid and count it wrongly.
    static std::optional<FrameGrid> of(const FrameHeader& h)
    {
        if (h.bitrateKbps <= 0)
            return std::nullopt;
        const int64_t perSlot = h.layer == 1 ? 12 : h.samplesPerFrame / 8;
        const int64_t slots = perSlot * h.bitrateKbps * 1000;
        FrameGrid g;
        g.slot = h.layer == 1 ? 4 : 1;
        g.unpadded = slots / h.sampleRate * g.slot;
        g.fraction = slots % h.sampleRate;
        g.rate = h.sampleRate;
        if (g.fraction == 0)
            return std::nullopt;
        return g;
    }
};

// A walk jumps this far at most, in frames and in bytes, so that a stream
// whose rate changes between two looks is caught at the next one; the bytes
// between looks are never read, so a jump costs one small read.
constexpr int64_t kMaxJumpFrames = 128;
constexpr int64_t kMaxJumpBytes = int64_t { 64 } * 1024;
// Frames a walk reads before it jumps, all of one rate, some padded; and the
// frames that must follow a landing place (one more precedes it).
constexpr int64_t kFramesBeforeJumping = 8;
constexpr int64_t kFramesConfirmingLanding = 4;

// True when a frame of the run (same stream, bit rate kbps) starts at p,
// with the size size.
bool runFrameAt(const unsigned char* p, const FrameHeader& ref, int kbps, int64_t& size)
{
    const auto h = headerOf(p, 0, &ref);
    if (!h || h->bitrateKbps != kbps)
        return false;
    size = h->frameBytes;
    return true;
}

// Whether a run of the grid's frames lands at q: one of them ends exactly at
// q and kFramesConfirmingLanding follow it. `bytes` are the file's bytes
// from `at` on.
bool landsAt(std::span<const unsigned char> bytes, int64_t at, int64_t q, const FrameGrid& g,
    const FrameHeader& ref, int kbps)
{
    const auto rel = [&](int64_t pos) { return static_cast<std::size_t>(pos - at); };
    int64_t size = 0;
    bool ended = false;
    for (const int64_t before : { g.unpadded, g.unpadded + g.slot }) {
        const int64_t p = q - before;
        if (p >= at && rel(p) + 4 <= bytes.size() && runFrameAt(bytes.data() + rel(p), ref, kbps, size))
            ended = ended || size == before;
    }
    if (!ended)
        return false;
    int64_t p = q;
    for (int64_t i = 0; i < kFramesConfirmingLanding; ++i) {
        if (rel(p) + 4 > bytes.size() || !runFrameAt(bytes.data() + rel(p), ref, kbps, size))
            return false;
        p += size;
    }
    return true;
}

// The frames of the run from pos on that a jump along the grid skips, and
// their bytes; none when the grid does not hold there or the bytes are not
// in memory (then reading on in order costs less than the disk's seeks).
struct Jump {
    int64_t frames = 0;
    int64_t bytes = 0;
};

Jump jumpAlong(Reader& r, int64_t pos, int64_t end, const FrameGrid& g, const FrameHeader& ref, int kbps)
{
    const int64_t most = g.unpadded + g.slot;
    // Room behind the landing place for the frames that confirm it.
    const int64_t reach = std::min(end - pos, kMaxJumpBytes) - (kFramesConfirmingLanding + 2) * most;
    const int64_t n = std::min(kMaxJumpFrames, reach / most);
    if (n < kFramesBeforeJumping)
        return {};
    // n frames hold n * fraction / rate padded ones, rounded either way.
    const int64_t fewest = n * g.fraction / g.rate;
    const int64_t mostPadded = (n * g.fraction + g.rate - 1) / g.rate;
    const int64_t first = pos + n * g.unpadded + fewest * g.slot;
    const int64_t last = pos + n * g.unpadded + mostPadded * g.slot;
    const int64_t at = first - most;
    const auto bytes = r.peekCached(at, last - at + (kFramesConfirmingLanding * most) + 4);
    if (bytes.empty())
        return {};
    Jump jump;
    for (int64_t q = first; q <= last; q += g.slot) {
        if (!landsAt(bytes, at, q, g, ref, kbps))
            continue;
        if (jump.frames > 0)
            return {}; // two places fit: the grid does not say which
        jump = { n, q - pos };
    }
    return jump;
}

// Jumps along the grid of the run walked so far from pos on, when the run
// has shown it pads as the grid does: the frames skipped are counted into w
// and their bytes returned; 0 when the walk must read on instead.
int64_t jumpInRun(Reader& r, FrameWalk& w, int64_t pos, int64_t end, const FrameHeader& ref)
{
    if (!w.oneBitrate || w.frames < kFramesBeforeJumping)
        return 0;
    FrameHeader run = ref;
    run.bitrateKbps = w.firstKbps;
    const auto grid = FrameGrid::of(run);
    if (!grid)
        return 0;
    // The padded frames walked, as many as the grid pads give or take one.
    const int64_t padded = (w.frameBytes - w.frames * grid->unpadded) / grid->slot;
    const int64_t expected = w.frames * grid->fraction / grid->rate;
    if (padded <= 0 || padded < expected - 1 || padded > expected + 2)
        return 0;
    const Jump jump = jumpAlong(r, pos, end, *grid, ref, w.firstKbps);
    w.frames += jump.frames;
    w.frameBytes += jump.bytes;
    return jump.bytes;
}

// Frames laid end to end in bytes at hand, as a walk counts them.
class FrameCounter {
public:
    FrameCounter(const FrameHeader& ref, int freeBytes)
        : ref_(ref)
        , freeBytes_(freeBytes)
        , paddingBytes_(ref.layer == 1 ? 4 : 1)
    {
    }

    // Counts the whole frames from the start of b on into w, none of them
    // ending more than room bytes on; returns their bytes. broken: the
    // frames stop at something that is not a frame of the stream (or one
    // that is cut), rather than at the end of b.
    std::size_t count(std::span<const unsigned char> b, std::size_t room, FrameWalk& w, bool& broken)
    {
        const unsigned char* p = b.data();
        std::size_t i = 0;
        while (i + 4 <= b.size()) {
            const uint32_t word = bigEndian32(p + i);
            if ((word & kFrameKeyMask) != lastKey_) {
                const auto h = headerOf(p + i, freeBytes_, &ref_);
                if (!h) {
                    broken = true;
                    break;
                }
                if (w.frames == 0)
                    w.firstKbps = h->bitrateKbps;
                w.oneBitrate = w.oneBitrate && h->bitrateKbps == w.firstKbps;
                lastKey_ = word & kFrameKeyMask;
                unpadded_
                    = static_cast<std::size_t>(h->frameBytes) - (word & kPaddingBit ? paddingBytes_ : 0);
                padded_ = unpadded_ + paddingBytes_;
            }
            const std::size_t frameBytes = word & kPaddingBit ? padded_ : unpadded_;
            if (i + frameBytes > room) {
                broken = true;
                break;
            }
            ++w.frames;
            i += frameBytes;
        }
        return i;
    }

private:
    const FrameHeader& ref_;
    const int freeBytes_;
    const std::size_t paddingBytes_;
    // A stream repeats a few kinds of header thousands of times: the last
    // kind parsed gives the size of the frames that share its key.
    uint32_t lastKey_ = 0; // no header has a zero key: it starts with a sync
    std::size_t unpadded_ = 0;
    std::size_t padded_ = 0;
};

// Every frame of the stream from start on, header to header. Where the chain
// breaks (junk inside the stream, a cut frame, the end of the audio) the
// next confirmed run of the same stream goes on with it; the audio ends with
// the last frame before kMaxJunk bytes without one, whatever follows it.
FrameWalk walkFrames(Reader& r, int64_t start, int64_t end, const FrameHeader& ref, int freeBytes)
{
    FrameWalk w;
    w.end = start;
    w.firstKbps = ref.bitrateKbps;
    FrameCounter counter(ref, freeBytes);
    // Until a jump fails, the bytes at hand are walked and the rest jumped.
    bool jumping = freeBytes == 0;
    int64_t pos = start;
    for (;;) {
        while (end - pos >= 4) {
            if (jumping && w.frames >= kFramesBeforeJumping) {
                if (const int64_t skipped = jumpInRun(r, w, pos, end, ref)) {
                    pos += skipped;
                    continue;
                }
                jumping = false;
            }
            const auto b = jumping ? r.view(pos, 4, end - pos) : r.stretch(pos, end);
            if (b.size() < 4)
                break;
            bool broken = false;
            // The frames lie end to end: what they take is their bytes.
            const auto bytes
                = static_cast<int64_t>(counter.count(b, static_cast<std::size_t>(end - pos), w, broken));
            w.frameBytes += bytes;
            pos += bytes;
            if (broken)
                break;
        }
        w.end = std::max(w.end, pos);
        if (end - pos < 4)
            return w;
        const auto next = findFrames(r, pos + 1, pos + kMaxJunk, end, &ref, freeBytes);
        if (!next)
            return w;
        pos = next->pos;
    }
}

// A Xing, Info or VBRI header frame carries the stream's frame count and
// byte count, and no audio.
struct VbrHeader {
    bool info = false; // LAME's "Info" of a CBR stream
    uint32_t frames = 0;
    uint32_t bytes = 0;
};

// The VBR header in a frame, read where TagLib reads it: the first "Xing",
// else the first "Info", else the first "VBRI". A Xing or Info header counts
// only with both counts flagged, and neither count may be zero. Read here, as
// TagLib would, rather than through TagLib's reader: that one makes several
// allocations for these few bytes, more than the rest of a file's analysis.
std::optional<VbrHeader> readVbrHeader(std::span<const unsigned char> frame)
{
    const std::string_view text(reinterpret_cast<const char*>(frame.data()), frame.size());
    const auto be32 = [&](std::size_t at) { return bigEndian32(frame.data() + at); };
    VbrHeader h;
    std::size_t at = text.find("Xing");
    if (at == std::string_view::npos) {
        at = text.find("Info");
        h.info = at != std::string_view::npos;
    }
    if (at != std::string_view::npos) {
        if (frame.size() - at < 16 || (frame[at + 7] & 3) != 3)
            return std::nullopt;
        h.frames = be32(at + 8);
        h.bytes = be32(at + 12);
    } else {
        at = text.find("VBRI");
        if (at == std::string_view::npos || frame.size() - at < 32)
            return std::nullopt;
        h.bytes = be32(at + 10);
        h.frames = be32(at + 14);
    }
    if (h.frames == 0 || h.bytes == 0)
        return std::nullopt;
    return h;
}

// The size of a frame like h at the lowest bit rate its version and layer allow.
int smallestFrameBytes(const FrameHeader& h)
{
    const int kbps = kBitrates[h.version == 10 ? 0 : 1][h.layer - 1][1];
    if (h.layer == 1)
        return 12 * kbps * 1000 / h.sampleRate * 4;
    return (h.layer == 2 || h.version == 10 ? 144 : 72) * kbps * 1000 / h.sampleRate;
}

int roundedKbps(double bytes, double seconds)
{
    if (seconds <= 0)
        return 0;
    return static_cast<int>(std::lround(std::min(bytes * 8 / seconds / 1000, 1e6)));
}

} // namespace

std::optional<FrameHeader> parseFrameHeader(const unsigned char* p, int freeFormatBytes)
{
    if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0)
        return std::nullopt;
    const int versionBits = (p[1] >> 3) & 3;
    const int layerBits = (p[1] >> 1) & 3;
    const int bitrateIndex = p[2] >> 4;
    const int rateIndex = (p[2] >> 2) & 3;
    if (versionBits == 1 || layerBits == 0 || bitrateIndex == 15 || rateIndex == 3 || (p[3] & 3) == 2
        || (bitrateIndex == 0 && freeFormatBytes <= 0))
        return std::nullopt;
    static constexpr int kRates[3] = { 44100, 48000, 32000 };
    FrameHeader h;
    h.version = versionBits == 3 ? 10 : (versionBits == 2 ? 20 : 25);
    h.layer = 4 - layerBits;
    h.bitrateKbps = kBitrates[h.version == 10 ? 0 : 1][h.layer - 1][bitrateIndex];
    h.sampleRate = kRates[rateIndex] / (h.version == 10 ? 1 : (h.version == 20 ? 2 : 4));
    h.channels = (p[3] >> 6) == 3 ? 1 : 2;
    const int padding = (p[2] >> 1) & 1;
    const int bps = h.bitrateKbps * 1000;
    if (h.layer == 1) {
        h.samplesPerFrame = 384;
        h.frameBytes
            = bitrateIndex == 0 ? freeFormatBytes + 4 * padding : (12 * bps / h.sampleRate + padding) * 4;
    } else {
        h.samplesPerFrame = h.layer == 2 || h.version == 10 ? 1152 : 576;
        h.frameBytes = bitrateIndex == 0 ? freeFormatBytes + padding
                                         : (h.samplesPerFrame / 8) * bps / h.sampleRate + padding;
    }
    return h;
}

bool sameStream(const FrameHeader& a, const FrameHeader& b)
{
    return a.version == b.version && a.layer == b.layer && a.sampleRate == b.sampleRate
        && a.channels == b.channels && (a.bitrateKbps == 0) == (b.bitrateKbps == 0);
}

namespace {

// Where the audio starts, and the VBR header its first frame carries, if any.
struct StreamStart {
    int64_t first = 0; // the first frame
    int freeBytes = 0; // a free-format stream's frame size, else 0
    FrameHeader header; // the first frame's
    std::optional<VbrHeader> vbr;
    int64_t end = 0; // where frames may end: the tags at the end excluded
};

// A file of one frame (a download stopped after it) has no run of frames to
// confirm it: one whole frame where the audio must start, followed by no
// more than the start of the next frame of its stream.
std::optional<FrameStart> oneFrameAt(Reader& r, int64_t pos, int64_t end)
{
    const auto h = r.headerAt(pos, 0);
    if (!h || pos + h->frameBytes > end)
        return std::nullopt;
    const int64_t next = pos + h->frameBytes;
    if (end - next >= 4) {
        const auto cut = r.headerAt(next, 0);
        if (!cut || !sameStream(*cut, *h) || next + cut->frameBytes <= end)
            return std::nullopt;
    } else if (end > next && r.view(next, 1, 1)[0] != 0xFF) {
        return std::nullopt;
    }
    return FrameStart { pos, 0 };
}

std::optional<StreamStart> findStreamStart(Reader& r, BufferedStream& stream, TagLayout& layout)
{
    const int64_t searchFrom = searchStart(stream, layout);
    // The stream nearly always starts right there. Without a VBR header it
    // will be walked to its end: all of it is read now, and the tags at the
    // end with it, rather than the end first and the rest after; unless the
    // walk may jump along its grid, reading little of it.
    std::optional<VbrHeader> vbrAtSearchFrom;
    const auto early = r.headerAt(searchFrom, 0);
    if (early) {
        vbrAtSearchFrom = readVbrHeader(r.view(searchFrom, early->frameBytes, early->frameBytes));
        if (!vbrAtSearchFrom && !FrameGrid::of(*early))
            r.readRest(searchFrom);
    }
    StreamStart st;
    st.end = layout.tail().start(r.size());
    const int64_t from = std::min(searchFrom, st.end);
    auto start = findFrames(r, from, from + kMaxJunk, st.end, nullptr, 0);
    if (!start)
        start = oneFrameAt(r, from, st.end);
    if (!start)
        return std::nullopt;
    st.freeBytes = start->freeBytes;
    st.first = start->pos;
    const auto header = r.headerAt(st.first, st.freeBytes);
    if (!header)
        return std::nullopt;
    st.header = *header;
    st.vbr = early && st.first == searchFrom && st.freeBytes == 0
        ? vbrAtSearchFrom
        : readVbrHeader(r.view(st.first, header->frameBytes, header->frameBytes));
    return st;
}

// A header that describes more than the file holds belongs to a longer file
// this one was cut from: what is there is measured instead. The byte count is
// optional, so the frame count is weighed too, as frames of the lowest bit rate.
bool vbrHeaderFits(const StreamStart& st)
{
    const double present = double(st.end - st.first) * 1.25 + 2.0 * st.header.frameBytes;
    return st.vbr && double(st.vbr->bytes) <= present
        && double(st.vbr->frames) * smallestFrameBytes(st.header) <= present;
}

// The length and rate a usable VBR header gives; ref is the first audio frame.
void summarizeFromVbrHeader(StreamSummary& s, const StreamStart& st, const FrameHeader& ref)
{
    const VbrHeader& vbr = *st.vbr;
    s.frames = vbr.frames;
    const int64_t samples = int64_t(vbr.frames) * st.header.samplesPerFrame;
    const double seconds = double(samples) / st.header.sampleRate;
    s.totalSeconds = samples / st.header.sampleRate;
    // LAME writes "Info" instead of "Xing" in CBR files; their frame rate is the bit rate.
    if (vbr.info && ref.bitrateKbps > 0)
        s.bitrateKbps = ref.bitrateKbps;
    else
        s.bitrateKbps = roundedKbps(double(vbr.bytes), seconds);
    s.audioEnd = st.end;
}

// Without a header only the frames themselves tell the length, and whether
// the rate stays the same anywhere in the stream.
void summarizeFromFrames(StreamSummary& s, const FrameWalk& w, const FrameHeader& ref)
{
    const int64_t samples = w.frames * ref.samplesPerFrame;
    s.frames = w.frames;
    s.audioEnd = w.end;
    s.totalSeconds = samples / ref.sampleRate;
    if (w.oneBitrate && w.firstKbps > 0) {
        s.bitrateKbps = w.firstKbps;
    } else {
        s.averagedRate = true;
        s.bitrateKbps = roundedKbps(double(w.frameBytes), double(samples) / ref.sampleRate);
    }
}

} // namespace

StreamSummary analyzeStream(BufferedStream& stream, TagLayout& layout)
{
    StreamSummary s;
    Reader r(stream);
    const std::optional<StreamStart> st = findStreamStart(r, stream, layout);
    if (!st)
        return s;
    s.found = true;
    s.firstFrame = st->first;
    s.sampleRate = st->header.sampleRate;

    const int64_t audioStart = st->first + (st->vbr ? st->header.frameBytes : 0);
    FrameHeader ref = st->header;
    if (st->vbr) {
        if (auto h = r.headerAt(audioStart, st->freeBytes); h && sameStream(*h, st->header))
            ref = *h;
    }
    if (vbrHeaderFits(*st))
        summarizeFromVbrHeader(s, *st, ref);
    else
        summarizeFromFrames(s, walkFrames(r, audioStart, st->end, ref, st->freeBytes), ref);
    return s;
}

} // namespace melodex::trackinfo
