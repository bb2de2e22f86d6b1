#include "trackinfo/vbmp3.h"

#include "common/sjis.h"
#include "trackinfo/buffered_stream.h"
#include "trackinfo/mpeg_stream.h"
#include "trackinfo/plain_tags.h"

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
using melodex::trackinfo::fillMissing;
using melodex::trackinfo::genreName;
using melodex::trackinfo::id3v1GenreName;
using melodex::trackinfo::TagTexts;
using melodex::trackinfo::yearOf;

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

TagTexts fromId3v2(TagLib::ID3v2::Tag& tag)
{
    TagTexts t;
    t.title = toUtf8(tag.title());
    t.artist = toUtf8(tag.artist());
    t.album = toUtf8(tag.album());
    t.track = tag.track();
    const auto& frames = tag.frameListMap();
    for (const char* id : { "TDRC", "TYER" }) {
        const auto it = frames.find(id);
        if (it != frames.end() && !it->second.isEmpty()) {
            t.year = yearOf(toUtf8(it->second.front()->toString()));
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
                t.genre = genreName(toUtf8(field));
                if (!t.genre.empty())
                    break;
            }
        }
    }
    return t;
}

TagTexts fromApe(TagLib::APE::Tag& tag)
{
    TagTexts t;
    t.title = toUtf8(tag.title());
    t.artist = toUtf8(tag.artist());
    t.album = toUtf8(tag.album());
    t.comment = toUtf8(tag.comment());
    t.genre = genreName(toUtf8(tag.genre()));
    t.track = tag.track();
    const auto& items = tag.itemListMap();
    if (const auto it = items.find("YEAR"); it != items.end())
        t.year = yearOf(toUtf8(it->second.toString()));
    return t;
}

// TagLib reads the ID3v1.0 comment and the year without the string handler,
// so those two come from the block itself.
TagTexts fromId3v1(TagLib::ID3v1::Tag& tag, TagLib::IOStream& stream)
{
    TagTexts t;
    t.title = toUtf8(tag.title());
    t.artist = toUtf8(tag.artist());
    t.album = toUtf8(tag.album());
    t.genre = id3v1GenreName(static_cast<int>(tag.genreNumber()));
    t.track = tag.track();
    stream.clear();
    stream.seek(-128, TagLib::IOStream::End);
    const TagLib::ByteVector block = stream.readBlock(128);
    if (block.size() == 128 && block.startsWith("TAG")) {
        const Id3v1Text decode;
        t.year = yearOf(toUtf8(decode.parse(block.mid(93, 4))));
        const bool hasTrack = block[125] == 0 && block[126] != 0; // ID3v1.1
        t.comment = toUtf8(decode.parse(block.mid(97, hasTrack ? 28 : 30)));
    }
    return t;
}

// The tags as TagLib reads them, merged field by field in its order; with
// `id3v2`, that reading of the ID3v2 tag instead of TagLib's.
std::optional<TagTexts> readWithTagLib(melodex::BufferedStream& stream, const TagTexts* id3v2)
{
    TagLib::MPEG::File file(&stream, TagLib::ID3v2::FrameFactory::instance(), false);
    if (!file.isValid())
        return id3v2 ? std::optional(*id3v2) : std::nullopt;
    TagTexts texts;
    if (id3v2)
        texts = *id3v2;
    else if (auto* t = file.ID3v2Tag(false))
        texts = fromId3v2(*t);
    if (auto* t = file.APETag(false))
        fillMissing(texts, fromApe(*t));
    if (auto* t = file.ID3v1Tag(false))
        fillMissing(texts, fromId3v1(*t, stream));
    return texts;
}

// CP932 in a fixed field, cut where a whole character or reference ends.
template <std::size_t N>
void putText(char (&field)[N], const std::string& utf8)
{
    const std::string cp932 = melodex::sjis::encode(utf8);
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

namespace melodex::trackinfo {

int32_t getFileInfo(const char* path, TrackTag* tag, StreamInfo* info, TagReading reading)
{
    if (tag)
        std::memset(tag, 0, sizeof *tag);
    if (info)
        std::memset(info, 0, sizeof *info);
    if (!path || !tag || !info)
        return 0;
    installTextDecoders();

    try {
        // Only plain files: the stream refuses anything else (a FIFO would
        // wait for a writer forever).
        BufferedStream stream(path);
        if (!stream.isOpen()) {
            // Unreadable, but its size is still worth showing.
            struct stat st { };
            if (stat(path, &st) == 0 && S_ISREG(st.st_mode))
                info->FileBytes = clampToInt32(st.st_size);
            return 0;
        }
        info->FileBytes = clampToInt32(stream.size());
        const auto summary = analyzeStream(stream, stream.size());
        if (!summary.found)
            return 0;

        std::optional<TagTexts> texts;
        if (reading == TagReading::Plain) {
            if (auto plain = readPlainTags(stream))
                texts = plain->apeTag ? readWithTagLib(stream, &plain->texts) : std::move(plain->texts);
        }
        if (!texts)
            texts = readWithTagLib(stream, nullptr);
        if (texts) {
            putText(tag->TrackName, texts->title);
            putText(tag->ArtistName, texts->artist);
            putText(tag->AlbumName, texts->album);
            putText(tag->Year, texts->year);
            putText(tag->Comment, texts->comment);
            putText(tag->GenreName, texts->genre);
            tag->Number = clampToInt32(texts->track);
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

} // namespace melodex::trackinfo

int32_t vbmp3_getFileInfo(const char* path, TrackTag* tag, StreamInfo* info)
{
    return melodex::trackinfo::getFileInfo(path, tag, info, melodex::trackinfo::TagReading::Plain);
}
