#include "trackinfo/plain_tags.h"

#include "common/sjis.h"
#include "common/text_rules.h"
#include "trackinfo/buffered_stream.h"
#include "trackinfo/byte_order.h"
#include "trackinfo/id3v2_reader.h"
#include "trackinfo/mpeg_stream.h"
#include "trackinfo/tag_layout.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

namespace melodex::trackinfo {
namespace {

using Text = std::optional<std::string>; // nothing: the frame cannot be decoded

// What TagLib trims off the ends of a text.
constexpr std::string_view kWhiteSpace = "\t\n\f\r ";

// The ID3v1 genres with Winamp's extensions, spelt as TagLib spells them:
// TagLib rewrites a genre code by comparing the name it gives with the text
// after the code (TagDecoder::readingGenres).
constexpr std::array<std::string_view, 192> kGenreNames = { "Blues", "Classic Rock", "Country", "Dance",
    "Disco", "Funk", "Grunge", "Hip-Hop", "Jazz", "Metal", "New Age", "Oldies", "Other", "Pop", "R&B", "Rap",
    "Reggae", "Rock", "Techno", "Industrial", "Alternative", "Ska", "Death Metal", "Pranks", "Soundtrack",
    "Euro-Techno", "Ambient", "Trip-Hop", "Vocal", "Jazz-Funk", "Fusion", "Trance", "Classical",
    "Instrumental", "Acid", "House", "Game", "Sound Clip", "Gospel", "Noise", "Alternative Rock", "Bass",
    "Soul", "Punk", "Space", "Meditative", "Instrumental Pop", "Instrumental Rock", "Ethnic", "Gothic",
    "Darkwave", "Techno-Industrial", "Electronic", "Pop-Folk", "Eurodance", "Dream", "Southern Rock",
    "Comedy", "Cult", "Gangsta", "Top 40", "Christian Rap", "Pop/Funk", "Jungle", "Native American",
    "Cabaret", "New Wave", "Psychedelic", "Rave", "Showtunes", "Trailer", "Lo-Fi", "Tribal", "Acid Punk",
    "Acid Jazz", "Polka", "Retro", "Musical", "Rock & Roll", "Hard Rock", "Folk", "Folk Rock",
    "National Folk", "Swing", "Fast Fusion", "Bebop", "Latin", "Revival", "Celtic", "Bluegrass",
    "Avant-garde", "Gothic Rock", "Progressive Rock", "Psychedelic Rock", "Symphonic Rock", "Slow Rock",
    "Big Band", "Chorus", "Easy Listening", "Acoustic", "Humour", "Speech", "Chanson", "Opera",
    "Chamber Music", "Sonata", "Symphony", "Booty Bass", "Primus", "Porn Groove", "Satire", "Slow Jam",
    "Club", "Tango", "Samba", "Folklore", "Ballad", "Power Ballad", "Rhythmic Soul", "Freestyle", "Duet",
    "Punk Rock", "Drum Solo", "A Cappella", "Euro-House", "Dancehall", "Goa", "Drum & Bass", "Club-House",
    "Hardcore Techno", "Terror", "Indie", "Britpop", "Worldbeat", "Polsk Punk", "Beat",
    "Christian Gangsta Rap", "Heavy Metal", "Black Metal", "Crossover", "Contemporary Christian",
    "Christian Rock", "Merengue", "Salsa", "Thrash Metal", "Anime", "Jpop", "Synthpop", "Abstract",
    "Art Rock", "Baroque", "Bhangra", "Big Beat", "Breakbeat", "Chillout", "Downtempo", "Dub", "EBM",
    "Eclectic", "Electro", "Electroclash", "Emo", "Experimental", "Garage", "Global", "IDM", "Illbient",
    "Industro-Goth", "Jam Band", "Krautrock", "Leftfield", "Lounge", "Math Rock", "New Romantic", "Nu-Breakz",
    "Post-Punk", "Post-Rock", "Psytrance", "Shoegaze", "Space Rock", "Trop Rock", "World Music",
    "Neoclassical", "Audiobook", "Audio Theatre", "Neue Deutsche Welle", "Podcast", "Indie Rock", "G-Funk",
    "Dubstep", "Garage Rock", "Psybient" };

std::string_view tagLibGenreName(int index)
{
    return index >= 0 && index < static_cast<int>(kGenreNames.size())
        ? kGenreNames[static_cast<std::size_t>(index)]
        : std::string_view();
}

// TagLib's reading of a text as a number, wcstol's in the C locale: blanks,
// a sign and the digits that follow, a long that overflows stuck at its
// limit and then cut to an int; ok when the digits run to the end and the
// number lies strictly between INT_MIN and INT_MAX.
int tagLibNumber(std::string_view text, bool* ok = nullptr)
{
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r')))
        ++i;
    const bool negative = i < text.size() && text[i] == '-';
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        ++i;
    const std::size_t digits = i;
    long value = 0;
    bool overflow = false;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const int d = text[i] - '0';
        overflow = overflow || (negative ? value < (LONG_MIN + d) / 10 : value > (LONG_MAX - d) / 10);
        if (!overflow)
            value = value * 10 + (negative ? -d : d);
    }
    if (overflow)
        value = negative ? LONG_MIN : LONG_MAX;
    if (ok)
        *ok = i > digits && !overflow && i == text.size() && value > INT_MIN && value < INT_MAX;
    return i > digits ? static_cast<int>(value) : 0;
}

std::string joined(const std::vector<std::string>& values)
{
    std::string out;
    for (const auto& v : values)
        appendValue(out, v);
    return out;
}

// Each value a genre names, joined; values that name none are left out.
std::string genreNames(const std::vector<std::string>& values)
{
    std::string out;
    for (const auto& v : values)
        appendValue(out, genreName(v));
    return out;
}

struct Comment {
    std::string description, text;
};

// Decodes the texts of one file's tags, and keeps on the way the verdict
// whether TagLib reads them alike: every shape TagLib reads its own way (a
// lone surrogate, UTF-16 without a byte order mark, a number in wide digits
// ...) turns it.
class TagDecoder {
public:
    bool tagLibAlike() const { return alike_; }
    void differs() { alike_ = false; }

