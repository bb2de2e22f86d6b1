#include "trackinfo/plain_tags.h"

#include "common/sjis.h"
#include "trackinfo/buffered_stream.h"
#include "trackinfo/mpeg_stream.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include <taglib/id3v1genres.h>
#include <taglib/tstring.h>

namespace melodex::trackinfo
{
namespace
{

using Text = std::optional<std::string>; // nothing: not sure to read it as TagLib does

constexpr std::string_view kWhiteSpace = "\t\n\f\r ";

uint32_t bigEndian32(const unsigned char* p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

bool synchsafe(const unsigned char* p)
{
    return ((p[0] | p[1] | p[2] | p[3]) & 0x80) == 0;
}

uint32_t synchsafe32(const unsigned char* p)
{
    return uint32_t(p[0]) << 21 | uint32_t(p[1]) << 14 | uint32_t(p[2]) << 7 | uint32_t(p[3]);
}

// TagLib's test for a frame ID. Whether it takes "0" has changed between its
// versions, so an ID with a zero counts as neither valid nor invalid.
enum class Id { Valid, Invalid, Unsure };
Id classifyId(const unsigned char* p)
{
    Id result = Id::Valid;
    for (int i = 0; i < 4; ++i) {
        if (p[i] == '0')
            result = Id::Unsure;
        else if (!((p[i] >= 'A' && p[i] <= 'Z') || (p[i] >= '1' && p[i] <= '9')))
            return Id::Invalid;
    }
    return result;
}

void appendUtf8(std::string& out, uint32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | cp >> 6);
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | cp >> 12);
        out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | cp >> 18);
        out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// UTF-16 units to UTF-8. A lone surrogate or an odd byte count is left to
// TagLib, which has its own way with them.
Text utf16ToUtf8(std::string_view bytes, bool bigEndian)
{
    if (bytes.size() % 2 != 0)
        return std::nullopt;
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size() / 2;
    auto unit = [&](std::size_t i) -> uint32_t {
        return bigEndian ? (uint32_t(p[2 * i]) << 8 | p[2 * i + 1])
                         : (uint32_t(p[2 * i + 1]) << 8 | p[2 * i]);
    };
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 2);
    for (std::size_t i = 0; i < n; ++i) {
        const uint32_t u = unit(i);
        if (u >= 0xD800 && u <= 0xDBFF) {
            if (i + 1 >= n)
                return std::nullopt;
            const uint32_t low = unit(i + 1);
            if (low < 0xDC00 || low > 0xDFFF)
                return std::nullopt;
            appendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
            ++i;
        } else if (u >= 0xDC00 && u <= 0xDFFF) {
            return std::nullopt;
        } else {
            appendUtf8(out, u);
        }
    }
    return out;
}

// One text in the encoding its frame names. ISO-8859-1 goes through the same
// legacy decoding TagLib is given for it. Every text ends at its first NUL,
// as TagLib's do.
Text decodeWhole(std::string_view bytes, unsigned char encoding);

Text decode(std::string_view bytes, unsigned char encoding)
{
    Text text = decodeWhole(bytes, encoding);
    if (text) {
        if (const std::size_t nul = text->find('\0'); nul != std::string::npos)
            text->resize(nul);
    }
    return text;
}

Text decodeWhole(std::string_view bytes, unsigned char encoding)
{
    switch (encoding) {
    case 0:
        return sjis::legacyToUtf8(bytes);
    case 1: // UTF-16 with a byte order mark; none: an empty text in TagLib, or not, by version
        if (bytes.empty())
            return std::string();
        if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF
            && static_cast<unsigned char>(bytes[1]) == 0xFE)
            return utf16ToUtf8(bytes.substr(2), false);
        if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFE
            && static_cast<unsigned char>(bytes[1]) == 0xFF)
            return utf16ToUtf8(bytes.substr(2), true);
        return std::nullopt;
    case 2:
        return utf16ToUtf8(bytes, true);
    case 3:
        if (sjis::isUtf8(bytes))
            return std::string(bytes);
        return std::nullopt;
    default:
        return std::nullopt;
    }
}

