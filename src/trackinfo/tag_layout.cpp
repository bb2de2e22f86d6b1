#include "trackinfo/tag_layout.h"

#include "common/text_rules.h"
#include "trackinfo/buffered_stream.h"
#include "trackinfo/byte_order.h"

#include <algorithm>
#include <cstring>

namespace melodex::trackinfo {
namespace {

constexpr char kId3v2Identifier[] = "ID3";
constexpr char kId3v1Identifier[] = "TAG";
constexpr char kApePreamble[] = "APETAGEX";
constexpr std::size_t kApePreambleBytes = sizeof kApePreamble - 1;

// The APE documents allow keys of 2 to 255 characters; TagLib skips items
// with longer ones, and so a key is looked for no further than this.
constexpr int64_t kMaxApeKeyBytes = 255;
// An item's value length and flags come before its key.
constexpr int64_t kApeItemHeadBytes = 8;
// The least an item takes: its head, a key of two characters and the NUL
// after it. TagLib stops where fewer bytes are left.
constexpr int64_t kMinApeItemBytes = kApeItemHeadBytes + 3;

// An ID3v2 header hides in junk rarely: it is looked for in pieces this large.
constexpr int64_t kSearchChunk = 16384;

bool startsWith(const unsigned char* p, const char* magic)
{
    return std::memcmp(p, magic, std::strlen(magic)) == 0;
}

bool sameKey(std::string_view stored, std::string_view wanted)
{
    return stored.size() == wanted.size()
        && std::equal(stored.begin(), stored.end(), wanted.begin(),
            [](char a, char b) { return asciiLower(a) == asciiLower(b); });
}

struct FoundValue {
    int64_t at = 0;
    int64_t bytes = 0;
    bool text = true;
};

// A value as far as kMaxTagValueBytes; nothing when it cannot be read.
std::optional<ApeValue> readValue(BufferedStream& stream, const FoundValue& found)
{
    ApeValue value { found.text, {} };
    value.bytes.resize(static_cast<std::size_t>(std::min<int64_t>(found.bytes, kMaxTagValueBytes)));
    if (stream.readAt(found.at, value.bytes.data(), value.bytes.size()) != value.bytes.size())
        return std::nullopt;
    return value;
}

} // namespace

bool isSynchsafe(const unsigned char* p) { return ((p[0] | p[1] | p[2] | p[3]) & 0x80) == 0; }

uint32_t synchsafe32(const unsigned char* p)
{
    return uint32_t(p[0]) << 21 | uint32_t(p[1]) << 14 | uint32_t(p[2]) << 7 | uint32_t(p[3]);
}

std::optional<Id3v2Header> parseId3v2Header(const unsigned char* p)
{
    if (!startsWith(p, kId3v2Identifier) || p[3] == 0xFF || p[4] == 0xFF || !isSynchsafe(p + 6))
        return std::nullopt;
    return Id3v2Header { p[3], p[4], p[5], synchsafe32(p + 6) };
}

std::optional<Id3v2At> findId3v2Header(BufferedStream& stream, int64_t limit)
{
    constexpr auto kHeader = static_cast<int64_t>(kId3v2HeaderBytes);
    limit = std::min<int64_t>(limit, stream.size() - kHeader + 1); // the last start with room for a header
    for (int64_t pos = 0; pos < limit;) {
        // Each piece overlaps the next by a header less one byte.
        const int64_t n = std::min(kSearchChunk, limit - pos) + kHeader - 1;
        const auto v = stream.view(pos, static_cast<std::size_t>(n), static_cast<std::size_t>(n));
        if (static_cast<int64_t>(v.size()) < n)
            return std::nullopt;
        for (int64_t i = 0; i + kHeader <= n; ++i) {
            const void* hit = std::memchr(
                v.data() + i, kId3v2Identifier[0], static_cast<std::size_t>(n - kHeader + 1 - i));
            if (!hit)
                break;
            i = static_cast<const unsigned char*>(hit) - v.data();
            if (const auto header = parseId3v2Header(v.data() + i))
                return Id3v2At { pos + i, *header };
        }
        pos += n - kHeader + 1;
    }
    return std::nullopt;
}

Id3v1Fields id3v1Fields(const char* block)
{
    const auto* u = reinterpret_cast<const unsigned char*>(block);
    // ID3v1.1 keeps a track number in the comment's last byte, a NUL before it.
    const bool hasTrack = u[125] == 0 && u[126] != 0;
    Id3v1Fields f;
    f.title = { block + 3, 30 };
    f.artist = { block + 33, 30 };
    f.album = { block + 63, 30 };
    f.year = { block + 93, 4 };
    f.comment = { block + 97, hasTrack ? 28u : 30u };
    f.track = hasTrack ? u[126] : 0;
    f.genre = u[127];
    return f;
}

TailTags findTailTags(BufferedStream& stream)
{
    TailTags t;
    const int64_t size = stream.size();
    // An ID3v1 block and an APE footer before it: the last 160 bytes.
    const int64_t n = std::min<int64_t>(size, kId3v1Bytes + kApeFooterBytes);
    const auto v = stream.view(size - n, static_cast<std::size_t>(n), static_cast<std::size_t>(n));
    if (static_cast<int64_t>(v.size()) < n)
        return t;
    const unsigned char* end = v.data() + n;
    constexpr auto kBlock = static_cast<int64_t>(kId3v1Bytes);
    if (size >= kBlock && startsWith(end - kBlock, kId3v1Identifier)
        && (size < kBlock + 3 || !startsWith(end - kBlock - 3, kApePreamble)))
        t.id3v1 = size - kBlock;

    const int64_t footerEnd = t.id3v1 >= 0 ? t.id3v1 : size;
    if (footerEnd < static_cast<int64_t>(kApeFooterBytes))
        return t;
    const unsigned char* f = end - (size - footerEnd) - kApeFooterBytes;
    if (!startsWith(f, kApePreamble))
        return t;
    ApeTag ape;
    ape.footer = footerEnd - static_cast<int64_t>(kApeFooterBytes);
    ape.version = littleEndian32(f + kApePreambleBytes);
    ape.tagBytes = littleEndian32(f + 12);
    ape.items = littleEndian32(f + 16);
    ape.hasHeader = (littleEndian32(f + 20) & 0x80000000u) != 0;
    t.ape = ape;
    return t;
}

ApeItems readApeItems(BufferedStream& stream, const ApeTag& tag, std::span<const std::string_view> keys)
{
    ApeItems out;
    out.values.resize(keys.size());
    const int64_t base = tag.itemsStart();
    const int64_t data = int64_t(tag.tagBytes) - int64_t(kApeFooterBytes);
    if (!tag.fits() || data < kMinApeItemBytes)
        return out;
    std::vector<std::optional<FoundValue>> found(keys.size());
    int64_t pos = 0;
    for (uint32_t i = 0; i < tag.items && pos <= data - kMinApeItemBytes; ++i) {
        if (i == kMaxApeItems) {
            out.whole = false;
            break;
        }
        ++out.walked;
        const int64_t n = std::min(kApeItemHeadBytes + kMaxApeKeyBytes + 1, data - pos);
        const auto v = stream.view(base + pos, static_cast<std::size_t>(n), static_cast<std::size_t>(n));
        if (static_cast<int64_t>(v.size()) < n) {
            out.whole = false;
            break;
        }
        const void* nul
            = std::memchr(v.data() + kApeItemHeadBytes, 0, static_cast<std::size_t>(n - kApeItemHeadBytes));
        if (!nul) {
            // TagLib looks for the key's end to the tag's end, and stops there.
            out.whole = out.whole && n == data - pos;
            break;
        }
        const int64_t keyBytes = static_cast<const unsigned char*>(nul) - v.data() - kApeItemHeadBytes;
        const int64_t valueBytes = littleEndian32(v.data());
        if (valueBytes >= data || pos > data - valueBytes)
            break;
        const std::string_view key(
            reinterpret_cast<const char*>(v.data()) + kApeItemHeadBytes, static_cast<std::size_t>(keyBytes));
        const int64_t valueAt = pos + kApeItemHeadBytes + keyBytes + 1;
        for (std::size_t k = 0; k < keys.size(); ++k) {
            if (sameKey(key, keys[k]))
                found[k] = FoundValue { base + valueAt, std::clamp<int64_t>(data - valueAt, 0, valueBytes),
                    ((littleEndian32(v.data() + 4) >> 1) & 3) == 0 };
        }
        pos = valueAt + valueBytes;
    }
    for (std::size_t k = 0; k < keys.size(); ++k) {
        if (!found[k])
            continue;
        out.values[k] = readValue(stream, *found[k]);
        const auto& v = out.values[k];
        out.whole = out.whole && v && static_cast<int64_t>(v->bytes.size()) == found[k]->bytes;
    }
    return out;
}

TagLayout::TagLayout(BufferedStream& stream)
    : stream_(stream)
{
    unsigned char h[kId3v2HeaderBytes];
    if (stream.readAt(0, reinterpret_cast<char*>(h), sizeof h) == sizeof h)
        id3v2_ = parseId3v2Header(h);
}

const TailTags& TagLayout::tail()
{
    if (!tail_)
        tail_ = findTailTags(stream_);
    return *tail_;
}

} // namespace melodex::trackinfo
