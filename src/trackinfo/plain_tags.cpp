#include "trackinfo/plain_tags.h"

#include "common/sjis.h"
#include "common/text_rules.h"
#include "trackinfo/buffered_stream.h"
#include "trackinfo/byte_order.h"
#include "trackinfo/id3v2_reader.h"
#include "trackinfo/mpeg_stream.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include <taglib/id3v1genres.h>
#include <taglib/tstring.h>

namespace melodex::trackinfo {
namespace {

using Text = std::optional<std::string>; // nothing: the frame cannot be decoded

// What TagLib trims off the ends of a text.
constexpr std::string_view kWhiteSpace = "\t\n\f\r ";

// UTF-16 units to UTF-8, appended. An odd last byte is taken as a unit with
// a zero byte missing, a lone surrogate as U+FFFD, as other readers do;
// TagLib has its own ways with both.
void appendUtf16(std::string& out, std::string_view bytes, bool bigEndian, bool& alike)
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = (bytes.size() + 1) / 2;
    if (bytes.size() % 2 != 0)
        alike = false;
    auto unit = [&](std::size_t i) -> uint32_t {
        const uint32_t a = p[2 * i];
        const uint32_t b = 2 * i + 1 < bytes.size() ? p[2 * i + 1] : 0;
        return bigEndian ? (a << 8 | b) : (b << 8 | a);
    };
    out.reserve(out.size() + bytes.size() + bytes.size() / 2);
    for (std::size_t i = 0; i < n; ++i) {
        const uint32_t u = unit(i);
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < n) {
            const uint32_t low = unit(i + 1);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                sjis::appendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
                ++i;
                continue;
            }
        }
        if (u >= 0xD800 && u <= 0xDFFF) {
            alike = false;
            sjis::appendUtf8(out, 0xFFFD);
        } else {
            sjis::appendUtf8(out, u);
        }
    }
}

// Bytes that are not UTF-8 in a frame marked UTF-8 become U+FFFD each.
std::string repairedUtf8(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t n = sjis::utf8SequenceLength(bytes, i);
        if (n == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
        } else {
            out.append(bytes.substr(i, n));
            i += n;
        }
    }
    return out;
}

// The texts of one frame in the encoding it names. A UTF-16 text without a
// byte order mark takes the order of the frame's last mark (all texts of a
// frame share one), little-endian before any: what writers that leave the
// mark out meant, and what other readers take.
struct Decoding {
    unsigned char encoding;
    bool& alike;
    bool bigEndian = false;
};

// One text, or nothing in an encoding no ID3v2 version defines.
// ISO-8859-1 goes through the same legacy decoding TagLib is given for it.
// Every text ends at its first NUL, as TagLib's do.
Text decodeWhole(std::string_view bytes, Decoding& d);

Text decode(std::string_view bytes, Decoding& d)
{
    Text text = decodeWhole(bytes, d);
    if (text) {
        if (const std::size_t nul = text->find('\0'); nul != std::string::npos)
            text->resize(nul);
    }
    return text;
}

Text decodeWhole(std::string_view bytes, Decoding& d)
{
    std::string out;
    switch (d.encoding) {
    case 0:
        return sjis::legacyToUtf8(bytes);
    case 1:
        if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF
            && static_cast<unsigned char>(bytes[1]) == 0xFE) {
            d.bigEndian = false;
            bytes.remove_prefix(2);
        } else if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFE
            && static_cast<unsigned char>(bytes[1]) == 0xFF) {
            d.bigEndian = true;
            bytes.remove_prefix(2);
        } else if (!bytes.empty()) {
            d.alike = false; // TagLib drops the text
        }
        appendUtf16(out, bytes, d.bigEndian, d.alike);
        return out;
    case 2:
        appendUtf16(out, bytes, true, d.alike);
        return out;
    case 3:
        if (sjis::isUtf8(bytes))
            return std::string(bytes);
        d.alike = false;
        return repairedUtf8(bytes);
    default:
        d.alike = false;
        return std::nullopt;
    }
}

std::size_t alignmentOf(unsigned char encoding) { return encoding == 1 || encoding == 2 ? 2 : 1; }

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
// dropped, empty texts left out. False when the frame cannot be decoded.
bool textFields(std::string_view body, std::vector<std::string>& fields, bool& alike)
{
    fields.clear();
    if (body.size() < 2)
        return true;
    Decoding d { static_cast<unsigned char>(body[0]), alike };
    const std::size_t align = alignmentOf(d.encoding);
    std::size_t length = body.size() - 1;
    while (length > 0 && body[length] == '\0')
        --length;
    while (length % align != 0 && length + 1 < body.size())
        ++length;
    const std::string_view v = body.substr(1, length);
    std::size_t start = 0;
    while (start < v.size()) {
        std::size_t end = findDelimiter(v, start, align);
        if (end == std::string_view::npos)
            end = v.size();
        if (end > start) {
            if (align == 2 && !fields.empty())
                alike = false; // TagLib wants a byte order mark on each
            Text piece = decode(v.substr(start, end - start), d);
            if (!piece)
                return false;
            fields.push_back(std::move(*piece));
        }
        start = end + align;
    }
    return true;
}

