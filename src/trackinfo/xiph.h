#pragma once
// What FLAC and Ogg files share: the Vorbis comment that holds their texts
// (a FLAC file's VORBIS_COMMENT block, the comment header of Ogg Vorbis,
// OpusTags, the comment block of FLAC in Ogg), and FLAC's STREAMINFO, which
// FLAC in Ogg carries in its first packet.
//
// A comment states its own sizes and counts, and they are claims: each is
// held to the bytes the packet holds, the walk stops after a cap, and only
// the values of the fields shown are read (a cover picture stored as a
// comment is stepped over), so a block claiming four billion comments or
// gigabytes of text costs a few small reads.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "trackinfo/track_details.h"

namespace melodex {
class BufferedStream;
}

namespace melodex::trackinfo {

// Where a packet's bytes lie in the file: an Ogg packet is cut into pieces
// by the pages it spans; a FLAC metadata block is one piece.
class PacketBytes {
public:
    void add(int64_t offset, int64_t length);
    int64_t size() const { return size_; }
    std::size_t pieces() const { return pieces_.size(); }
    // Copies up to n bytes from `at` in the packet; how many were copied.
    std::size_t read(BufferedStream& stream, int64_t at, char* out, std::size_t n) const;

private:
    struct Piece {
        int64_t offset; // in the file
        int64_t start; // in the packet
        int64_t length;
    };
    std::vector<Piece> pieces_;
    int64_t size_ = 0;
};

// The texts of the Vorbis comment (vendor string, count, comments) that
// starts `at` bytes into the packet: TITLE, ARTIST, ALBUM, DATE (its year),
// DESCRIPTION or else COMMENT, GENRE, TRACKNUMBER, ALBUMARTIST. Several
// values of a field are joined; a value that is not UTF-8 is read as legacy
// text, as an MP3 tag's is.
TagTexts readVorbisComment(BufferedStream& stream, const PacketBytes& packet, int64_t at);

inline constexpr std::size_t kFlacStreamInfoBytes = 34;

struct FlacStreamInfo {
    uint32_t minBlock = 0, maxBlock = 0; // samples in a frame
    uint32_t minFrame = 0, maxFrame = 0; // bytes; 0: not known
    uint32_t rate = 0; // Hz
    uint64_t samples = 0; // 0: not known (an encoder that could not go back)
};

FlacStreamInfo parseFlacStreamInfo(const unsigned char* p);

} // namespace melodex::trackinfo
