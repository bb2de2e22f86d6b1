#include "common/sjis.h"
#include "trackinfo/byte_order.h"
#include "trackinfo/mp4_boxes.h"
#include "trackinfo/plain_tags.h"
#include "trackinfo/tag_layout.h"

#include <string>

namespace melodex::trackinfo::mp4 {
namespace {

// Each item holds its values in "data" boxes: a type (1 UTF-8, 2 UTF-16,
// 0 and 21 binary numbers ...), a locale, then the value.
constexpr uint32_t kData = fourcc("data");
constexpr uint32_t kTrackItem = fourcc("trkn");
// An ID3v1 genre index plus one, as iTunes wrote the genre before "©gen".
constexpr uint32_t kGenreIndexItem = fourcc("gnre");

// iTunes names its text items with a "©" (0xA9) before three letters.
constexpr uint32_t itunesItem(std::string_view name)
{
    return 0xA9000000u | uint32_t(name[0]) << 16 | uint32_t(name[1]) << 8 | uint32_t(name[2]);
}

struct TextItem {
    uint32_t type;
    std::string TagTexts::*field;
};

constexpr TextItem kTextItems[] = {
    { itunesItem("nam"), &TagTexts::title },
    { itunesItem("ART"), &TagTexts::artist },
    { itunesItem("alb"), &TagTexts::album },
    { itunesItem("day"), &TagTexts::year },
    { itunesItem("cmt"), &TagTexts::comment },
    { itunesItem("gen"), &TagTexts::genre },
    { fourcc("aART"), &TagTexts::albumArtist },
};

std::string* textField(TagTexts& texts, uint32_t type)
{
    for (const auto& item : kTextItems) {
        if (item.type == type)
            return &(texts.*item.field);
    }
    return nullptr;
}

struct DataValue {
    uint32_t type = 0;
    std::string bytes;
};

// The next data box of an item, its value read up to maxBytes (a cover
// picture in a field of ours would be cut, never read whole).
std::optional<DataValue> nextData(BufferedStream& stream, BoxWalk& values, std::size_t maxBytes)
{
    const auto box = values.find(kData);
    unsigned char head[8];
    if (!box || !readFields(stream, *box, 0, head, sizeof head))
        return std::nullopt;
    DataValue value { bigEndian32(head) & 0xFFFFFF, {} };
    value.bytes.resize(std::min<std::size_t>(maxBytes, static_cast<std::size_t>(box->bodyBytes() - 8)));
    value.bytes.resize(
        stream.readAt(static_cast<long>(box->body + 8), value.bytes.data(), value.bytes.size()));
    return value;
}

// A value as text, up to its first NUL; nothing for a type that is no text.
// UTF-8 that is not UTF-8, and the Shift_JIS type old Japanese taggers
// wrote, go through the legacy reading, as unmarked ID3 text does.
std::optional<std::string> textOf(const DataValue& value)
{
    switch (value.type) {
    case 1: // UTF-8
    case 3: // Shift_JIS
    case 4: // UTF-8 for sorting
        return sjis::legacyToUtf8(value.bytes);
    case 2: // UTF-16, big-endian
    case 5: { // UTF-16 for sorting
        std::string text = sjis::utf16BigEndianToUtf8(value.bytes);
        text.resize(std::min(text.size(), text.find('\0')));
        return text;
    }
    default:
        return std::nullopt;
    }
}

// Every text value of the item, joined; the field is held to what one tag
// value may take, however many values a hostile item holds.
std::string joinedTexts(BufferedStream& stream, const Box& item)
{
    std::string joined;
    BoxWalk values(stream, item);
    while (joined.size() < kMaxTagValueBytes) {
        const auto value = nextData(stream, values, kMaxTagValueBytes - joined.size());
        if (!value)
            break;
        const auto text = textOf(*value);
        if (!text || text->empty())
            continue;
        if (!joined.empty())
            joined += kValueJoiner;
        joined += *text;
    }
    joined.resize(std::min(joined.size(), kMaxTagValueBytes));
    return joined;
}

// The first value of a number item (track number, genre index): a 16-bit
// number `at` bytes into a binary value; 0 when there is none.
unsigned int numberOf(BufferedStream& stream, const Box& item, std::size_t at)
{
    BoxWalk values(stream, item);
    const auto value = nextData(stream, values, at + 2);
    if (!value || (value->type != 0 && value->type != 21) || value->bytes.size() < at + 2)
        return 0;
    return bigEndian16(reinterpret_cast<const unsigned char*>(value->bytes.data()) + at);
}

} // namespace

TagTexts readItemList(BufferedStream& stream, const Box& ilst)
{
    TagTexts texts;
    unsigned int genreIndex = 0;
    BoxWalk items(stream, ilst);
    // The first item of a kind wins where a tagger wrote two.
    while (auto item = items.next()) {
        if (std::string* field = textField(texts, item->type)) {
            if (field->empty())
                *field = joinedTexts(stream, *item);
        } else if (item->type == kTrackItem && texts.track == 0) {
            // Reserved, number, count of the album's tracks, reserved.
            texts.track = numberOf(stream, *item, 2);
        } else if (item->type == kGenreIndexItem && genreIndex == 0) {
            genreIndex = numberOf(stream, *item, 0);
        }
    }
    texts.year = yearOf(texts.year);
    if (texts.genre.empty() && genreIndex >= 1 && genreIndex <= 256)
        texts.genre = id3v1GenreName(static_cast<int>(genreIndex) - 1);
    return texts;
}

} // namespace melodex::trackinfo::mp4
