#pragma once
// The MPEG audio stream of a file: where it is, its sampling rate, bit rate
// and playing time. Tags are TagLib's business; this finds the frames itself
// because TagLib trusts an ID3v2 size that lies, trusts a VBR header that
// describes more than the file holds, and guesses the length of header-less
// VBR from the first frame.

#include <cstdint>
#include <optional>

namespace TagLib {
class IOStream;
}

namespace melodex::trackinfo {

struct FrameHeader {
    int version = 0;         // 10 = MPEG-1, 20 = MPEG-2, 25 = MPEG-2.5
    int layer = 0;           // 1, 2 or 3
    int bitrateKbps = 0;
    int sampleRate = 0;      // Hz
    int channels = 0;        // 1 or 2
    int frameBytes = 0;      // the whole frame, header and padding included
    int samplesPerFrame = 0;
};

// The four header bytes at p, or nothing when they are no valid frame header
// (free-format bit rate, reserved values) or the frame is too short to hold
// its side information.
std::optional<FrameHeader> parseFrameHeader(const unsigned char* p);

// Frames of one stream share version, layer, sampling rate and channel count.
bool sameStream(const FrameHeader& a, const FrameHeader& b);

struct StreamSummary {
    bool found = false;
    int64_t firstFrame = 0;  // offset of the first frame (a VBR header frame when there is one)
    int64_t audioEnd = 0;    // end of the last whole frame
    int sampleRate = 0;
    int bitrateKbps = 0;
    int64_t totalSeconds = 0;
    bool scanned = false;    // the frames were counted (VBR without a usable header)
};

// fileSize: the stream's length in bytes.
StreamSummary analyzeStream(TagLib::IOStream& stream, int64_t fileSize);

} // namespace melodex::trackinfo