    // The texts of a text frame, each decoded, into `fields`; trailing NULs
    // dropped, empty texts left out. False when the frame cannot be decoded.
    bool textFields(std::string_view body, std::vector<std::string>& fields);
    // A text frame's value: its texts joined.
    Text textFrame(std::string_view body);
    // A comment frame: encoding, language, description, text.
    std::optional<Comment> commentFrame(std::string_view body);
    std::vector<std::string> readingGenres(const std::vector<std::string>& fields);
    unsigned int trackNumber(const std::string& text);
    std::vector<std::string> apeValues(const ApeValue& value);

private:
    // The texts of one frame share its encoding, and UTF-16 ones without a
    // byte order mark the order of the frame's last mark, little-endian
    // before any: what writers that leave the mark out meant, and what other
    // readers take.
    struct Frame {
        unsigned char encoding;
        bool bigEndian = false;
    };
    Text decodeWhole(std::string_view bytes, Frame& f);
    Text decode(std::string_view bytes, Frame& f);
    void appendUtf16(std::string& out, std::string_view bytes, bool bigEndian);

    bool alike_ = true;
};

// UTF-16 units to UTF-8, appended. An odd last byte is taken as a unit with
// a zero byte missing, a lone surrogate as U+FFFD, as other readers do;
// TagLib has its own ways with both.
void TagDecoder::appendUtf16(std::string& out, std::string_view bytes, bool bigEndian)
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = (bytes.size() + 1) / 2;
    if (bytes.size() % 2 != 0)
        differs();
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
            differs();
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

// One text, or nothing in an encoding no ID3v2 version defines.
// ISO-8859-1 goes through the legacy decoding: it holds whatever the
// tagger's system used. Every text ends at its first NUL, as TagLib's do.
Text TagDecoder::decode(std::string_view bytes, Frame& f)
{
    Text text = decodeWhole(bytes, f);
    if (text) {
        if (const std::size_t nul = text->find('\0'); nul != std::string::npos)
            text->resize(nul);
    }
    return text;
}

Text TagDecoder::decodeWhole(std::string_view bytes, Frame& f)
{
    std::string out;
    switch (f.encoding) {
    case 0:
        return sjis::legacyToUtf8(bytes);
    case 1:
        if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF
            && static_cast<unsigned char>(bytes[1]) == 0xFE) {
            f.bigEndian = false;
            bytes.remove_prefix(2);
        } else if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFE
            && static_cast<unsigned char>(bytes[1]) == 0xFF) {
            f.bigEndian = true;
            bytes.remove_prefix(2);
        } else if (!bytes.empty()) {
            differs(); // TagLib drops the text
        }
        appendUtf16(out, bytes, f.bigEndian);
        return out;
    case 2:
        appendUtf16(out, bytes, true);
        return out;
    case 3:
        if (sjis::isUtf8(bytes))
            return std::string(bytes);
        differs();
        return repairedUtf8(bytes);
    default:
        differs();
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

bool TagDecoder::textFields(std::string_view body, std::vector<std::string>& fields)
{
    fields.clear();
    if (body.size() < 2)
        return true;
    Frame f { static_cast<unsigned char>(body[0]) };
    const std::size_t align = alignmentOf(f.encoding);
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
                differs(); // TagLib wants a byte order mark on each
            Text piece = decode(v.substr(start, end - start), f);
            if (!piece)
                return false;
            fields.push_back(std::move(*piece));
        }
        start = end + align;
    }
    return true;
}

