#include "trackinfo/vbmp3.h"

#include "common/sjis.h"
#include "trackinfo/buffered_stream.h"
#include "trackinfo/mpeg_stream.h"

#include <climits>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include <sys/stat.h>

#include <taglib/apetag.h>
#include <taglib/commentsframe.h>
#include <taglib/id3v1genres.h>
#include <taglib/id3v1tag.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/textidentificationframe.h>

namespace {

using melodex::sjis::legacyToUtf8;

// The one place that decides how a track's bytes are read: TagLib and the
// stream analysis both read through what it returns.
std::unique_ptr<TagLib::IOStream> openTrackStream(const char* path)
{
    auto stream = std::make_unique<melodex::BufferedStream>(path);
    if (!stream->isOpen())
        return nullptr;
    return stream;
}

TagLib::String fromUtf8(const std::string& utf8) { return TagLib::String(utf8, TagLib::String::UTF8); }

std::string toUtf8(const TagLib::String& s) { return s.to8Bit(true); }

// "ID3v1 should in theory always contain ISO-8859-1 (Latin1) data. In
// practice it does not": Japanese collections carry Shift_JIS, newer taggers
// UTF-8. Fields arrive with their NUL padding; a field without any NUL filled
// its 30 bytes and may end in half a character.
class Id3v1Text : public TagLib::ID3v1::StringHandler {
public:
    TagLib::String parse(const TagLib::ByteVector& data) const override
    {
        const std::string_view bytes(data.data(), data.size());
        const bool filled = bytes.find('\0') == std::string_view::npos;
        return fromUtf8(legacyToUtf8(bytes, filled)).stripWhiteSpace();
    }
};

// Frames marked ISO-8859-1 hold whatever the tagger's system used.
class Id3v2Latin1Text : public TagLib::ID3v2::Latin1StringHandler {
public:
    TagLib::String parse(const TagLib::ByteVector& data) const override
    {
        return fromUtf8(legacyToUtf8(std::string_view(data.data(), data.size())));
    }
};

// TagLib's handlers are process-wide; installed on first use as well, so
// readers that never called vbmp3_init still decode the same way.
void installTextDecoders()
{
    static const bool installed = [] {
        static const Id3v1Text id3v1;
        static const Id3v2Latin1Text id3v2;
        TagLib::ID3v1::Tag::setStringHandler(&id3v1);
        TagLib::ID3v2::Tag::setLatin1StringHandler(&id3v2);
        return true;
    }();
    (void)installed;
}

std::string firstFour(const TagLib::String& s) { return toUtf8(s.stripWhiteSpace().substr(0, 4)); }

// The ID3v1 genre list with Winamp's extensions, as taggers show it; TagLib
// 1.13 spells two of the names its own way. Unknown indexes (255: none) are empty.
TagLib::String id3v1GenreName(int index)
{
    if (index == 29)
        return "Jazz+Funk";
    if (index == 146)
        return "JPop";
    return TagLib::ID3v1::genre(index);
}

// A genre as ID3 stores it ("13", "(13)", "(13)Pop", "RX", free text) as the name shown.
std::string genreName(TagLib::String text)
{
    text = text.stripWhiteSpace();
    if (text.startsWith("((")) // escaped "(" of free text
        return toUtf8(text.substr(1));
    TagLib::String refinement;
    if (text.startsWith("(")) {
        const int close = text.find(")");
        if (close > 0) {
            refinement = text.substr(close + 1).stripWhiteSpace();
            text = text.substr(1, close - 1);
        }
    }
    if (text == "RX")
        return "Remix";
    if (text == "CR")
        return "Cover";
    bool isNumber = !text.isEmpty() && text.size() <= 3;
    for (auto c : text)
        isNumber = isNumber && c >= '0' && c <= '9';
    if (isNumber) {
        const TagLib::String name = id3v1GenreName(text.toInt());
        return toUtf8(name.isEmpty() ? refinement : name);
    }
    return toUtf8(text.isEmpty() ? refinement : text);
}

struct Texts {
    std::string title, artist, album, year, comment, genre;
};

Texts fromId3v2(TagLib::ID3v2::Tag& tag)
{
    Texts t { toUtf8(tag.title()), toUtf8(tag.artist()), toUtf8(tag.album()), {}, {}, {} };
    const auto& frames = tag.frameListMap();
    for (const char* id : { "TDRC", "TYER" }) {
        const auto it = frames.find(id);
        if (it != frames.end() && !it->second.isEmpty()) {
            t.year = firstFour(it->second.front()->toString());
            break;
        }
    }
    // The comment is the one without a description; iTunes and others keep
    // their own data in described ones (iTunNORM, iTunPGAP).
    if (const auto it = frames.find("COMM"); it != frames.end()) {
        const TagLib::ID3v2::CommentsFrame* chosen = nullptr;
        for (const auto* frame : it->second) {
            const auto* comment = dynamic_cast<const TagLib::ID3v2::CommentsFrame*>(frame);
            if (comment && comment->description().isEmpty()) {
                chosen = comment;
                break;
            }
        }
        if (!chosen && it->second.size() == 1)
            chosen = dynamic_cast<const TagLib::ID3v2::CommentsFrame*>(it->second.front());
        if (chosen)
            t.comment = toUtf8(chosen->text());
    }
    // Several genres (ID3v2.4) show as the first.
    if (const auto it = frames.find("TCON"); it != frames.end() && !it->second.isEmpty()) {
        if (const auto* f = dynamic_cast<const TagLib::ID3v2::TextIdentificationFrame*>(it->second.front())) {
            for (const auto& field : f->fieldList()) {
                t.genre = genreName(field);
                if (!t.genre.empty())
                    break;
            }
        }
    }
    return t;
}

Texts fromApe(TagLib::APE::Tag& tag)
{
    Texts t { toUtf8(tag.title()), toUtf8(tag.artist()), toUtf8(tag.album()), {}, toUtf8(tag.comment()),
              genreName(tag.genre()) };
    const auto& items = tag.itemListMap();
    if (const auto it = items.find("YEAR"); it != items.end())
        t.year = firstFour(it->second.toString());
    return t;
}

// TagLib reads the ID3v1.0 comment and the year without the string handler,
// so those two come from the block itself.
Texts fromId3v1(TagLib::ID3v1::Tag& tag, TagLib::IOStream& stream)
{
    Texts t { toUtf8(tag.title()), toUtf8(tag.artist()), toUtf8(tag.album()), {}, {},
              toUtf8(id3v1GenreName(static_cast<int>(tag.genreNumber()))) };
    stream.clear();
    stream.seek(-128, TagLib::IOStream::End);
    const TagLib::ByteVector block = stream.readBlock(128);
    if (block.size() == 128 && block.startsWith("TAG")) {
        const Id3v1Text decode;
        t.year = firstFour(decode.parse(block.mid(93, 4)));
        const bool hasTrack = block[125] == 0 && block[126] != 0; // ID3v1.1
        t.comment = toUtf8(decode.parse(block.mid(97, hasTrack ? 28 : 30)));
    }
    return t;
}

// A field missing from the first tag comes from the next, as TagLib merges them.
Texts merge(const std::vector<Texts>& tags)
{
    Texts m;
    for (const auto& t : tags) {
        for (auto [out, in] : { std::pair { &m.title, &t.title }, { &m.artist, &t.artist }, { &m.album, &t.album },
                                { &m.year, &t.year }, { &m.comment, &t.comment }, { &m.genre, &t.genre } }) {
            if (out->empty())
                *out = *in;
        }
    }
    return m;
}

// CP932 in a fixed field, cut where a whole character or reference ends.
template <std::size_t N>
void putText(char (&field)[N], const std::string& utf8)
{
    const std::string cp932 = melodex::sjis::fromUtf8(utf8, melodex::sjis::Amp::Reference);
    const std::size_t n = melodex::sjis::cutLength(cp932, N);
    std::memcpy(field, cp932.data(), n);
    if (n < N)
        field[n] = '\0';
}

// The records hold signed 32-bit values: a file of 2 GiB or more shows
// 2147483647 bytes rather than a negative or wrapped size.
int32_t clampToInt32(int64_t v) { return v > INT32_MAX ? INT32_MAX : (v < 0 ? 0 : static_cast<int32_t>(v)); }

} // namespace

