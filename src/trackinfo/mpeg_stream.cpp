#include "trackinfo/mpeg_stream.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#include <mpg123.h>
#include <taglib/tbytevector.h>
#include <taglib/tiostream.h>
#include <taglib/xingheader.h>

namespace melodex::trackinfo {
namespace {

// Bit rates in kbps by [MPEG-1 ? 0 : 1][layer - 1][index]; index 0 is free
// format and 15 is invalid, both refused.
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
// Places across the stream whose frames are compared with the first one to
// tell VBR without a header from CBR.
constexpr int kSamplePoints = 8;
constexpr std::size_t kSearchChunk = 16384;
// Junk before the first frame and after the last one is searched this far:
// far enough for any tagger's leftovers, and a large file that holds no
// audio at all is not read to its end.
constexpr int64_t kMaxJunk = 8 << 20;
constexpr std::size_t kSampleBytes = 6144; // three frames of the largest kind and a start offset

// Reads through two cached blocks: the analysis makes many small reads near
// the start and near the end of a file, and each read the stream serves costs
// a seek and a system call.
class Reader {
public:
    Reader(TagLib::IOStream& stream, int64_t size) : stream_(stream), size_(size) { }
    int64_t size() const { return size_; }

    TagLib::ByteVector read(int64_t pos, int64_t length)
    {
        if (pos < 0 || pos >= size_ || length <= 0)
            return {};
        length = std::min(length, size_ - pos);
        for (auto& b : blocks_) {
            if (pos >= b.pos && pos + length <= b.pos + static_cast<int64_t>(b.data.size())) {
                b.used = ++clock_;
                return b.data.mid(static_cast<unsigned int>(pos - b.pos), static_cast<unsigned int>(length));
            }
        }
        // A block near the end of the file reaches back from it, so the tags
        // and the last frames behind it land in one block.
        const int64_t blockLength = std::min(size_, std::max<int64_t>(length, kBlockBytes));
        const int64_t blockPos = std::min(pos, size_ - blockLength);
        Block& b = blocks_[0].used <= blocks_[1].used ? blocks_[0] : blocks_[1];
        stream_.clear();
        stream_.seek(static_cast<long>(blockPos));
        b.data = stream_.readBlock(static_cast<unsigned long>(blockLength));
        b.pos = blockPos;
        b.used = ++clock_;
        if (pos + length > b.pos + static_cast<int64_t>(b.data.size())) // the stream ended early
            return b.data.mid(static_cast<unsigned int>(std::min<int64_t>(pos - b.pos, b.data.size())));
        return b.data.mid(static_cast<unsigned int>(pos - b.pos), static_cast<unsigned int>(length));
    }