Text TagDecoder::textFrame(std::string_view body)
{
    thread_local std::vector<std::string> fields; // reused: one frame after another
    if (!textFields(body, fields))
        return std::nullopt;
    if (fields.size() == 1)
        return std::move(fields.front());
    return joined(fields);
}

std::optional<Comment> TagDecoder::commentFrame(std::string_view body)
{
    if (body.size() < 5)
        return Comment {};
    Frame f { static_cast<unsigned char>(body[0]) };
    if (f.encoding > 3) {
        differs();
        return std::nullopt;
    }
    const std::size_t align = alignmentOf(f.encoding);
    const std::string_view v = body.substr(4);
    const std::size_t split = findDelimiter(v, 0, align);
    if (split == std::string_view::npos || split + align >= v.size())
        return Comment {};
    Text description = decode(v.substr(0, split), f);
    Text text = decode(v.substr(split + align), f);
    if (!description || !text)
        return std::nullopt;
    return Comment { std::move(*description), std::move(*text) };
}

bool hasNonAscii(std::string_view s)
{
    return std::any_of(s.begin(), s.end(), [](unsigned char c) { return c >= 0x80; });
}

// TagLib rewrites a genre while reading: each leading "(N)" becomes the
// number N unless the text after it is N's name, "(RX)" and "(CR)" become
// "RX" and "CR", other parenthesised codes are dropped, the rest stays.
// A code holding other than ASCII is no number.
std::vector<std::string> TagDecoder::readingGenres(const std::vector<std::string>& fields)
{
    std::vector<std::string> out;
    for (const auto& field : fields) {
        std::string_view rest = field;
        while (rest.starts_with('(')) {
            const std::size_t close = rest.find(')', 1);
            if (close == std::string_view::npos)
                break;
            const std::string_view code = rest.substr(1, close - 1);
            rest = rest.substr(close + 1);
            bool ok = false;
            int number = 0;
            if (hasNonAscii(code))
                differs(); // TagLib's reading of wide digits and spaces depends on the locale
            else
                number = tagLibNumber(code, &ok);
            if ((ok && number >= 0 && number <= 255 && tagLibGenreName(number) != rest) || code == "RX"
                || code == "CR")
                out.emplace_back(code);
        }
        if (!rest.empty())
            out.emplace_back(rest);
    }
    return out;
}

unsigned int TagDecoder::trackNumber(const std::string& text)
{
    if (hasNonAscii(text))
        differs(); // TagLib's number reading of wide characters
    return trackNumberOf(text);
}

// What TagLib makes of an APE item: its value split at each NUL (one at the
// very end ends the last value rather than starting an empty one), each
// value UTF-8. TagLib drops a value that is not UTF-8; here it is read as
// any text that names no code page is, which is what a tagger that wrote
// its system's code page meant.
std::vector<std::string> TagDecoder::apeValues(const ApeValue& value)
{
    std::vector<std::string> out;
    if (!value.text)
        return out;
    const std::string_view bytes = value.bytes;
    auto add = [&](std::string_view piece) {
        if (sjis::isUtf8(piece)) {
            out.emplace_back(piece);
        } else {
            differs();
            out.push_back(sjis::legacyToUtf8(piece));
        }
    };
    std::size_t from = 0;
    for (std::size_t nul = bytes.find('\0'); nul != std::string_view::npos; nul = bytes.find('\0', from)) {
        add(bytes.substr(from, nul - from));
        from = nul + 1;
    }
    if (from < bytes.size())
        add(bytes.substr(from));
    return out;
}

// Reads whole pieces of the file or fails.
bool readExactly(BufferedStream& stream, long offset, void* out, std::size_t n)
{
    return stream.readAt(offset, static_cast<char*>(out), n) == n;
}