std::size_t alignmentOf(unsigned char encoding)
{
    return encoding == 1 || encoding == 2 ? 2 : 1;
}

// The next text delimiter at or after `from` (one NUL, or two on an even
// offset for UTF-16), or npos.
std::size_t findDelimiter(std::string_view v, std::size_t from, std::size_t align)
{
    for (std::size_t i = from; i + align <= v.size(); i += align) {
        if (v[i] == '\0' && (align == 1 || v[i + 1] == '\0'))
            return i;
    }
    return std::string_view::npos;
}

// The texts of a text frame, each decoded, into `fields`; trailing NULs
// dropped, empty texts left out. False when TagLib must read the frame.
bool textFields(std::string_view body, std::vector<std::string>& fields)
{
    fields.clear();
    if (body.size() < 2)
        return true;
    const auto encoding = static_cast<unsigned char>(body[0]);
    const std::size_t align = alignmentOf(encoding);
    std::size_t length = body.size() - 1;
    while (length > 0 && body[length] == '\0')
        --length;
    while (length % align != 0)
        ++length;
    const std::string_view v = body.substr(1, length);
    std::size_t start = 0;
    while (start < v.size()) {
        std::size_t end = findDelimiter(v, start, align);
        if (end == std::string_view::npos)
            end = v.size();
        if (end > start) {
            // Several UTF-16 texts may share the first one's byte order mark.
            if (align == 2 && !fields.empty())
                return false;
            Text piece = decode(v.substr(start, end - start), encoding);
            if (!piece)
                return false;
            fields.push_back(std::move(*piece));
        }
        start = end + align;
    }
    return true;
}

// A text frame's value: its texts joined by a space.
Text textFrame(std::string_view body)
{
    thread_local std::vector<std::string> fields; // reused: one frame after another
    if (!textFields(body, fields))
        return std::nullopt;
    if (fields.size() == 1)
        return std::move(fields.front());
    std::string joined;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0)
            joined += ' ';
        joined += fields[i];
    }
    return joined;
}

struct Comment {
    std::string description, text;
};

// A comment frame: encoding, language, description, text.
std::optional<Comment> commentFrame(std::string_view body)
{
    if (body.size() < 5)
        return Comment {};
    const auto encoding = static_cast<unsigned char>(body[0]);
    const std::size_t align = alignmentOf(encoding);
    const std::string_view v = body.substr(4);
    const std::size_t split = findDelimiter(v, 0, align);
    if (split == std::string_view::npos || split + align >= v.size())
        return Comment {};
    const Text description = decode(v.substr(0, split), encoding);
    const Text text = decode(v.substr(split + align), encoding);
    if (!description || !text)
        return std::nullopt;
    return Comment { *description, *text };
}

// TagLib's own spelling of the ID3v1 genre names, converted once.
const std::array<std::string, 256>& tagLibGenreNames()
{
    static const std::array<std::string, 256> names = [] {
        std::array<std::string, 256> a;
        for (int i = 0; i < 256; ++i)
            a[static_cast<std::size_t>(i)] = TagLib::ID3v1::genre(i).to8Bit(true);
        return a;
    }();
    return names;
}

// TagLib's reading of a whole text as a number. Plain digits are common
// enough to spare building its string for them.
int tagLibNumber(const std::string& text, bool& ok)
{
    if (!text.empty() && text.size() <= 3
        && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        ok = true;
        return std::stoi(text);
    }
    return TagLib::String(text, TagLib::String::UTF8).toInt(&ok);
}

