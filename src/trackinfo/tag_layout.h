#pragma once
// Where an MP3 file's tags are and how their blocks are laid out, known in
// this one place: the ID3v2 header at the front, the ID3v1 block and the APE
// tag at the back, the fields of an ID3v1 block and the items of an APE tag.
// What the bytes mean as text is the tag reader's business (plain_tags.h).
// An ID3v2 header of a version nobody can read is still found here; each
// caller decides what to do with it: the stream analysis skips the tag's
// extent, the tag reader leaves its frames unread.
//
// Every size a tag states is checked against the file, and what a tag can
// make the reader do is capped: an APE tag is walked item by item, at most
// kMaxApeItems of them, and only the values asked for are read, each up to
// kMaxTagValueBytes. A tag that claims gigabytes costs a few small reads.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace melodex {
class BufferedStream;
}

namespace melodex::trackinfo {

// A tag value (an ID3v2 frame's content, an APE item's value) is read up to
// this much. Only its first texts are ever shown, and a bogus size or a zlib
// bomb must not take the memory of a whole file.
inline constexpr std::size_t kMaxTagValueBytes = 1 << 20;

// Taggers write a few dozen items. A walk stops after this many, so that a
// tag of a million empty items costs what a large real one does.
inline constexpr uint32_t kMaxApeItems = 1024;

// ID3v2 ----------------------------------------------------------------------

inline constexpr std::size_t kId3v2HeaderBytes = 10;

struct Id3v2Header {
    int version = 0; // the major version byte
    int revision = 0;
    unsigned char flags = 0;
    int64_t bodyBytes = 0; // what the header says follows it

    // ID3v2.2, 2.3 and 2.4, the versions whose frames can be read. A later
    // version may change anything, so its frames are not guessed at.
    bool readable() const { return version >= 2 && version <= 4; }
    // Header, body and the footer an ID3v2.4 tag may end with, as the header
    // states them: the file may hold less.
    int64_t extent() const { return int64_t(kId3v2HeaderBytes) * (flags & 0x10 ? 2 : 1) + bodyBytes; }
};

// A synchsafe number: seven bits to a byte, the high bit clear in each.
bool isSynchsafe(const unsigned char* p);
uint32_t synchsafe32(const unsigned char* p);

// The 10 bytes at p as an ID3v2 header, or nothing when they cannot be one:
// "ID3", version and revision below 0xFF, a synchsafe size.
std::optional<Id3v2Header> parseId3v2Header(const unsigned char* p);

struct Id3v2At {
    int64_t offset = 0;
    Id3v2Header header;
};

// The first ID3v2 header that starts in the stream's first `limit` bytes: a
// tag that some tool wrote behind junk at the start of the file.
std::optional<Id3v2At> findId3v2Header(BufferedStream& stream, int64_t limit);

// ID3v1 ----------------------------------------------------------------------

inline constexpr std::size_t kId3v1Bytes = 128;

struct Id3v1Fields {
    std::string_view title, artist, album, year, comment; // as stored: NUL-padded, or filled
    int track = 0; // ID3v1.1's track number; 0 in ID3v1.0
    int genre = 255; // an index into the genre list; 255: none
};

// The fields of a 128-byte ID3v1 block (findTailTags says where one is);
// the views point into it.
Id3v1Fields id3v1Fields(const char* block);

// APE ------------------------------------------------------------------------

inline constexpr std::size_t kApeFooterBytes = 32;

// An APE tag as its footer describes it.
struct ApeTag {
    int64_t footer = 0; // the footer's offset
    uint32_t version = 0; // 1000 (APEv1) or 2000 (APEv2)
    uint32_t tagBytes = 0; // items and footer; a header is not counted
    uint32_t items = 0;
    bool hasHeader = false;

    int64_t itemsStart() const { return footer + int64_t(kApeFooterBytes) - tagBytes; }
    // Where the tag starts, its header included.
    int64_t start() const { return itemsStart() - (hasHeader ? int64_t(kApeFooterBytes) : 0); }
    // No shorter than its footer, and starting inside the file.
    bool fits() const { return tagBytes >= kApeFooterBytes && start() >= 0; }
};

// The tags at the end of a file: an ID3v1 block in the last 128 bytes, and
// an APE footer right before it, or at the very end without one. A "TAG"
// that is part of an APE footer's "APETAGEX" (its block would begin three
// bytes into the footer) is no ID3v1 tag.
struct TailTags {
    int64_t id3v1 = -1; // the block's offset; -1: none
    std::optional<ApeTag> ape; // a footer where one belongs, whether its tag fits or not

    // Where the tags begin: the audio ends before.
    int64_t start(int64_t fileSize) const
    {
        if (ape && ape->fits())
            return ape->start();
        return id3v1 >= 0 ? id3v1 : fileSize;
    }
};

TailTags findTailTags(BufferedStream& stream);

struct ApeValue {
    bool text = true; // UTF-8 values separated by NULs; else binary data or a link
    std::string bytes; // up to kMaxTagValueBytes of it
};

struct ApeItems {
    // For each key asked for, the value of the last item with that key, as
    // TagLib keeps them; nothing where none has it.
    std::vector<std::optional<ApeValue>> values;
    uint32_t walked = 0; // items looked at
    // False when a cap, a cut value or a damaged item ended the walk where
    // TagLib would have read on: its reading may then differ.
    bool whole = true;
};

// The items of a tag that fits, with these keys (ASCII, any letter case).
// Items are walked as TagLib walks them, so a damaged tag yields what TagLib
// makes of it; an item's value is read only when it is one of the keys'.
ApeItems readApeItems(BufferedStream& stream, const ApeTag& tag, std::span<const std::string_view> keys);

// Both ends ------------------------------------------------------------------

class TagLayout {
public:
    // Reads the ID3v2 header at the start of the stream, if one is there.
    explicit TagLayout(BufferedStream& stream);

    // The ID3v2 header at the very start, of whatever version.
    const std::optional<Id3v2Header>& id3v2() const { return id3v2_; }

    // The tags at the end, looked for on first use: a stream that is walked
    // to its end anyway reads them along with the rest, in one read.
    const TailTags& tail();

private:
    BufferedStream& stream_;
    std::optional<Id3v2Header> id3v2_;
    std::optional<TailTags> tail_;
};

} // namespace melodex::trackinfo
