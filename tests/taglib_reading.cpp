#include "taglib_reading.h"

#include "common/sjis.h"
#include "trackinfo/buffered_stream.h"
#include "trackinfo/mpeg_stream.h"
#include "trackinfo/plain_tags.h"
#include "trackinfo/tag_layout.h"
#include "trackinfo/track_details.h"

#include <cstring>
#include <optional>
#include <string>

#include <taglib/apetag.h>
#include <taglib/commentsframe.h>
#include <taglib/id3v1tag.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/textidentificationframe.h>
#include <taglib/tfilestream.h>

namespace melodex::test {
namespace {

using trackinfo::fillMissing;
using trackinfo::genreName;
using trackinfo::id3v1GenreName;
using trackinfo::TagTexts;
using trackinfo::yearOf;

TagLib::String fromUtf8(const std::string& utf8) { return TagLib::String(utf8, TagLib::String::UTF8); }

std::string toUtf8(const TagLib::String& s) { return s.to8Bit(true); }

// ID3v1 fields in whatever code page the tagger's system used, as the
// program reads them. Fields arrive with their NUL padding; a field without
// any NUL filled its 30 bytes and may end in half a character.
class Id3v1Text : public TagLib::ID3v1::StringHandler {
public:
    TagLib::String parse(const TagLib::ByteVector& data) const override
    {
        const std::string_view bytes(data.data(), data.size());
        const bool filled = bytes.find('\0') == std::string_view::npos;
        return fromUtf8(sjis::legacyToUtf8(bytes, filled)).stripWhiteSpace();
    }
};

// Frames marked ISO-8859-1 hold whatever the tagger's system used.
class Id3v2Latin1Text : public TagLib::ID3v2::Latin1StringHandler {
public:
    TagLib::String parse(const TagLib::ByteVector& data) const override
    {
        return fromUtf8(sjis::legacyToUtf8(std::string_view(data.data(), data.size())));
    }
};

// TagLib's handlers are process-wide.
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

// The comment is the one without a description; iTunes and others keep
// their own data in described ones (iTunNORM, iTunPGAP).
std::string id3v2Comment(const TagLib::ID3v2::FrameList& comments)
{
    const TagLib::ID3v2::CommentsFrame* chosen = nullptr;
    for (const auto* frame : comments) {
        const auto* comment = dynamic_cast<const TagLib::ID3v2::CommentsFrame*>(frame);
        if (comment && comment->description().isEmpty()) {
            chosen = comment;
            break;
        }
    }
    if (!chosen && comments.size() == 1)
        chosen = dynamic_cast<const TagLib::ID3v2::CommentsFrame*>(comments.front());
    return chosen ? toUtf8(chosen->text()) : std::string();
}

// Several values of a field, joined as the program shows them (TagLib
// joins them with a space).
std::string joinedValues(const TagLib::StringList& values, std::string (*shown)(std::string_view))
{
    std::string out;
    for (const auto& v : values)
        trackinfo::appendValue(out, shown(toUtf8(v)));
    return out;
}

std::string asIs(std::string_view text) { return std::string(text); }

// The texts of the first frame with this ID.
TagLib::StringList firstFrameFields(const TagLib::ID3v2::FrameListMap& frames, const char* id)
{
    const auto it = frames.find(id);
    if (it == frames.end() || it->second.isEmpty())
        return {};
    const auto* f = dynamic_cast<const TagLib::ID3v2::TextIdentificationFrame*>(it->second.front());
    return f ? f->fieldList() : TagLib::StringList {};
}

TagTexts fromId3v2(TagLib::ID3v2::Tag& tag)
{
    TagTexts t;
    const auto& frames = tag.frameListMap();
    t.title = joinedValues(firstFrameFields(frames, "TIT2"), asIs);
    t.artist = joinedValues(firstFrameFields(frames, "TPE1"), asIs);
    t.album = joinedValues(firstFrameFields(frames, "TALB"), asIs);
    t.track = tag.track();
    for (const char* id : { "TDRC", "TYER" }) {
        const auto it = frames.find(id);
        if (it != frames.end() && !it->second.isEmpty()) {
            t.year = yearOf(toUtf8(it->second.front()->toString()));
            break;
        }
    }
    if (const auto it = frames.find("COMM"); it != frames.end())
        t.comment = id3v2Comment(it->second);
    t.genre = joinedValues(firstFrameFields(frames, "TCON"), genreName);
    return t;
}

TagTexts fromApe(TagLib::APE::Tag& tag)
{
    TagTexts t;
    const auto& items = tag.itemListMap();
    auto values = [&](const char* key) {
        const auto it = items.find(key);
        return it == items.end() ? TagLib::StringList {} : it->second.values();
    };
    t.title = joinedValues(values("TITLE"), asIs);
    t.artist = joinedValues(values("ARTIST"), asIs);
    t.album = joinedValues(values("ALBUM"), asIs);
    t.comment = joinedValues(values("COMMENT"), asIs);
    t.genre = joinedValues(values("GENRE"), genreName);
    t.track = tag.track();
    if (const auto it = items.find("YEAR"); it != items.end())
        t.year = yearOf(toUtf8(it->second.toString()));
    return t;
}

// TagLib reads the ID3v1.0 comment and the year without the string handler,
// so those two come from the block itself, the last 128 bytes.
TagTexts fromId3v1(TagLib::ID3v1::Tag& tag, TagLib::IOStream& stream)
{
    TagTexts t;
    t.title = toUtf8(tag.title());
    t.artist = toUtf8(tag.artist());
    t.album = toUtf8(tag.album());
    t.genre = id3v1GenreName(static_cast<int>(tag.genreNumber()));
    t.track = tag.track();
    stream.clear();
    stream.seek(-static_cast<long>(trackinfo::kId3v1Bytes), TagLib::IOStream::End);
    const TagLib::ByteVector block = stream.readBlock(trackinfo::kId3v1Bytes);
    if (block.size() == trackinfo::kId3v1Bytes) {
        const auto fields = trackinfo::id3v1Fields(block.data());
        const Id3v1Text decode;
        auto parsed = [&](std::string_view s) {
            return toUtf8(decode.parse(TagLib::ByteVector(s.data(), static_cast<unsigned int>(s.size()))));
        };
        t.year = yearOf(parsed(fields.year));
        t.comment = parsed(fields.comment);
    }
    return t;
}

// The tags as TagLib reads them, merged field by field in its order.
std::optional<TagTexts> readWithTagLib(const char* path)
{
    installTextDecoders();
    TagLib::FileStream stream(path, true);
    TagLib::MPEG::File file(&stream, TagLib::ID3v2::FrameFactory::instance(), false);
    if (!file.isValid())
        return std::nullopt;
    TagTexts texts;
    if (auto* t = file.ID3v2Tag(false))
        texts = fromId3v2(*t);
    if (auto* t = file.APETag(false))
        fillMissing(texts, fromApe(*t));
    // TagLib makes an empty ID3v1 tag for every file: only a real one counts.
    if (file.hasID3v1Tag())
        fillMissing(texts, fromId3v1(*file.ID3v1Tag(), stream));
    return texts;
}

} // namespace

int32_t tagLibFileInfo(const char* path, TrackTag* tag, StreamInfo* info)
{
    const int32_t rc = vbmp3_getFileInfo(path, tag, info);
    if (rc != 1)
        return rc;
    std::memset(tag, 0, sizeof *tag);
    if (const auto texts = readWithTagLib(path))
        trackinfo::putTexts(*tag, *texts);
    return rc;
}

bool tagLibReadsAlike(const char* path)
{
    BufferedStream stream(path);
    if (!stream.isOpen())
        return true;
    trackinfo::TagLayout layout(stream);
    const auto summary = trackinfo::analyzeStream(stream, layout);
    return !summary.found || trackinfo::readPlainTags(stream, layout, summary.firstFrame).tagLibAlike;
}

} // namespace melodex::test
