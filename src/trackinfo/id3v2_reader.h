#pragma once
// The frames of an ID3v2.2, 2.3 or 2.4 tag at the start of a file, one after
// another, with what each version wraps around them undone: an extended
// header, unsynchronisation of the whole tag (2.2, 2.3) or of single frames
// (2.4), grouping bytes, data length indicators and zlib compression.
//
// Damage costs only what it touches: an empty frame or one whose ID is not
// an ID is stepped over by its size, a frame that cannot be read (encrypted,
// broken compression) is left out, and the walk ends only where no frame can
// follow (padding, the tag's end, a frame running past it). Bytes are read
// only for the frames the caller asks for; a cover picture is stepped over.

#include <cstddef>
#include <string>
#include <string_view>

#include "trackinfo/tag_layout.h"

namespace melodex {
class BufferedStream;
}

namespace melodex::trackinfo {

class Id3v2Reader {
public:
    // The tag whose header is at `offset` of the stream; the header must
    // be readable() (the caller decides what to do with other versions).
    Id3v2Reader(BufferedStream& stream, long offset, const Id3v2Header& header);

    int version() const { return version_; }

    // Moves to the next frame; false when none follows.
    bool next();
    // The frame's ID as stored: three characters in ID3v2.2, four after.
    std::string_view id() const { return { id_, version_ == 2 ? 3u : 4u }; }
    // The frame's content; false when it cannot be read, and the frame
    // should be treated as absent.
    bool data(std::string& out);

    // True as long as the tag holds only what TagLib reads as the ID3v2
    // documents mean it: an ID3v2.3 or 2.4 header without flags, frames of
    // known sizes, without flags and with valid IDs, back to back. TagLib loses frames or whole tags on much
    // of the rest, so its reading can be held against this one only here.
    bool tagLibAlike() const { return tagLibAlike_; }

    // Where the frames end as far as the file shows them: after the last
    // frame walked before anything that is no frame (padding, audio behind a
    // size that lies), or the end of the file when a frame runs past it.
    // Meaningful once next() has returned false.
    long framesEnd() const { return framesEnd_; }

    // The tag's bytes after its header, unsynchronisation undone when it
    // covers the whole tag. Cheap to copy: a copy is a position.
    class Bytes {
    public:
        Bytes(BufferedStream& stream, long begin, long end, bool unsynchronised);
        // The next n bytes (into out unless it is null); false, and the
        // position undefined, when the tag ends first.
        bool read(char* out, std::size_t n);
        bool skip(std::size_t n) { return read(nullptr, n); }
        long rawPosition() const { return raw_; }
        long rawEnd() const { return end_; }

    private:
        BufferedStream* stream_;
        long raw_;
        long end_;
        bool unsynchronised_;
        bool afterFF_ = false;
    };

private:
    // Valid, Invalid, or valid but with a "0" that some TagLib versions refuse.
    enum class IdKind { Valid, Invalid, Unsure };
    static IdKind classify(const unsigned char* id, std::size_t n);
    IdKind idAt(long rawOffset);
    bool readExtendedHeader();
    long frameSize(const unsigned char* header, long bodyStart);

    BufferedStream& stream_;
    Bytes bytes_;
    Bytes body_;
    int version_ = 0;
    bool tagUnsynchronised_ = false;
    bool ended_ = false;
    bool tagLibAlike_ = true;
    bool pastFrames_ = false; // a block that is no frame was stepped over
    long framesEnd_ = 0;
    char id_[4] = {};
    unsigned char flags_ = 0; // the format byte of the frame flags (ID3v2.3, 2.4)
    std::size_t size_ = 0;
};

} // namespace melodex::trackinfo
