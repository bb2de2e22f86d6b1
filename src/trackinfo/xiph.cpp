#include "trackinfo/xiph.h"

#include "common/sjis.h"
#include "trackinfo/buffered_stream.h"
#include "trackinfo/byte_order.h"
#include "trackinfo/plain_tags.h"
#include "trackinfo/tag_layout.h"

#include <algorithm>
#include <array>
#include <string>
#include <string_view>

namespace melodex::trackinfo {
namespace {

// Taggers write a few dozen comments; a walk stops after this many, as the
// APE tag walk does.
constexpr uint32_t kMaxComments = 1024;

// The longest name looked for, its "=" included: a comment's first bytes
// tell whether its value is read at all.
constexpr std::size_t kNameBytes = 12;

enum class Field { Title, Artist, Album, Date, Year, Description, Comment, Genre, Track, AlbumArtist };

struct Name {
    std::string_view name;
    Field field;
};

constexpr std::array<Name, 10> kNames { {
    { "TITLE", Field::Title },
    { "ARTIST", Field::Artist },
    { "ALBUM", Field::Album },
    { "DATE", Field::Date },
    { "YEAR", Field::Year },
    { "DESCRIPTION", Field::Description },
    { "COMMENT", Field::Comment },
    { "GENRE", Field::Genre },
    { "TRACKNUMBER", Field::Track },
    { "ALBUMARTIST", Field::AlbumArtist },
} };

bool sameName(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
        return (x >= 'a' && x <= 'z' ? x - 32 : x) == y;
    });
}

std::optional<Field> fieldNamed(std::string_view name)
{
    for (const Name& n : kNames) {
        if (sameName(name, n.name))
            return n.field;
    }
    return std::nullopt;
}

// The values as they come, before the texts are made of them.
struct Values {
    TagTexts texts; // title, artist, album, genre, album artist joined
    std::string description, comment, date, year;
};

void join(std::string& field, const std::string& value)
{
    // A thousand copies of one large text would take the memory of all of them.
    if (value.empty() || field.size() >= kMaxTagValueBytes)
        return;
    if (!field.empty())
        field += kValueJoiner;
    field += value;
}

void add(Values& v, Field field, const std::string& value)
{
    switch (field) {
    case Field::Title:
        return join(v.texts.title, value);
    case Field::Artist:
        return join(v.texts.artist, value);
    case Field::Album:
        return join(v.texts.album, value);
    case Field::Genre:
        return join(v.texts.genre, value);
    case Field::AlbumArtist:
        return join(v.texts.albumArtist, value);
    case Field::Description:
        return join(v.description, value);
    case Field::Comment:
        return join(v.comment, value);
    // The first that holds a year or a number counts: a year is no list.
    case Field::Date:
        if (v.date.empty())
            v.date = yearOf(value);
        return;
    case Field::Year:
        if (v.year.empty())
            v.year = yearOf(value);
        return;
    case Field::Track:
        if (v.texts.track == 0)
            v.texts.track = trackNumberOf(value);
        return;
    }
}

class Reader {
public:
    Reader(BufferedStream& stream, const PacketBytes& packet, int64_t at)
        : stream_(stream)
        , packet_(packet)
        , at_(at)
    {
    }
    int64_t left() const { return packet_.size() - at_; }
    bool u32(uint32_t& v)
    {
        unsigned char b[4];
        if (packet_.read(stream_, at_, reinterpret_cast<char*>(b), 4) != 4)
            return false;
        at_ += 4;
        v = littleEndian32(b);
        return true;
    }
    std::string bytes(int64_t from, std::size_t n) const
    {
        std::string s(n, '\0');
        s.resize(packet_.read(stream_, from, s.data(), n));
        return s;
    }
    int64_t at() const { return at_; }
    void skip(int64_t n) { at_ += n; }

private:
    BufferedStream& stream_;
    const PacketBytes& packet_;
    int64_t at_;
};

// One comment of `length` bytes at the reader's place, added when it names
// a field shown.
void readComment(Reader& r, uint32_t length, Values& values)
{
    const std::string head = r.bytes(r.at(), std::min<std::size_t>(length, kNameBytes));
    const std::size_t equals = head.find('=');
    if (equals == std::string::npos)
        return;
    const auto field = fieldNamed(std::string_view(head).substr(0, equals));
    if (!field)
        return;
    const std::size_t valueBytes = std::min<std::size_t>(length - equals - 1, kMaxTagValueBytes);
    add(values, *field, sjis::legacyToUtf8(r.bytes(r.at() + int64_t(equals) + 1, valueBytes)));
}

} // namespace

void PacketBytes::add(int64_t offset, int64_t length)
{
    if (length <= 0)
        return;
    pieces_.push_back({ offset, size_, length });
    size_ += length;
}

std::size_t PacketBytes::read(BufferedStream& stream, int64_t at, char* out, std::size_t n) const
{
    auto piece = std::upper_bound(
        pieces_.begin(), pieces_.end(), at, [](int64_t pos, const Piece& p) { return pos < p.start; });
    if (piece == pieces_.begin() || at < 0)
        return 0;
    --piece;
    std::size_t done = 0;
    for (; piece != pieces_.end() && done < n; ++piece) {
        const int64_t from = std::max<int64_t>(0, at + int64_t(done) - piece->start);
        if (from >= piece->length)
            continue;
        const auto chunk
            = static_cast<std::size_t>(std::min<int64_t>(piece->length - from, int64_t(n - done)));
        const std::size_t got = stream.readAt(static_cast<long>(piece->offset + from), out + done, chunk);
        done += got;
        if (got < chunk)
            break;
    }
    return done;
}

TagTexts readVorbisComment(BufferedStream& stream, const PacketBytes& packet, int64_t at)
{
    Reader r(stream, packet, at);
    uint32_t vendor = 0, count = 0;
    if (!r.u32(vendor) || vendor > r.left())
        return {};
    r.skip(vendor);
    if (!r.u32(count))
        return {};
    Values values;
    // Each comment takes at least its 4-byte length.
    count = static_cast<uint32_t>(std::min<int64_t>({ count, kMaxComments, r.left() / 4 }));
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t length = 0;
        if (!r.u32(length) || length > r.left())
            break;
        readComment(r, length, values);
        r.skip(length);
    }
    TagTexts texts = std::move(values.texts);
    texts.comment = values.description.empty() ? std::move(values.comment) : std::move(values.description);
    texts.year = values.date.empty() ? std::move(values.year) : std::move(values.date);
    return texts;
}

FlacStreamInfo parseFlacStreamInfo(const unsigned char* p)
{
    FlacStreamInfo info;
    info.minBlock = bigEndian16(p);
    info.maxBlock = bigEndian16(p + 2);
    info.minFrame = uint32_t(p[4]) << 16 | uint32_t(p[5]) << 8 | p[6];
    info.maxFrame = uint32_t(p[7]) << 16 | uint32_t(p[8]) << 8 | p[9];
    // 20 bits of rate, 3 of channels, 5 of sample size, 36 of samples.
    info.rate = uint32_t(p[10]) << 12 | uint32_t(p[11]) << 4 | p[12] >> 4;
    info.samples = uint64_t(p[13] & 0x0F) << 32 | bigEndian32(p + 14);
    return info;
}

} // namespace melodex::trackinfo