int32_t vbmp3_init()
{
    installTextDecoders();
    return 1;
}

int32_t vbmp3_free() { return 1; }

std::string TrimNul(std::string_view s)
{
    const auto nul = s.find('\0');
    return std::string(nul == std::string_view::npos ? s : s.substr(0, nul));
}

int32_t vbmp3_getFileInfo(const char* path, TrackTag* tag, StreamInfo* info)
{
    if (tag)
        std::memset(tag, 0, sizeof *tag);
    if (info)
        std::memset(info, 0, sizeof *info);
    if (!path || !tag || !info)
        return 0;
    installTextDecoders();

    // Only plain files: opening a FIFO would wait for a writer forever.
    struct stat st {};
    if (stat(path, &st) != 0 || !S_ISREG(st.st_mode))
        return 0;
    info->FileBytes = clampToInt32(st.st_size);

    try {
        auto stream = openTrackStream(path);
        if (!stream)
            return 0;
        const auto summary = melodex::trackinfo::analyzeStream(*stream, stream->length());
        if (!summary.found)
            return 0;

        TagLib::MPEG::File file(stream.get(), TagLib::ID3v2::FrameFactory::instance(), false);
        if (file.isValid()) {
            std::vector<Texts> tags;
            if (auto* t = file.ID3v2Tag(false))
                tags.push_back(fromId3v2(*t));
            if (auto* t = file.APETag(false))
                tags.push_back(fromApe(*t));
            if (auto* t = file.ID3v1Tag(false))
                tags.push_back(fromId3v1(*t, *stream));
            const Texts texts = merge(tags);
            putText(tag->TrackName, texts.title);
            putText(tag->ArtistName, texts.artist);
            putText(tag->AlbumName, texts.album);
            putText(tag->Year, texts.year);
            putText(tag->Comment, texts.comment);
            putText(tag->GenreName, texts.genre);
            tag->Number = clampToInt32(file.tag()->track());
        }
        info->BitRate = clampToInt32(summary.bitrateKbps);
        info->SamplingRate = summary.sampleRate;
        info->TotalSeconds = clampToInt32(summary.totalSeconds);
        return 1;
    } catch (...) {
        // Nothing half-filled: the caller sees an unreadable file.
        const int32_t bytes = info->FileBytes;
        std::memset(tag, 0, sizeof *tag);
        std::memset(info, 0, sizeof *info);
        info->FileBytes = bytes;
        return 0;
    }
}