// The MPEG frame TagLib checks at the start of a file without an ID3v2 tag
// there: a valid header whose successor agrees in version, layer and rate.
// When it finds none, TagLib searches the junk for a tag by rules of its own.
bool startsWithFrame(BufferedStream& stream, long size)
{
    unsigned char h[4];
    if (!readExactly(stream, 0, h, 4))
        return false;
    const auto header = parseFrameHeader(h);
    if (!header || header->layer == 1)
        return false;
    unsigned char next[4];
    if (header->frameBytes + 4 > size || !readExactly(stream, header->frameBytes, next, 4))
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

// TagLib reads the frames a chapter (CHAP) or a table of contents (CTOC)
// embeds by calling itself, one level deeper for each: chapters nested
// twenty thousand deep run it out of stack. Nothing of them is shown here.
bool nestsFrames(std::string_view id) { return id == "CHAP" || id == "CTOC"; }

// Genres a tag may add up: no more fit the field, and a tag of a million
// genre frames must not make a million strings.
constexpr std::size_t kMaxGenres = 256;

// Fields a tag may hold several values of: every frame of one adds its own.
bool takesSeveralValues(Field f)
{
    return f == Field::Title || f == Field::Artist || f == Field::Album || f == Field::Genre;
}

// What the frames of an ID3v2 tag gave, before it becomes the six texts.
struct Id3v2Frames {
    static constexpr std::size_t kTexts = static_cast<std::size_t>(Field::Genre);
    std::array<std::optional<std::string>, kTexts> texts; // title ... track
    std::optional<std::vector<std::string>> genres;
    bool commentChosen = false;
    int comments = 0;
    std::string comment; // the one without a description, else the first

    std::optional<std::string>& text(Field f) { return texts[static_cast<std::size_t>(f)]; }

    bool seen(Field f)
    {
        return f == Field::Genre ? genres.has_value() : f < Field::Genre && text(f).has_value();
    }

    // Whether a frame of this field is still to be read.
    bool wants(Field f)
    {
        if (f == Field::Genre)
            return !genres || genres->size() < kMaxGenres;
        if (f < Field::Genre)
            return !text(f) || takesSeveralValues(f);
        return f == Field::Comment && !commentChosen;
    }

    void take(Field f, const std::string& body, TagDecoder& d);
};

void Id3v2Frames::take(Field f, const std::string& body, TagDecoder& d)
{
    thread_local std::vector<std::string> fields;
    if (f < Field::Genre) {
        auto value = d.textFrame(body);
        if (!text(f))
            text(f) = std::move(value);
        else if (value)
            appendValue(*text(f), *value);
    } else if (f == Field::Genre) {
        if (d.textFields(body, fields)) {
            auto more = d.readingGenres(fields);
            if (!genres)
                genres = std::move(more);
            else
                genres->insert(genres->end(), more.begin(), more.end());
        }
    } else if (const auto c = d.commentFrame(body)) {
        if (comments++ == 0 || c->description.empty())
            comment = c->text;
        commentChosen = c->description.empty();
    }
}

// The six texts of an ID3v2 tag: the values of every title, artist, album
// and genre frame, the first year and track frame that can be read, the
// comment without a description or else the only one.
TagTexts readId3v2(Id3v2Reader& tag, TagDecoder& d)
{
    Id3v2Frames got;
    thread_local std::string body;
    while (tag.next()) {
        const Field field = fieldOf(tag.id(), tag.version());
        if (field == Field::None && nestsFrames(tag.id()))
            d.differs();
        if (!got.wants(field) || !tag.data(body))
            continue;
        // TagLib shows the first frame's values alone.
        if (takesSeveralValues(field) && got.seen(field))
            d.differs();
        got.take(field, body, d);
    }
    if (!tag.tagLibAlike())
        d.differs();

    TagTexts out;
    out.title = got.text(Field::Title).value_or("");
    out.artist = got.text(Field::Artist).value_or("");
    out.album = got.text(Field::Album).value_or("");
    if (const auto& year = got.text(Field::Year) ? got.text(Field::Year) : got.text(Field::YearV24))
        out.year = yearOf(*year);
    if (got.commentChosen || got.comments == 1)
        out.comment = got.comment;
    if (got.genres)
        out.genre = genreNames(*got.genres);
    if (const auto& track = got.text(Field::Track))
        out.track = d.trackNumber(*track);
    return out;
}

// An ID3v1 field: up to its first NUL, a filled one perhaps cut inside a
// double-byte character.
std::string id3v1Field(std::string_view bytes)
{
    const bool filled = bytes.find('\0') == std::string_view::npos;
    return std::string(trim(sjis::legacyToUtf8(bytes, filled), kWhiteSpace));
}

TagTexts id3v1Texts(BufferedStream& stream, int64_t at)
{
    char block[kId3v1Bytes];
    if (!readExactly(stream, at, block, sizeof block))
        return {};
    const Id3v1Fields f = id3v1Fields(block);
    TagTexts v1;
    v1.title = id3v1Field(f.title);
    v1.artist = id3v1Field(f.artist);
    v1.album = id3v1Field(f.album);
    v1.year = yearOf(id3v1Field(f.year));
    v1.comment = id3v1Field(f.comment);
    v1.genre = id3v1GenreName(f.genre);
    v1.track = static_cast<unsigned int>(f.track);
    return v1;
}

// The fields of an APE tag as TagLib names and reads them: every value of
// an item joined, the first alone for the year and the track.
TagTexts apeTexts(BufferedStream& stream, const ApeTag& tag, TagDecoder& d)
{
    enum Key { Title, Artist, Album, Comment, Genre, Year, Track };
    static constexpr std::string_view kKeys[]
        = { "TITLE", "ARTIST", "ALBUM", "COMMENT", "GENRE", "YEAR", "TRACK" };
    const ApeItems items = readApeItems(stream, tag, kKeys);
    if (!items.whole)
        d.differs();
    auto values = [&](Key k) {
        const auto& v = items.values[static_cast<std::size_t>(k)];
        return v ? d.apeValues(*v) : std::vector<std::string> {};
    };
    TagTexts t;
    t.title = joined(values(Title));
    t.artist = joined(values(Artist));
    t.album = joined(values(Album));
    t.comment = joined(values(Comment));
    t.genre = genreNames(values(Genre));
    if (const auto year = values(Year); !year.empty())
        t.year = yearOf(year.front());
    if (const auto track = values(Track); !track.empty())
        t.track = d.trackNumber(track.front());
    return t;
}

// The ID3v2 tag to read: at the start, or else the first one in the junk
// before the audio, where TagLib would look for it.
std::optional<Id3v2At> leadingId3v2(
    BufferedStream& stream, TagLayout& layout, int64_t firstFrame, TagDecoder& d)
{
    if (layout.id3v2())
        return Id3v2At { 0, *layout.id3v2() };
    if (startsWithFrame(stream, stream.size()))
        return std::nullopt;
    d.differs(); // TagLib searches by rules of its own
    return findId3v2Header(stream, firstFrame);
}

} // namespace

