#pragma once
// The boxes MP4 and QuickTime files are made of: a 32-bit size (1: a 64-bit
// size follows the type; 0: the box runs to the end of what holds it), a
// four-character type, then the body, which may hold further boxes.
//
// Every box is held to the one around it, and the outermost ones to the
// file: a box that claims more than its parent holds ends where its parent
// does, so a cut file gives what it holds and a bogus size costs nothing. A
// walk over one box's children stops after a cap, so a box of a million
// empty children costs what a large real one does. Nothing here recurses:
// the reader walks the few paths it needs one level at a time.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "trackinfo/buffered_stream.h"
#include "trackinfo/track_details.h"

namespace melodex::trackinfo::mp4 {

constexpr uint32_t fourcc(std::string_view s)
{
    return uint32_t(static_cast<unsigned char>(s[0])) << 24 | uint32_t(static_cast<unsigned char>(s[1])) << 16
        | uint32_t(static_cast<unsigned char>(s[2])) << 8 | uint32_t(static_cast<unsigned char>(s[3]));
}

// Real files hold a few dozen boxes in any one box (tracks, tag items).
inline constexpr uint32_t kMaxChildBoxes = 1024;

struct Box {
    uint32_t type = 0;
    int64_t body = 0; // the first byte after the header
    int64_t end = 0; // held to the parent's end and the file's
    bool cut = false; // it claims more than that

    int64_t bodyBytes() const { return end - body; }
};

// The boxes in [begin, end), one after another, at most `cap` of them; the
// walk ends at a header that cannot be one (a size smaller than the header).
class BoxWalk {
public:
    BoxWalk(BufferedStream& stream, int64_t begin, int64_t end, uint32_t cap = kMaxChildBoxes);
    // The children of `parent` whose own fields take its first `skip` bytes.
    BoxWalk(BufferedStream& stream, const Box& parent, int64_t skip = 0, uint32_t cap = kMaxChildBoxes);

    std::optional<Box> next();
    // The first of the remaining boxes of this type.
    std::optional<Box> find(uint32_t type);

private:
    BufferedStream& stream_;
    int64_t pos_;
    int64_t end_;
    uint32_t left_;
};

// The n bytes at `at` bytes into the box's body into out; false when the box
// (or the file) ends first.
bool readFields(BufferedStream& stream, const Box& box, int64_t at, unsigned char* out, std::size_t n);

// Calls each(entry) for `count` entries of entryBytes each from
// `at` bytes into the box's body on, read a piece at a time; a count the
// box cannot hold stops where the box ends. Returns the entries visited.
template <typename Each>
uint64_t forEachEntry(
    BufferedStream& stream, const Box& box, int64_t at, uint64_t count, std::size_t entryBytes, Each each)
{
    // Large tables (a sample size for every frame of an hour) are read in
    // pieces of this many bytes rather than whole.
    constexpr std::size_t kPieceBytes = std::size_t(64) * 1024;
    const int64_t held = std::max<int64_t>(0, box.bodyBytes() - at) / static_cast<int64_t>(entryBytes);
    count = std::min(count, static_cast<uint64_t>(held));
    uint64_t done = 0;
    int64_t pos = box.body + at;
    while (done < count) {
        const std::size_t want = static_cast<std::size_t>(
            std::min<uint64_t>(count - done, kPieceBytes / entryBytes) * entryBytes);
        const auto piece = stream.view(static_cast<long>(pos), want, want);
        if (piece.size() < want)
            break;
        for (std::size_t i = 0; i < want; i += entryBytes)
            each(piece.data() + i);
        done += want / entryBytes;
        pos += static_cast<int64_t>(want);
    }
    return done;
}

// The texts of an iTunes-style item list (moov/udta/meta/ilst).
TagTexts readItemList(BufferedStream& stream, const Box& ilst);

} // namespace melodex::trackinfo::mp4