// TagLib rewrites a genre while reading: each leading "(N)" becomes the
// number N unless the text after it is N's name, "(RX)" and "(CR)" become
// "RX" and "CR", other parenthesised codes are dropped, the rest stays.
std::optional<std::vector<std::string>> readingGenres(const std::vector<std::string>& fields)
{
    std::vector<std::string> out;
    for (const auto& field : fields) {
        std::string_view rest = field;
        while (rest.starts_with('(')) {
            const std::size_t close = rest.find(')', 1);
            if (close == std::string_view::npos)
                break;
            const std::string code(rest.substr(1, close - 1));
            rest = rest.substr(close + 1);
            for (const unsigned char c : code) {
                if (c >= 0x80)
                    return std::nullopt; // TagLib's number reading of wide characters
            }
            bool ok = false;
            const int number = tagLibNumber(code, ok);
            if ((ok && number >= 0 && number <= 255
                    && tagLibGenreNames()[static_cast<std::size_t>(number)] != rest)
                || code == "RX" || code == "CR")
                out.push_back(code);
        }
        if (!rest.empty())
            out.emplace_back(rest);
    }
    return out;
}

// The first four characters of a year. TagLib counts UTF-16 units; a
// character outside the BMP would count twice.
Text firstFour(std::string_view text)
{
    text = stripWhiteSpace(text);
    std::size_t i = 0;
    for (int chars = 0; chars < 4 && i < text.size(); ++chars) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0xF0)
            return std::nullopt;
        i += c < 0x80 ? 1 : (c < 0xE0 ? 2 : 3);
    }
    return std::string(text.substr(0, std::min(i, text.size())));
}

// Reads whole pieces of the file or fails.
struct Bytes {
    BufferedStream& stream;
    bool read(long offset, void* out, std::size_t n)
    {
        return stream.readAt(offset, static_cast<char*>(out), n) == n;
    }
};

// The MPEG frame TagLib checks at the start of a file without "ID3" there:
// a valid header whose successor agrees in version, layer and rate. When it
// finds none, TagLib searches the junk for a tag; that is its business.
bool startsWithFrame(Bytes& in, long size)
{
    unsigned char h[4];
    if (!in.read(0, h, 4))
        return false;
    const auto header = parseFrameHeader(h);
    if (!header || header->layer == 1)
        return false;
    unsigned char next[4];
    if (header->frameBytes + 4 > size || !in.read(header->frameBytes, next, 4))
        return false;
    constexpr uint32_t kMask = 0xFFFE0C00;
    return (bigEndian32(h) & kMask) == (bigEndian32(next) & kMask);
}

struct Id3v2Result {
    bool plain = false;
    TagTexts texts;
};

