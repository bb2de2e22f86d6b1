#include "trackinfo/track_details.h"

#include "common/sjis.h"
#include "trackinfo/buffered_stream.h"
#include "trackinfo/format_readers.h"
#include "trackinfo/mpeg_stream.h"
#include "trackinfo/plain_tags.h"
#include "trackinfo/tag_layout.h"
#include "trackinfo/vbmp3.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <utility>

#include <sys/stat.h>

namespace melodex::trackinfo {
namespace {

// CP932 in a fixed field, cut where a whole character or reference ends.
template <std::size_t N>
void putText(char (&field)[N], const std::string& utf8)
{
    const std::string cp932 = sjis::encode(utf8);
    const std::size_t n = sjis::cutLength(cp932, N);
    std::memcpy(field, cp932.data(), n);
    if (n < N)
        field[n] = '\0';
}

// The records hold signed 32-bit values: a file of 2 GiB or more shows
// 2147483647 bytes rather than a negative or wrapped size.
int32_t clampToInt32(int64_t v) { return v > INT32_MAX ? INT32_MAX : (v < 0 ? 0 : static_cast<int32_t>(v)); }

void readMpegStream(BufferedStream& stream, TagLayout& layout, TrackDetails& details)
{
    const auto summary = analyzeStream(stream, layout);
    // A tag whose audio never came (a download stopped inside the tag, a
    // tag-only file) still names the track: its texts are shown, its stream
    // values stay zero. Without audio there is no junk before it to search.
    details.texts = readPlainTags(stream, layout, summary.found ? summary.firstFrame : 0).texts;
    if (!summary.found) {
        details.problem = "no MPEG audio found";
        return;
    }
    details.bitrateKbps = summary.bitrateKbps;
    details.sampleRate = summary.sampleRate;
    details.seconds = summary.totalSeconds;
    details.readable = true;
}

enum class Container { Unknown, Flac, Ogg, Mp4, Iff };

// What the content starts with, after an ID3v2 tag at the very start.
Container containerOf(BufferedStream& stream, TagLayout& layout)
{
    const int64_t start = layout.id3v2() ? layout.id3v2()->extent() : 0;
    const auto head = stream.view(static_cast<long>(start), 12, 12);
    if (head.size() < 12)
        return Container::Unknown;
    const std::string_view magic(reinterpret_cast<const char*>(head.data()), 12);
    if (magic.starts_with("fLaC"))
        return Container::Flac;
    if (magic.starts_with("OggS"))
        return Container::Ogg;
    if (magic.substr(4, 4) == "ftyp")
        return Container::Mp4;
    const std::string_view form = magic.substr(0, 4), kind = magic.substr(8, 4);
    if (((form == "RIFF" || form == "RF64" || form == "RIFX") && kind == "WAVE")
        || (form == "FORM" && (kind == "AIFF" || kind == "AIFC")))
        return Container::Iff;
    return Container::Unknown;
}

// The containers a file of this format may come in: an .ogg may hold Opus
// or FLAC, a .flac may be FLAC in Ogg; the reader then says which it is.
bool promises(AudioFormat promised, Container found)
{
    switch (promised) {
    case AudioFormat::Flac:
        return found == Container::Flac || found == Container::Ogg;
    case AudioFormat::Vorbis:
    case AudioFormat::Opus:
        return found == Container::Ogg;
    case AudioFormat::Mp4:
        return found == Container::Mp4;
    case AudioFormat::Wav:
    case AudioFormat::Aiff:
        return found == Container::Iff;
    case AudioFormat::Mp3:
        break;
    }
    return false;
}

// A file named as another format than MP3: read by its content's reader
// when the content is what the name promises, else unreadable.
void readOtherFormat(BufferedStream& stream, TagLayout& layout, AudioFormat promised, TrackDetails& details)
{
    details.format = promised;
    const Container found = containerOf(stream, layout);
    if (!promises(promised, found)) {
        details.problem = "not " + std::string(formatRow(promised).label) + " audio";
        return;
    }
    switch (found) {
    case Container::Flac:
        return readFlacFile(stream, layout, details);
    case Container::Ogg:
        return readOggFile(stream, layout, details);
    case Container::Mp4:
        return readMp4File(stream, layout, details);
    case Container::Iff:
        return readIffFile(stream, layout, details);
    case Container::Unknown:
        break;
    }
}

} // namespace

void fillMissing(TagTexts& into, const TagTexts& from)
{
    for (auto [out, in] : { std::pair { &into.title, &from.title }, { &into.artist, &from.artist },
             { &into.album, &from.album }, { &into.year, &from.year }, { &into.comment, &from.comment },
             { &into.genre, &from.genre }, { &into.albumArtist, &from.albumArtist } }) {
        if (out->empty())
            *out = *in;
    }
    if (into.track == 0)
        into.track = from.track;
}

namespace {

// Whether value is one of the values at the start of the field: only the
// first ones are looked at, so that a hostile tag of a hundred thousand
// values does not cost a hundred thousand times all of them.
bool holdsValue(std::string_view field, std::string_view value)
{
    constexpr std::size_t kLookedAt = 1024;
    const std::string_view head = field.substr(0, kLookedAt);
    for (std::size_t from = 0; from <= head.size();) {
        std::size_t end = head.find(kValueJoiner, from);
        if (end == std::string_view::npos) {
            if (head.size() < field.size())
                return false;
            end = field.size();
        }
        if (field.substr(from, end - from) == value)
            return true;
        if (end == field.size())
            return false;
        from = end + kValueJoiner.size();
    }
    return false;
}

} // namespace

void appendValue(std::string& field, std::string_view value)
{
    if (value.empty() || field.size() >= kMaxTagValueBytes || holdsValue(field, value))
        return;
    if (!field.empty())
        field += kValueJoiner;
    field.append(value.substr(0, kMaxTagValueBytes - std::min(field.size(), kMaxTagValueBytes)));
}

int averageKbps(uint64_t audioBytes, uint64_t ticks, uint64_t ticksPerSecond)
{
    if (ticks == 0 || ticksPerSecond == 0)
        return 0;
    const long double kbps = static_cast<long double>(audioBytes) * 8
        * static_cast<long double>(ticksPerSecond) / (static_cast<long double>(ticks) * 1000);
    return kbps >= INT_MAX ? INT_MAX : static_cast<int>(std::lround(kbps));
}

TrackDetails readTrackDetails(const char* path)
{
    TrackDetails details;
    if (!path)
        return details;
    try {
        // Only plain files: the stream refuses anything else (a FIFO would
        // wait for a writer forever).
        BufferedStream stream(path);
        if (!stream.isOpen()) {
            details.openError = stream.openError();
            // Unreadable, but its size is still worth showing.
            struct stat st { };
            if (stat(path, &st) == 0 && S_ISREG(st.st_mode))
                details.fileBytes = st.st_size;
            return details;
        }
        details.fileBytes = stream.size();
        TagLayout layout(stream);
        // A name that promises no other format is read as MP3, as every
        // file always was: its content decides nothing else.
        const auto promised = formatOfName(path);
        if (!promised || *promised == AudioFormat::Mp3)
            readMpegStream(stream, layout, details);
        else
            readOtherFormat(stream, layout, *promised, details);
    } catch (...) {
        // Nothing half-filled: the caller sees an unreadable file.
        const int64_t bytes = details.fileBytes;
        details = TrackDetails {};
        details.fileBytes = bytes;
    }
    return details;
}

void putTexts(TrackTag& tag, const TagTexts& texts)
{
    putText(tag.TrackName, texts.title);
    putText(tag.ArtistName, texts.artist);
    putText(tag.AlbumName, texts.album);
    putText(tag.Year, texts.year);
    putText(tag.Comment, texts.comment);
    putText(tag.GenreName, texts.genre);
    tag.Number = clampToInt32(texts.track);
}

void putDetails(const TrackDetails& details, TrackTag& tag, StreamInfo& info)
{
    std::memset(&tag, 0, sizeof tag);
    std::memset(&info, 0, sizeof info);
    info.FileBytes = clampToInt32(details.fileBytes);
    putTexts(tag, details.texts);
    if (!details.readable)
        return;
    info.BitRate = clampToInt32(details.bitrateKbps);
    info.SamplingRate = details.sampleRate;
    info.TotalSeconds = clampToInt32(details.seconds);
}

} // namespace melodex::trackinfo
