// FLAC: "fLaC", metadata blocks (STREAMINFO first, the Vorbis comment among
// the others, a cover picture often), then the frames. The texts come from
// the Vorbis comment, the rate and the length from STREAMINFO. An encoder
// that wrote to a pipe could not go back to fill in the length, and leaves
// 0 samples there (or, reading from one, claims the most it can say): the
// last frame's header then says how many samples came before it. The same
// header tells a whole file from a cut one, which holds fewer than claimed.

#include "trackinfo/format_readers.h"

#include "trackinfo/buffered_stream.h"
#include "trackinfo/byte_order.h"
#include "trackinfo/plain_tags.h"
#include "trackinfo/tag_layout.h"
#include "trackinfo/track_details.h"
#include "trackinfo/xiph.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>

namespace melodex::trackinfo {
namespace {

// Real files hold a handful of blocks (and padding); a walk stops after this
// many, so that a file of a million empty blocks costs what a real one does.
constexpr int kMaxBlocks = 1024;

constexpr int kStreamInfoBlock = 0;
constexpr int kVorbisCommentBlock = 4;

// How far before the end the last frame is looked for when STREAMINFO does
// not say how large a frame may be: larger than any frame an encoder writes
// at the usual block sizes.
constexpr int64_t kLastFrameSearchBytes = int64_t(256) * 1024;

struct FlacScan {
    std::optional<FlacStreamInfo> info;
    std::optional<TagTexts> comment; // the first VORBIS_COMMENT block's
    int64_t audioStart = -1; // after the last block; -1: the blocks never ended
};

void walkBlocks(BufferedStream& stream, int64_t at, FlacScan& scan)
{
    const int64_t end = stream.size();
    for (int i = 0; i < kMaxBlocks && end - at >= 4; ++i) {
        const auto head = stream.view(static_cast<long>(at), 4, 4);
        if (head.size() < 4)
            return;
        const bool last = (head[0] & 0x80) != 0;
        const int type = head[0] & 0x7F;
        const int64_t body = at + 4;
        const int64_t length = int64_t(head[1]) << 16 | int64_t(head[2]) << 8 | head[3];
        if (type == kStreamInfoBlock && i == 0 && length >= int64_t(kFlacStreamInfoBytes)) {
            const auto p = stream.view(static_cast<long>(body), kFlacStreamInfoBytes, kFlacStreamInfoBytes);
            if (p.size() == kFlacStreamInfoBytes)
                scan.info = parseFlacStreamInfo(p.data());
        } else if (type == kVorbisCommentBlock && !scan.comment) {
            // A block cut by the end of the file gives the comments it holds.
            PacketBytes block;
            block.add(body, std::min(length, end - body));
            scan.comment = readVorbisComment(stream, block, 0);
        }
        at = body + length;
        if (at > end)
            return;
        if (last) {
            scan.audioStart = at;
            return;
        }
    }
}

// CRC-8 (polynomial 0x07) of a frame header, which ends with it.
uint8_t crc8(const unsigned char* p, std::size_t n)
{
    uint8_t crc = 0;
    for (std::size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<uint8_t>(crc & 0x80 ? (crc << 1) ^ 0x07 : crc << 1);
    }
    return crc;
}

// The samples before the frame whose header starts at p (n bytes at hand)
// and with it, or nothing when no valid header starts there.
struct FrameSamples {
    uint64_t first, end;
};

std::optional<FrameSamples> frameAt(const unsigned char* p, std::size_t n, const FlacStreamInfo& info)
{
    if (n < 6 || p[0] != 0xFF || (p[1] & 0xFE) != 0xF8)
        return std::nullopt;
    const bool variable = (p[1] & 1) != 0;
    const int blockCode = p[2] >> 4, rateCode = p[2] & 0x0F;
    if (blockCode == 0 || rateCode == 15 || (p[3] >> 4) > 10 || (p[3] & 1) != 0)
        return std::nullopt;
    // The frame or first sample number, coded as UTF-8 codes a character
    // (up to 36 bits, seven bytes): its leading ones say how many follow.
    std::size_t i = 4;
    int ones = 0;
    while (ones < 8 && (p[i] & (0x80 >> ones)) != 0)
        ++ones;
    if (ones == 1 || ones == 8 || (!variable && ones == 7))
        return std::nullopt;
    int more = ones == 0 ? 0 : ones - 1;
    uint64_t number = p[i] & (0xFF >> (ones + 1));
    for (++i; more > 0; --more, ++i) {
        if (i >= n || (p[i] & 0xC0) != 0x80)
            return std::nullopt;
        number = number << 6 | (p[i] & 0x3F);
    }
    uint64_t block = blockCode == 1 ? 192
        : blockCode <= 5            ? 576u << (blockCode - 2)
        : blockCode >= 8            ? 256u << (blockCode - 8)
                                    : 0;
    const std::size_t blockBytes = blockCode == 6 ? 1 : blockCode == 7 ? 2 : 0;
    const std::size_t rateBytes = rateCode == 12 ? 1 : rateCode == 13 || rateCode == 14 ? 2 : 0;
    if (i + blockBytes + rateBytes >= n)
        return std::nullopt;
    if (blockBytes)
        block = (blockBytes == 1 ? p[i] : bigEndian16(p + i)) + 1u;
    i += blockBytes + rateBytes;
    // No frame holds more than STREAMINFO's largest block: bytes of audio
    // that happen to look like a header rarely agree.
    if ((info.maxBlock != 0 && block > info.maxBlock) || crc8(p, i) != p[i])
        return std::nullopt;
    const uint64_t first = variable ? number : number * info.maxBlock;
    return FrameSamples { first, first + block };
}

// The samples the frames hold, from the last frame's header, looked for
// backwards from the end of the audio within the largest frame STREAMINFO
// states. With nothing claimed: the samples through that frame. Where the
// claim is more than any header near the end says, the file was cut: the
// samples before the frame it ends in. Else the claim.
uint64_t samplesHeld(
    BufferedStream& stream, const FlacStreamInfo& info, uint64_t claim, int64_t audioStart, int64_t audioEnd)
{
    const int64_t window = std::min<int64_t>(
        audioEnd - audioStart, info.maxFrame > 0 ? int64_t(info.maxFrame) + 32 : kLastFrameSearchBytes);
    if (window < 6)
        return claim;
    const auto bytes = stream.view(static_cast<long>(audioEnd - window), static_cast<std::size_t>(window),
        static_cast<std::size_t>(window));
    std::optional<uint64_t> cut;
    // Every header starts with 0xFF: memrchr finds them many bytes at a time.
    for (std::size_t n = bytes.size() >= 6 ? bytes.size() - 5 : 0; n > 0;) {
        const void* hit = memrchr(bytes.data(), 0xFF, n);
        if (!hit)
            break;
        n = static_cast<std::size_t>(static_cast<const unsigned char*>(hit) - bytes.data());
        const auto frame = frameAt(bytes.data() + n, bytes.size() - n, info);
        if (!frame)
            continue;
        if (claim == 0)
            return frame->end;
        if (frame->end == claim)
            return claim;
        if (!cut && frame->end < claim)
            cut = frame->first;
    }
    return cut.value_or(claim);
}

// Whether the audio bytes can hold the samples STREAMINFO claims. An encoder
// reading a WAV from a pipe, whose header gives no length, claims the most
// a header can say; no frame is shorter than its header, a subframe header
// and value for a channel and its CRC.
bool holdsClaim(const FlacStreamInfo& info, int64_t audioBytes)
{
    constexpr uint64_t kLeastFrameBytes = 10;
    const uint64_t frames
        = static_cast<uint64_t>(audioBytes) / std::max<uint64_t>(info.minFrame, kLeastFrameBytes);
    return info.samples <= (frames + 1) * (info.maxBlock ? info.maxBlock : 65535u);
}

} // namespace

void readFlacFile(BufferedStream& stream, TagLayout& layout, TrackDetails& details)
{
    details.format = AudioFormat::Flac;
    const int64_t start = layout.id3v2() ? layout.id3v2()->extent() : 0;
    FlacScan scan;
    walkBlocks(stream, start + 4, scan);

    // The Vorbis comment first, then an ID3v2 tag in front of "fLaC". A file
    // without audio still shows them.
    details.texts = scan.comment.value_or(TagTexts {});
    if (layout.id3v2())
        fillMissing(details.texts, readId3v2Texts(stream, 0, *layout.id3v2()));

    if (!scan.info) {
        details.problem = "FLAC STREAMINFO missing";
        return;
    }
    const FlacStreamInfo& info = *scan.info;
    if (info.rate == 0) {
        details.problem = "unusable FLAC STREAMINFO";
        return;
    }
    // A file cut before its frames keeps its texts, but holds no audio.
    const int64_t audioEnd = layout.tail().start(stream.size());
    if (scan.audioStart < 0 || audioEnd <= scan.audioStart) {
        details.problem = "no FLAC frames";
        return;
    }
    details.sampleRate = static_cast<int>(info.rate);
    details.readable = true;
    const int64_t audioBytes = audioEnd - scan.audioStart;
    const uint64_t claim = holdsClaim(info, audioBytes) ? info.samples : 0;
    const uint64_t samples = samplesHeld(stream, info, claim, scan.audioStart, audioEnd);
    details.seconds = static_cast<int64_t>(samples / info.rate);
    details.bitrateKbps = averageKbps(static_cast<uint64_t>(audioBytes), samples, info.rate);
}

} // namespace melodex::trackinfo