// An ID3v2.3/2.4 tag at the start, frame by frame as TagLib walks it.
Id3v2Result readId3v2(Bytes& in, long fileSize)
{
    Id3v2Result r;
    unsigned char h[10];
    if (!in.read(0, h, 10))
        return r;
    const int version = h[3];
    if ((version != 3 && version != 4) || h[4] != 0 || h[5] != 0 || !synchsafe(h + 6))
        return r;
    const long length = static_cast<long>(synchsafe32(h + 6));
    if (10 + length > fileSize)
        return r;

    std::optional<std::string> title, artist, album, year, yearV24, track;
    std::optional<std::vector<std::string>> genres;
    bool commentChosen = false;
    int comments = 0;
    std::string firstComment;
    thread_local std::string body;

    long pos = 0;
    while (pos < length - 10) {
        unsigned char f[10];
        if (!in.read(10 + pos, f, 10))
            return r;
        if (f[0] == 0)
            break; // padding
        if (classifyId(f) != Id::Valid || f[8] != 0 || f[9] != 0)
            return r;
        long frameSize = 0;
        if (version == 3) {
            frameSize = static_cast<long>(bigEndian32(f + 4));
        } else {
            if (!synchsafe(f + 4))
                return r;
            frameSize = static_cast<long>(synchsafe32(f + 4));
            // iTunes wrote ID3v2.4 sizes as plain numbers; TagLib takes the
            // plain reading when the synchsafe one lands on no frame and the
            // plain one does. Only the unambiguous case is read here.
            if (frameSize > 127) {
                auto idAt = [&](long offset) {
                    unsigned char id[4];
                    if (offset + 4 > length - pos || !in.read(10 + pos + offset, id, 4))
                        return Id::Invalid;
                    return classifyId(id);
                };
                const Id atSynchsafe = idAt(frameSize + 10);
                if (atSynchsafe == Id::Unsure
                    || (atSynchsafe == Id::Invalid
                        && idAt(static_cast<long>(bigEndian32(f + 4)) + 10) != Id::Invalid))
                    return r;
            }
        }
        if (frameSize <= 0 || pos + 10 + frameSize > length)
            return r;

        std::string_view id(reinterpret_cast<const char*>(f), 4);
        if (version == 3 && id == "TYER")
            id = "TDRC";
        else if (version == 4 && id == "TRDC")
            id = "TDRC";
        std::optional<std::string>* slot = nullptr;
        if (id == "TIT2")
            slot = &title;
        else if (id == "TPE1")
            slot = &artist;
        else if (id == "TALB")
            slot = &album;
        else if (id == "TDRC")
            slot = &year;
        else if (id == "TYER")
            slot = &yearV24;
        else if (id == "TRCK")
            slot = &track;
        const bool wanted = (slot && !*slot) || (id == "TCON" && !genres) || (id == "COMM" && !commentChosen);
        if (wanted) {
            body.resize(static_cast<std::size_t>(frameSize));
            if (!in.read(10 + pos + 10, body.data(), body.size()))
                return r;
            if (slot) {
                *slot = textFrame(body);
                if (!*slot)
                    return r;
            } else if (id == "TCON") {
                std::vector<std::string> fields;
                if (!textFields(body, fields))
                    return r;
                genres = readingGenres(fields);
                if (!genres)
                    return r;
            } else {
                const auto c = commentFrame(body);
                if (!c)
                    return r;
                if (comments == 0)
                    firstComment = c->text;
                if (c->description.empty()) {
                    r.texts.comment = c->text;
                    commentChosen = true;
                }
            }
        }
        if (id == "COMM")
            ++comments;
        pos += 10 + frameSize;
    }
    if (!commentChosen && comments == 1)
        r.texts.comment = firstComment;

    r.texts.title = title.value_or("");
    r.texts.artist = artist.value_or("");
    r.texts.album = album.value_or("");
    const auto& yearText = year ? year : yearV24;
    if (yearText) {
        const Text four = firstFour(*yearText);
        if (!four)
            return r;
        r.texts.year = *four;
    }
    if (genres) {
        for (const auto& g : *genres) {
            r.texts.genre = genreName(g);
            if (!r.texts.genre.empty())
                break;
        }
    }
    if (track) {
        for (const unsigned char c : *track) {
            if (c >= 0x80)
                return r; // TagLib's number reading of wide characters
        }
        r.texts.track = static_cast<unsigned int>(TagLib::String(*track, TagLib::String::UTF8).toInt());
    }
    r.plain = true;
    return r;
}

// An ID3v1 field: up to its first NUL, a filled one perhaps cut inside a
// double-byte character.
std::string id3v1Field(const unsigned char* p, std::size_t n)
{
    const std::string_view bytes(reinterpret_cast<const char*>(p), n);
    const bool filled = bytes.find('\0') == std::string_view::npos;
    return std::string(stripWhiteSpace(sjis::legacyToUtf8(bytes, filled)));
}

} // namespace

void fillMissing(TagTexts& into, const TagTexts& from)
{
    for (auto [out, in] : { std::pair { &into.title, &from.title }, { &into.artist, &from.artist },
             { &into.album, &from.album }, { &into.year, &from.year }, { &into.comment, &from.comment },
             { &into.genre, &from.genre } }) {
        if (out->empty())
            *out = *in;
    }
    if (into.track == 0)
        into.track = from.track;
}