// A text frame's value: its texts joined by a space.
Text textFrame(std::string_view body, bool& alike)
{
    thread_local std::vector<std::string> fields; // reused: one frame after another
    if (!textFields(body, fields, alike))
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
std::optional<Comment> commentFrame(std::string_view body, bool& alike)
{
    if (body.size() < 5)
        return Comment {};
    Decoding d { static_cast<unsigned char>(body[0]), alike };
    if (d.encoding > 3) {
        alike = false;
        return std::nullopt;
    }
    const std::size_t align = alignmentOf(d.encoding);
    const std::string_view v = body.substr(4);
    const std::size_t split = findDelimiter(v, 0, align);
    if (split == std::string_view::npos || split + align >= v.size())
        return Comment {};
    Text description = decode(v.substr(0, split), d);
    Text text = decode(v.substr(split + align), d);
    if (!description || !text)
        return std::nullopt;
    return Comment { std::move(*description), std::move(*text) };
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
// A code holding other than ASCII is no number.
std::vector<std::string> readingGenres(const std::vector<std::string>& fields, bool& alike)
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
            bool ok = false;
            int number = 0;
            if (std::any_of(code.begin(), code.end(), [](unsigned char c) { return c >= 0x80; }))
                alike = false; // TagLib's reading of wide digits and spaces depends on the locale
            else
                number = tagLibNumber(code, ok);
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

enum class Field { Title, Artist, Album, Year, YearV24, Track, Genre, Comment, None };

// The field a frame fills. ID3v2.2 and 2.3 names are taken as TagLib renames
// them for ID3v2.4; "TRDC" is a misspelling some taggers wrote for "TDRC".
Field fieldOf(std::string_view id, int version)
{
    if (version == 2) {
        if (id[0] == 'T') {
            const std::string_view t = id.substr(1);
            return t == "T2" ? Field::Title
                : t == "P1"  ? Field::Artist
                : t == "AL"  ? Field::Album
                : t == "YE"  ? Field::Year
                : t == "RK"  ? Field::Track
                : t == "CO"  ? Field::Genre
                             : Field::None;
        }
        return id == "COM" ? Field::Comment : Field::None;
    }
    if (id == "TIT2")
        return Field::Title;
    if (id == "TPE1")
        return Field::Artist;
    if (id == "TALB")
        return Field::Album;
    if (id == "TDRC" || (version == 3 && id == "TYER") || (version == 4 && id == "TRDC"))
        return Field::Year;
    if (id == "TYER")
        return Field::YearV24;
    if (id == "TRCK")
        return Field::Track;
    if (id == "TCON")
        return Field::Genre;
    if (id == "COMM")
        return Field::Comment;
    return Field::None;
}

// The six texts of an ID3v2 tag: the first frame of each kind that can be
// read, the comment without a description or else the only one, the first
// genre that names one.
void readId3v2(Id3v2Reader& tag, PlainTags& out)
{
    constexpr std::size_t kTexts = static_cast<std::size_t>(Field::Genre);
    std::array<std::optional<std::string>, kTexts> texts; // title ... track
    std::optional<std::vector<std::string>> genres;
    bool commentChosen = false;
    int comments = 0;
    std::string firstComment;
    bool& alike = out.tagLibAlike;
    thread_local std::string body;
    thread_local std::vector<std::string> fields;

    while (tag.next()) {
        const Field field = fieldOf(tag.id(), tag.version());
        const auto index = static_cast<std::size_t>(field);
        const bool wanted = field < Field::Genre ? !texts[index]
            : field == Field::Genre              ? !genres
                                                 : field == Field::Comment && !commentChosen;
        if (!wanted || !tag.data(body))
            continue;
        if (field < Field::Genre) {
            texts[index] = textFrame(body, alike);
        } else if (field == Field::Genre) {
            if (textFields(body, fields, alike))
                genres = readingGenres(fields, alike);
        } else if (const auto c = commentFrame(body, alike)) {
            if (comments++ == 0)
                firstComment = c->text;
            if (c->description.empty()) {
                out.texts.comment = c->text;
                commentChosen = true;
            }
        }
    }
    alike = alike && tag.tagLibAlike();
    if (!commentChosen && comments == 1)
        out.texts.comment = firstComment;

    auto text = [&](Field f) -> std::optional<std::string>& { return texts[static_cast<std::size_t>(f)]; };
    out.texts.title = text(Field::Title).value_or("");
    out.texts.artist = text(Field::Artist).value_or("");
    out.texts.album = text(Field::Album).value_or("");
    if (const auto& year = text(Field::Year) ? text(Field::Year) : text(Field::YearV24))
        out.texts.year = yearOf(*year);
    if (genres) {
        for (const auto& g : *genres) {
            out.texts.genre = genreName(g);
            if (!out.texts.genre.empty())
                break;
        }
    }
    if (const auto& track = text(Field::Track)) {
        if (std::any_of(track->begin(), track->end(), [](unsigned char c) { return c >= 0x80; }))
            alike = false; // TagLib's number reading of wide characters
        out.texts.track = static_cast<unsigned int>(TagLib::String(*track, TagLib::String::UTF8).toInt());
    }
}

// An ID3v1 field: up to its first NUL, a filled one perhaps cut inside a
// double-byte character.
std::string id3v1Field(const unsigned char* p, std::size_t n)
{
    const std::string_view bytes(reinterpret_cast<const char*>(p), n);
    const bool filled = bytes.find('\0') == std::string_view::npos;
    return std::string(trim(sjis::legacyToUtf8(bytes, filled), kWhiteSpace));
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
    text = trim(text, kWhiteSpace);
    if (text.starts_with("((")) // escaped "(" of free text
        return std::string(text.substr(1));
    std::string_view refinement;
    if (text.starts_with('(')) {
        const std::size_t close = text.find(')');
        if (close != std::string_view::npos && close > 0) {
            refinement = trim(text.substr(close + 1), kWhiteSpace);
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

std::string yearOf(std::string_view text)
{
    std::string run;
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        int digit = -1;
        std::size_t n = 1;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (c == 0xEF && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0xBC
            && static_cast<unsigned char>(text[i + 2]) >= 0x90
            && static_cast<unsigned char>(text[i + 2]) <= 0x99) {
            // U+FF10..U+FF19, as Japanese input methods type digits; four of
            // them would not fit the year field.
            digit = static_cast<unsigned char>(text[i + 2]) - 0x90;
            n = 3;
        }
        i += n;
        if (digit < 0) {
            run.clear();
            continue;
        }
        run += static_cast<char>('0' + digit);
        if (run.size() == 4)
            return run;
    }
    return {};
}

std::optional<PlainTags> readPlainTags(BufferedStream& stream)
{
    const long size = stream.size();
    Bytes in { stream };
    char magic[3];
    if (!in.read(0, magic, 3))
        return std::nullopt;

    PlainTags tags;
    if (std::memcmp(magic, "ID3", 3) == 0) {
        Id3v2Reader tag(stream);
        if (!tag.valid())
            return std::nullopt;
        readId3v2(tag, tags);
        if (size < 256)
            tags.tagLibAlike = false; // TagLib's reading of the end of a tiny file is its own
    } else if (size < 256 || !startsWithFrame(in, size)) {
        return std::nullopt;
    }

    // TagLib takes a "TAG" that ends an "APETAGEX" for no ID3v1 tag.
    unsigned char block[131];
    bool hasId3v1 = false;
    if (size >= 131) {
        if (!in.read(size - 131, block, 131))
            return std::nullopt;
        if (std::memcmp(block, "APETAGEX", 8) == 0) {
            tags.apeTag = true;
            return tags;
        }
        hasId3v1 = std::memcmp(block + 3, "TAG", 3) == 0;
    } else if (size >= 128) {
        if (!in.read(size - 128, block + 3, 128))
            return std::nullopt;
        hasId3v1 = std::memcmp(block + 3, "TAG", 3) == 0;
    }
    char ape[8];
    const long apeFooter = size - (hasId3v1 ? 128 : 0) - 32;
    if (apeFooter >= 0 && in.read(apeFooter, ape, 8) && std::memcmp(ape, "APETAGEX", 8) == 0) {
        tags.apeTag = true;
        return tags;
    }

    if (hasId3v1) {
        TagTexts v1;
        const unsigned char* v1Block = block + 3;
        v1.title = id3v1Field(v1Block + 3, 30);
        v1.artist = id3v1Field(v1Block + 33, 30);
        v1.album = id3v1Field(v1Block + 63, 30);
        v1.year = yearOf(id3v1Field(v1Block + 93, 4));
        const bool hasTrack = v1Block[125] == 0 && v1Block[126] != 0; // ID3v1.1
        v1.comment = id3v1Field(v1Block + 97, hasTrack ? 28 : 30);
        v1.genre = id3v1GenreName(v1Block[127]);
        v1.track = hasTrack ? v1Block[126] : 0;
        fillMissing(tags.texts, v1);
    }
    return tags;
}

} // namespace melodex::trackinfo
