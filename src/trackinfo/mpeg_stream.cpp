#include "trackinfo/mpeg_stream.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <span>
#include <string_view>

#include <mpg123.h>
#include <taglib/tbytevector.h>
#include <taglib/tiostream.h>
#include <taglib/xingheader.h>

#include "trackinfo/buffered_stream.h"

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
// Places between the start and the end of the stream whose frames are
// compared with the first one to tell VBR without a header from CBR.
constexpr int kSamplePoints = 1;
constexpr std::size_t kSearchChunk = 16384;
// What the search for the last frame looks at first, from the end back.
constexpr int64_t kLastFramesBytes = 2048;
// Junk before the first frame and after the last one is searched this far:
// far enough for any tagger's leftovers, and a large file that holds no
// audio at all is not read to its end.
constexpr int64_t kMaxJunk = 8 << 20;
constexpr std::size_t kSampleBytes = 6144; // three frames of the largest kind and a start offset

// The file's bytes, looked at in place where the stream buffers them: the
// analysis makes many small reads near the start and near the end of a file,
// and a copy or a system call for each would cost more than the analysis.
// Other streams are read through one cached block.
class Reader {
public:
    Reader(TagLib::IOStream& stream, int64_t size)
        : stream_(stream), buffered_(dynamic_cast<BufferedStream*>(&stream)), size_(size)
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
        if (buffered_)
            return buffered_->view(static_cast<long>(pos), static_cast<std::size_t>(minBytes),
                                   static_cast<std::size_t>(maxBytes));
        const int64_t blockEnd = blockPos_ + static_cast<int64_t>(block_.size());
        if (pos < blockPos_ || pos + minBytes > blockEnd) {
            // A block near the end of the file reaches back from it, so the
            // tags and the last frames behind it land in one block.
            const int64_t blockLength = std::min(size_, std::max(minBytes, kBlockBytes));
            blockPos_ = std::min(pos, size_ - blockLength);
            stream_.clear();
            stream_.seek(static_cast<long>(blockPos_));
            block_ = stream_.readBlock(static_cast<unsigned long>(blockLength));
        }
        const int64_t end = std::min(blockPos_ + static_cast<int64_t>(block_.size()), pos + maxBytes);
        if (pos < blockPos_ || end <= pos)
            return {};
        return { bytes(block_) + (pos - blockPos_), static_cast<std::size_t>(end - pos) };
    }

    std::optional<FrameHeader> headerAt(int64_t pos)
    {
        const auto b = view(pos, 4, 4);
        if (b.size() < 4)
            return std::nullopt;
        return parseFrameHeader(b.data());
    }

private:
    static const unsigned char* bytes(const TagLib::ByteVector& v)
    {
        return reinterpret_cast<const unsigned char*>(v.data());
    }

    static constexpr int64_t kBlockBytes = 16384;
    TagLib::IOStream& stream_;
    BufferedStream* buffered_;
    int64_t size_;
    TagLib::ByteVector block_;
    int64_t blockPos_ = 0;
};