std::string_view stripWhiteSpace(std::string_view text)
{
    const std::size_t begin = text.find_first_not_of(kWhiteSpace);
    if (begin == std::string_view::npos)
        return {};
    return text.substr(begin, text.find_last_not_of(kWhiteSpace) - begin + 1);
}

std::string id3v1GenreName(int index)
{
    if (index == 29)
        return "Jazz+Funk";
    if (index == 146)
        return "JPop";
    return index >= 0 && index <= 255 ? tagLibGenreNames()[static_cast<std::size_t>(index)] : std::string();
}

std::string genreName(std::string_view text)
{
    text = stripWhiteSpace(text);
    if (text.starts_with("((")) // escaped "(" of free text
        return std::string(text.substr(1));
    std::string_view refinement;
    if (text.starts_with('(')) {
        const std::size_t close = text.find(')');
        if (close != std::string_view::npos && close > 0) {
            refinement = stripWhiteSpace(text.substr(close + 1));
            text = text.substr(1, close - 1);
        }
    }
    if (text == "RX")
        return "Remix";
    if (text == "CR")
        return "Cover";
    bool isNumber = !text.empty() && text.size() <= 3;
    int number = 0;
    for (std::size_t i = 0; isNumber && i < text.size(); ++i) {
        isNumber = text[i] >= '0' && text[i] <= '9';
        number = number * 10 + (text[i] - '0');
    }
    if (isNumber) {
        const std::string name = id3v1GenreName(number);
        return name.empty() ? std::string(refinement) : name;
    }
    return std::string(text.empty() ? refinement : text);
}

std::optional<TagTexts> readPlainTags(BufferedStream& stream)
{
    const long size = stream.size();
    if (size < 256)
        return std::nullopt;
    Bytes in { stream };
    char magic[3];
    if (!in.read(0, magic, 3))
        return std::nullopt;

    TagTexts texts;
    if (std::memcmp(magic, "ID3", 3) == 0) {
        Id3v2Result v2 = readId3v2(in, size);
        if (!v2.plain)
            return std::nullopt;
        texts = std::move(v2.texts);
    } else if (!startsWithFrame(in, size)) {
        return std::nullopt;
    }

    // TagLib takes a "TAG" that ends an "APETAGEX" for no ID3v1 tag.
    unsigned char block[131];
    if (!in.read(size - 131, block, 131))
        return std::nullopt;
    if (std::memcmp(block, "APETAGEX", 8) == 0)
        return std::nullopt;
    const bool hasId3v1 = std::memcmp(block + 3, "TAG", 3) == 0;
    char ape[8];
    const long apeFooter = size - (hasId3v1 ? 128 : 0) - 32;
    if (!in.read(apeFooter, ape, 8))
        return std::nullopt;
    if (std::memcmp(ape, "APETAGEX", 8) == 0)
        return std::nullopt;

    if (hasId3v1) {
        TagTexts v1;
        const unsigned char* v1Block = block + 3;
        v1.title = id3v1Field(v1Block + 3, 30);
        v1.artist = id3v1Field(v1Block + 33, 30);
        v1.album = id3v1Field(v1Block + 63, 30);
        const Text year = firstFour(id3v1Field(v1Block + 93, 4));
        if (!year)
            return std::nullopt;
        v1.year = *year;
        const bool hasTrack = v1Block[125] == 0 && v1Block[126] != 0; // ID3v1.1
        v1.comment = id3v1Field(v1Block + 97, hasTrack ? 28 : 30);
        v1.genre = id3v1GenreName(v1Block[127]);
        v1.track = hasTrack ? v1Block[126] : 0;
        fillMissing(texts, v1);
    }
    return texts;
}

} // namespace melodex::trackinfo