std::string id3v1GenreName(int index)
{
    if (index == 29)
        return "Jazz+Funk";
    if (index == 146)
        return "JPop";
    return std::string(tagLibGenreName(index));
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

unsigned int trackNumberOf(std::string_view text) { return static_cast<unsigned int>(tagLibNumber(text)); }

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

TagTexts readId3v2Texts(BufferedStream& stream, int64_t offset, const Id3v2Header& header)
{
    if (!header.readable())
        return {};
    TagDecoder d;
    Id3v2Reader tag(stream, static_cast<long>(offset), header);
    return readId3v2(tag, d);
}

PlainTags readPlainTags(BufferedStream& stream, TagLayout& layout, int64_t firstFrame)
{
    TagDecoder d;
    TagTexts texts;
    const long size = stream.size();
    if (size < 256)
        d.differs(); // TagLib's reading of the end of a tiny file is its own
    if (const auto v2 = leadingId3v2(stream, layout, firstFrame, d)) {
        if (v2->header.readable()) {
            Id3v2Reader tag(stream, static_cast<long>(v2->offset), v2->header);
            texts = readId3v2(tag, d);
        } else {
            d.differs(); // TagLib reads other versions as it can; they are left unread here
        }
    }
    const TailTags& tail = layout.tail();
    if (tail.ape && tail.ape->fits()) {
        fillMissing(texts, apeTexts(stream, *tail.ape, d));
    } else if (tail.ape && tail.ape->tagBytes > kApeFooterBytes && tail.ape->tagBytes <= size) {
        d.differs(); // TagLib reads items from where the tag cannot be
    }
    if (tail.id3v1 >= 0)
        fillMissing(texts, id3v1Texts(stream, tail.id3v1));
    return { std::move(texts), d.tagLibAlike() };
}

} // namespace melodex::trackinfo
