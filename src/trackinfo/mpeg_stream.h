#pragma once
// The MPEG audio stream of a file: where it is, its sampling rate, bit rate
// and playing time. The tags are read elsewhere; the frames are found here
// rather than through TagLib's MPEG file, because TagLib trusts an ID3v2 size
// that lies, trusts a VBR header that describes more than the file holds,
// and guesses the length of header-less VBR from the first frame.

#include <cstdint>
#include <optional>

namespace melodex {
class BufferedStream;
}

namespace melodex::trackinfo {

class TagLayout;

struct FrameHeader {
    int version = 0; // 10 = MPEG-1, 20 = MPEG-2, 25 = MPEG-2.5
    int layer = 0; // 1, 2 or 3
    int bitrateKbps = 0; // 0: free format, whose rate only its frame size tells
    int sampleRate = 0; // Hz
    int channels = 0; // 1 or 2
    int frameBytes = 0; // the whole frame, header and padding included
    int samplesPerFrame = 0;
};

// The four header bytes at p, or nothing when they are no valid frame header
// (reserved values). A free-format header carries no bit rate: it is valid
// only with freeFormatBytes, the stream's frame size without padding, which
// only the distance between its frames tells.
std::optional<FrameHeader> parseFrameHeader(const unsigned char* p, int freeFormatBytes = 0);

// Frames of one stream share version, layer, sampling rate, channel count
// and whether the rate is free.
bool sameStream(const FrameHeader& a, const FrameHeader& b);

struct StreamSummary {
    bool found = false;
    int64_t firstFrame = 0; // offset of the first frame (a VBR header frame when there is one)
    int64_t audioEnd = 0; // end of the last whole frame (with a usable VBR header: where tags begin)
    int sampleRate = 0;
    int bitrateKbps = 0;
    int64_t totalSeconds = 0;
    int64_t frames = 0; // audio frames, as the VBR header counts them or as walked
    bool averagedRate = false; // the bit rate is the walked frames' average: their rates differ, or are free
};

// The audio is looked for between the tags the layout finds at the start
// and at the end of the stream.
StreamSummary analyzeStream(BufferedStream& stream, TagLayout& layout);

} // namespace melodex::trackinfo
