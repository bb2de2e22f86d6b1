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

// The next data box of an item and its type.
struct Data {
    Box box;
    uint32_t type = 0;
};

std::optional<Data> nextData(BufferedStream& stream, BoxWalk& values)
{
    const auto box = values.find(kData);
    unsigned char head[8];
    if (!box || !readFields(stream, *box, 0, head, sizeof head))
        return std::nullopt;
    return Data { *box, bigEndian32(head) & 0xFFFFFF };
}

// A data box's value, up to maxBytes.
std::string valueOf(BufferedStream& stream, const Box& data, std::size_t maxBytes)
{
    std::string value(std::min<std::size_t>(maxBytes, static_cast<std::size_t>(data.bodyBytes() - 8)), '\0');
    value.resize(stream.readAt(static_cast<long>(data.body + 8), value.data(), value.size()));
    return value;
}

// A value as text, up to its first NUL; nothing for a type that is no
// text, whose bytes are then never read. UTF-8 that is not UTF-8, and the
// Shift_JIS type old Japanese taggers wrote, go through the legacy reading,
// as unmarked ID3 text does.
std::optional<std::string> textOf(BufferedStream& stream, const Data& data, std::size_t maxBytes)
{
    switch (data.type) {
    case 1: // UTF-8
    case 3: // Shift_JIS
    case 4: // UTF-8 for sorting
        return sjis::legacyToUtf8(valueOf(stream, data.box, maxBytes));
    case 2: // UTF-16, big-endian
    case 5: { // UTF-16 for sorting
        std::string text = sjis::utf16BigEndianToUtf8(valueOf(stream, data.box, maxBytes));
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
        const auto data = nextData(stream, values);
        if (!data)
            break;
        const auto text = textOf(stream, *data, kMaxTagValueBytes - joined.size());
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
    const auto data = nextData(stream, values);
    if (!data || (data->type != 0 && data->type != 21))
        return 0;
    const std::string value = valueOf(stream, data->box, at + 2);
    return value.size() == at + 2 ? bigEndian16(reinterpret_cast<const unsigned char*>(value.data()) + at)
                                  : 0;
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