uint32_t littleEndian32(const unsigned char* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Where the audio may start: after an ID3v2 tag at the front. A tag whose
// size runs past the end of the file lies; then its frames are searched too,
// the chain check keeps picture data from passing for audio.
int64_t searchStart(Reader& r)
{
    const auto b = r.view(0, 10, 10);
    if (b.size() < 10 || std::memcmp(b.data(), "ID3", 3) != 0)
        return 0;
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
    if (end >= 128) {
        const auto b = r.view(end - 128, 3, 3);
        if (b.size() == 3 && std::memcmp(b.data(), "TAG", 3) == 0)
            end -= 128;
    }
    if (end >= 32) {
        const auto footer = r.view(end - 32, 32, 32);
        if (footer.size() == 32 && std::memcmp(footer.data(), "APETAGEX", 8) == 0) {
            const int64_t tagSize = littleEndian32(footer.data() + 12);
            const bool hasHeader = littleEndian32(footer.data() + 20) & 0x80000000u;
            const int64_t total = tagSize + (hasHeader ? 32 : 0);
            if (tagSize >= 32 && total <= end)
                end -= total;
        }
    }
    return end;
}

// True when a run of frames starts at pos: kChainToConfirm of them, or at
// least two that run up to the end of the audio (a short or cut file).
bool confirmChain(Reader& r, int64_t pos, int64_t end)
{
    std::optional<FrameHeader> first;
    int frames = 0;
    int64_t q = pos;
    while (frames < kChainToConfirm) {
        const auto b = end - q >= 4 ? r.view(q, 4, 4) : std::span<const unsigned char>();
        if (b.size() < 4)
            return frames >= 2;
        const auto h = parseFrameHeader(b.data());
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

bool syncAt(const unsigned char* b) { return b[0] == 0xFF && (b[1] & 0xE0) == 0xE0; }

std::optional<int64_t> findFirstFrame(Reader& r, int64_t from, int64_t end)
{
    int64_t pos = from;
    const int64_t limit = std::min(end, from + kMaxJunk);
    while (pos + 4 <= limit) {
        auto buffer = r.view(pos, 4, std::min<int64_t>(kSearchChunk, limit - pos));
        const std::size_t n = buffer.size();
        if (n < 4)
            break;
        for (std::size_t i = 0; i + 4 <= n; ++i) {
            if (!syncAt(buffer.data() + i) || !parseFrameHeader(buffer.data() + i))
                continue;
            if (confirmChain(r, pos + static_cast<int64_t>(i), end))
                return pos + static_cast<int64_t>(i);
            // The chain may have been read from elsewhere: look again.
            buffer = r.view(pos, static_cast<int64_t>(n), static_cast<int64_t>(n));
            if (buffer.size() < n)
                return std::nullopt;
        }
        pos += static_cast<int64_t>(n) - 3;
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
    // The last frame is nearly always within a few frames of the end, which
    // the stream holds at hand; junk behind it is searched in larger steps.
    int64_t step = kLastFramesBytes;
    while (pos > stop) {
        const int64_t start = std::max(stop, pos - step);
        const int64_t length = std::min(end, pos + 3) - start;
        step = static_cast<int64_t>(kSearchChunk);
        auto buffer = r.view(start, length, length);
        for (int64_t i = std::min<int64_t>(pos - start, static_cast<int64_t>(buffer.size()) - 4); i >= 0; --i) {
            if (!syncAt(buffer.data() + i))
                continue;
            const int64_t c = start + i;
            auto h = fits(c);
            if (h) {
                const int64_t next = c + h->frameBytes;
                if (next == end || fits(next) || next + 4 > end) {
                    int64_t q = next;
                    while (q < end) {
                        auto n = fits(q);
                        if (!n)
                            break;
                        q += n->frameBytes;
                    }
                    return q;
                }
            }
            // The checks may have read from elsewhere: look again.
            buffer = r.view(start, length, length);
            if (static_cast<int64_t>(buffer.size()) < length)
                return audioStart;
        }
        pos = start;
    }
    return stop > audioStart ? end : audioStart;
}

enum class Run { Same, Differs, None, NeedsMore };

// Compares the first run of three frames of the stream in b with ref. A run
// that may reach past the end of b needs more bytes unless b is all there is.
Run compareRun(std::span<const unsigned char> b, const FrameHeader& ref, bool complete)
{
    const std::size_t n = b.size();
    for (std::size_t i = 0; i + 4 <= n; ++i) {
        if (!syncAt(b.data() + i))
            continue;
        bool same = true;
        int frames = 0;
        for (std::size_t at = i; frames < 3; ++frames) {
            if (at + 4 > n) {
                if (!complete)
                    return Run::NeedsMore;
                break;
            }
            const auto h = parseFrameHeader(b.data() + at);
            if (!h || !sameStream(*h, ref))
                break;
            same = same && h->bitrateKbps == ref.bitrateKbps;
            at += h->frameBytes;
        }
        if (frames == 3)
            return same ? Run::Same : Run::Differs;
    }
    return complete ? Run::None : Run::NeedsMore;
}

// True when frames here and there across the stream differ in bit rate from
// the first: VBR without a header, which only a frame count measures right.
// The start and the end are at hand anyway; each place between costs a read
// (a disk seek when the file is not cached), so there is one: a VBR encoder
// changes its rate within a few frames, and only a stream that is silent at
// its start, middle and end would pass for CBR.
bool looksVariable(Reader& r, int64_t audioStart, int64_t audioEnd, const FrameHeader& ref)
{
    const int64_t span = audioEnd - audioStart;
    // Enough for a run of CBR frames like ref wherever the sample starts;
    // larger frames get the whole sample.
    const int64_t shortSample = 4 * (int64_t(ref.frameBytes) + 1) + 4;
    for (int k = 0; k <= kSamplePoints + 1; ++k) {
        const int64_t at = k <= kSamplePoints ? audioStart + span * k / (kSamplePoints + 1)
                                              : std::max(audioStart, audioEnd - shortSample);
        const int64_t whole = std::min<int64_t>(kSampleBytes, audioEnd - at);
        for (int64_t length = std::min(shortSample, whole);; length = whole) {
            const auto b = r.view(at, length, length);
            const Run run = compareRun(b, ref, length == whole || static_cast<int64_t>(b.size()) < length);
            if (run == Run::Differs)
                return true;
            if (run != Run::NeedsMore)
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
    const auto b = w->reader->view(w->begin + w->pos, want, want);
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
    // TagLib reads such a header. It takes the first "Xing", else the first
    // "Info", else the first "VBRI", and at most 32 bytes from there: it gets
    // just those bytes, rather than a copy of the whole frame to search.
    const auto frame = r.view(*first, firstHeader->frameBytes, firstHeader->frameBytes);
    const std::string_view frameText(reinterpret_cast<const char*>(frame.data()), frame.size());
    const std::size_t xingAt = frameText.find("Xing");
    const std::size_t infoAt = frameText.find("Info");
    const std::size_t markAt = xingAt != std::string_view::npos ? xingAt
        : infoAt != std::string_view::npos                      ? infoAt
                                                                : frameText.find("VBRI");
    const TagLib::MPEG::XingHeader vbrHeader(
        markAt == std::string_view::npos
            ? TagLib::ByteVector()
            : TagLib::ByteVector(frameText.data() + markAt,
                                 static_cast<unsigned int>(std::min<std::size_t>(32, frameText.size() - markAt))));
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
        const bool cbr = xingAt == std::string_view::npos && infoAt != std::string_view::npos;
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