    std::optional<FrameHeader> headerAt(int64_t pos)
    {
        const TagLib::ByteVector b = read(pos, 4);
        if (b.size() < 4)
            return std::nullopt;
        return parseFrameHeader(reinterpret_cast<const unsigned char*>(b.data()));
    }

private:
    static constexpr int64_t kBlockBytes = 16384;
    struct Block {
        int64_t pos = 0;
        TagLib::ByteVector data;
        uint64_t used = 0;
    };
    TagLib::IOStream& stream_;
    int64_t size_;
    Block blocks_[2];
    uint64_t clock_ = 0;
};

const unsigned char* bytes(const TagLib::ByteVector& v) { return reinterpret_cast<const unsigned char*>(v.data()); }

uint32_t littleEndian32(const unsigned char* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Where the audio may start: after an ID3v2 tag at the front. A tag whose
// size runs past the end of the file lies; then its frames are searched too,
// the chain check keeps picture data from passing for audio.
int64_t searchStart(Reader& r)
{
    const TagLib::ByteVector h = r.read(0, 10);
    if (h.size() < 10 || !h.startsWith("ID3"))
        return 0;
    const unsigned char* b = bytes(h);
    if (b[3] == 0xFF || b[4] == 0xFF || (b[6] | b[7] | b[8] | b[9]) & 0x80)
        return 0;
    const int64_t size = int64_t(b[6]) << 21 | int64_t(b[7]) << 14 | int64_t(b[8]) << 7 | int64_t(b[9]);
    const int64_t total = 10 + size + ((b[5] & 0x10) ? 10 : 0);
    return total <= r.size() ? total : 10;
}

// Where the audio must end: before an ID3v1 tag and an APEv2 tag at the back.
int64_t searchEnd(Reader& r)
{
    int64_t end = r.size();
    if (end >= 128 && r.read(end - 128, 3) == TagLib::ByteVector("TAG"))
        end -= 128;
    if (end >= 32) {
        const TagLib::ByteVector footer = r.read(end - 32, 32);
        if (footer.size() == 32 && footer.startsWith("APETAGEX")) {
            const int64_t tagSize = littleEndian32(bytes(footer) + 12);
            const bool hasHeader = littleEndian32(bytes(footer) + 20) & 0x80000000u;
            const int64_t total = tagSize + (hasHeader ? 32 : 0);
            if (tagSize >= 32 && total <= end)
                end -= total;
        }
    }
    return end;
}

// True when a run of frames starts at pos: kChainToConfirm of them, or at
// least two that run up to the end of the audio (a short or cut file).
// buffer holds the file's bytes from bufferPos on, to spare small reads.
bool confirmChain(Reader& r, int64_t pos, int64_t end, const TagLib::ByteVector& buffer, int64_t bufferPos)
{
    std::optional<FrameHeader> first;
    int frames = 0;
    int64_t q = pos;
    while (frames < kChainToConfirm) {
        if (q == end)
            return frames >= 2;
        std::optional<FrameHeader> h;
        if (q >= bufferPos && q + 4 <= bufferPos + static_cast<int64_t>(buffer.size())) {
            h = parseFrameHeader(bytes(buffer) + (q - bufferPos));
        } else {
            const TagLib::ByteVector b = r.read(q, std::min<int64_t>(4, end - q));
            if (b.size() < 4)
                return frames >= 2;
            h = parseFrameHeader(bytes(b));
        }
        if (!h || (first && !sameStream(*first, *h)))
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

std::optional<int64_t> findFirstFrame(Reader& r, int64_t from, int64_t end)
{
    int64_t pos = from;
    const int64_t limit = std::min(end, from + kMaxJunk);
    while (pos + 4 <= limit) {
        const TagLib::ByteVector buffer = r.read(pos, std::min<int64_t>(kSearchChunk, limit - pos));
        if (buffer.size() < 4)
            break;
        const unsigned char* b = bytes(buffer);
        for (std::size_t i = 0; i + 4 <= buffer.size(); ++i) {
            if (b[i] == 0xFF && (b[i + 1] & 0xE0) == 0xE0 && parseFrameHeader(b + i)
                && confirmChain(r, pos + static_cast<int64_t>(i), end, buffer, pos))
                return pos + static_cast<int64_t>(i);
        }
        pos += static_cast<int64_t>(buffer.size()) - 3;
    }
    return std::nullopt;
}

// The end of the last whole frame of the stream: found walking back from the
// end past junk and cut frames, then forward again, since the last good
// frame is only recognised by the frame behind it.
int64_t findAudioEnd(Reader& r, int64_t audioStart, int64_t end, const FrameHeader& ref)
{
    auto fits = [&](int64_t pos) -> std::optional<FrameHeader> {
        auto h = r.headerAt(pos);
        if (!h || !sameStream(*h, ref) || pos + h->frameBytes > end)
            return std::nullopt;
        return h;
    };
    int64_t pos = end;
    const int64_t stop = std::max(audioStart, end - kMaxJunk);
    while (pos > stop) {
        const int64_t start = std::max(stop, pos - static_cast<int64_t>(kSearchChunk));
        const TagLib::ByteVector buffer = r.read(start, std::min(end, pos + 3) - start);
        const unsigned char* b = bytes(buffer);
        for (int64_t i = std::min<int64_t>(pos - start, static_cast<int64_t>(buffer.size()) - 4); i >= 0; --i) {
            if (b[i] != 0xFF || (b[i + 1] & 0xE0) != 0xE0)
                continue;
            const int64_t c = start + i;
            auto h = fits(c);
            if (!h)
                continue;
            const int64_t next = c + h->frameBytes;
            if (next != end && !fits(next) && !(next + 4 > end))
                continue;
            int64_t q = next;
            while (q < end) {
                auto n = fits(q);
                if (!n)
                    break;
                q += n->frameBytes;
            }
            return q;
        }
        pos = start;
    }
    return stop > audioStart ? end : audioStart;
}

// True when frames here and there across the stream differ in bit rate from
// the first: VBR without a header, which only a frame count measures right.
bool looksVariable(Reader& r, int64_t audioStart, int64_t audioEnd, const FrameHeader& ref)
{
    const int64_t span = audioEnd - audioStart;
    for (int k = 0; k <= kSamplePoints; ++k) {
        const int64_t at = audioStart + span * k / (kSamplePoints + 1);
        const TagLib::ByteVector buffer = r.read(at, std::min<int64_t>(kSampleBytes, audioEnd - at));
        const unsigned char* b = bytes(buffer);
        const std::size_t n = buffer.size();
        for (std::size_t i = 0; i + 4 <= n; ++i) {
            if (b[i] != 0xFF || (b[i + 1] & 0xE0) != 0xE0)
                continue;
            auto h0 = parseFrameHeader(b + i);
            if (!h0 || !sameStream(*h0, ref) || i + h0->frameBytes + 4 > n)
                continue;
            auto h1 = parseFrameHeader(b + i + h0->frameBytes);
            if (!h1 || !sameStream(*h1, ref))
                continue;
            const std::size_t i2 = i + h0->frameBytes + h1->frameBytes;
            if (i2 + 4 > n)
                continue;
            auto h2 = parseFrameHeader(b + i2);
            if (!h2 || !sameStream(*h2, ref))
                continue;
            if (h0->bitrateKbps != ref.bitrateKbps || h1->bitrateKbps != ref.bitrateKbps
                || h2->bitrateKbps != ref.bitrateKbps)
                return true;
            break;
        }
    }
    return false;
}

// libmpg123 reads the audio through these, as a file that holds nothing but
// the frames: it never sees an ID3v2 size that lies or the tags at the end.
struct Window {
    Reader* reader;
    int64_t begin;
    int64_t length;
    int64_t pos;
};

mpg123_ssize_t windowRead(void* handle, void* buffer, size_t count)
{
    auto* w = static_cast<Window*>(handle);
    const int64_t want = std::min<int64_t>(static_cast<int64_t>(count), w->length - w->pos);
    if (want <= 0)
        return 0;
    const TagLib::ByteVector b = w->reader->read(w->begin + w->pos, want);
    std::memcpy(buffer, b.data(), b.size());
    w->pos += b.size();
    return static_cast<mpg123_ssize_t>(b.size());
}

off_t windowSeek(void* handle, off_t offset, int whence)
{
    auto* w = static_cast<Window*>(handle);
    int64_t base = 0;
    if (whence == SEEK_CUR)
        base = w->pos;
    else if (whence == SEEK_END)
        base = w->length;
    else if (whence != SEEK_SET)
        return -1;
    const int64_t target = base + offset;
    if (target < 0)
        return -1;
    w->pos = std::min(target, w->length);
    return static_cast<off_t>(w->pos);
}

struct HandleDeleter {
    void operator()(mpg123_handle* h) const
    {
        mpg123_close(h);
        mpg123_delete(h);
    }
};

// Decoded samples in [begin, end), or 0 when libmpg123 cannot tell.
int64_t countSamples(Reader& r, int64_t begin, int64_t end)
{
    static const bool initialised = mpg123_init() == MPG123_OK;
    if (!initialised)
        return 0;
    int error = MPG123_OK;
    std::unique_ptr<mpg123_handle, HandleDeleter> mh(mpg123_new(nullptr, &error));
    if (!mh)
        return 0;
    mpg123_param(mh.get(), MPG123_ADD_FLAGS, MPG123_QUIET | MPG123_IGNORE_INFOFRAME, 0);
    Window window { &r, begin, end - begin, 0 };
    if (mpg123_replace_reader_handle(mh.get(), windowRead, windowSeek, nullptr) != MPG123_OK
        || mpg123_open_handle(mh.get(), &window) != MPG123_OK || mpg123_scan(mh.get()) != MPG123_OK)
        return 0;
    const off_t samples = mpg123_length(mh.get());
    return samples > 0 ? static_cast<int64_t>(samples) : 0;
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

std::optional<FrameHeader> parseFrameHeader(const unsigned char* p)
{
    if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0)
        return std::nullopt;
    const int versionBits = (p[1] >> 3) & 3;
    const int layerBits = (p[1] >> 1) & 3;
    const int bitrateIndex = p[2] >> 4;
    const int rateIndex = (p[2] >> 2) & 3;
    if (versionBits == 1 || layerBits == 0 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3
        || (p[3] & 3) == 2)
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
        h.frameBytes = (12 * bps / h.sampleRate + padding) * 4;
    } else if (h.layer == 2 || h.version == 10) {
        h.samplesPerFrame = 1152;
        h.frameBytes = 144 * bps / h.sampleRate + padding;
    } else {
        h.samplesPerFrame = 576;
        h.frameBytes = 72 * bps / h.sampleRate + padding;
    }
    return h;
}

bool sameStream(const FrameHeader& a, const FrameHeader& b)
{
    return a.version == b.version && a.layer == b.layer && a.sampleRate == b.sampleRate && a.channels == b.channels;
}

StreamSummary analyzeStream(TagLib::IOStream& stream, int64_t fileSize)
{
    StreamSummary s;
    Reader r(stream, fileSize);
    const int64_t end = searchEnd(r);
    const auto first = findFirstFrame(r, std::min(searchStart(r), end), end);
    if (!first)
        return s;
    const auto firstHeader = r.headerAt(*first);
    if (!firstHeader)
        return s;
    s.found = true;
    s.firstFrame = *first;
    s.sampleRate = firstHeader->sampleRate;

    // A Xing, Info or VBRI header frame carries the frame count and no audio.
    const TagLib::ByteVector headerFrame = r.read(*first, firstHeader->frameBytes);
    const TagLib::MPEG::XingHeader vbrHeader(headerFrame);
    const bool hasVbrHeader = vbrHeader.isValid();
    const int64_t audioStart = *first + (hasVbrHeader ? firstHeader->frameBytes : 0);
    FrameHeader ref = *firstHeader;
    if (hasVbrHeader) {
        if (auto h = r.headerAt(audioStart); h && sameStream(*h, *firstHeader))
            ref = *h;
    }

    // A header that describes more than the file holds belongs to a longer
    // file this one was cut from: what is there is measured instead. The byte
    // count is optional, so the frame count is weighed too, as frames of the
    // lowest bit rate.
    const double present = double(end - *first) * 1.25 + 2.0 * firstHeader->frameBytes;
    const bool headerUsable = hasVbrHeader && vbrHeader.totalFrames() > 0
        && double(vbrHeader.totalSize()) <= present
        && double(vbrHeader.totalFrames()) * smallestFrameBytes(*firstHeader) <= present;
    if (headerUsable) {
        const int64_t samples = int64_t(vbrHeader.totalFrames()) * firstHeader->samplesPerFrame;
        const double seconds = double(samples) / firstHeader->sampleRate;
        s.totalSeconds = samples / firstHeader->sampleRate;
        // LAME writes "Info" instead of "Xing" in CBR files; their frame rate is the bit rate.
        const bool cbr = headerFrame.find("Xing") < 0 && headerFrame.find("Info") >= 0;
        if (cbr)
            s.bitrateKbps = ref.bitrateKbps;
        else
            s.bitrateKbps = roundedKbps(vbrHeader.totalSize() > 0 ? double(vbrHeader.totalSize())
                                                                  : double(end - *first), seconds);
        s.audioEnd = end;
        return s;
    }

    s.audioEnd = findAudioEnd(r, audioStart, end, ref);
    const int64_t audioBytes = std::max<int64_t>(0, s.audioEnd - audioStart);
    if (audioBytes > 0 && looksVariable(r, audioStart, s.audioEnd, ref)) {
        if (const int64_t samples = countSamples(r, audioStart, s.audioEnd); samples > 0) {
            s.scanned = true;
            s.totalSeconds = samples / ref.sampleRate;
            s.bitrateKbps = roundedKbps(double(audioBytes), double(samples) / ref.sampleRate);
            return s;
        }
    }
    s.bitrateKbps = ref.bitrateKbps;
    s.totalSeconds = audioBytes * 8 / (int64_t(ref.bitrateKbps) * 1000);
    return s;
}

} // namespace melodex::trackinfo
