#include "trackinfo/vbmp3.h"

#include "common/sjis.h"
#include "trackinfo/buffered_stream.h"
#include "trackinfo/mpeg_stream.h"
#include "trackinfo/plain_tags.h"
#include "trackinfo/tag_layout.h"

#include <climits>
#include <cstring>

#include <sys/stat.h>

namespace {

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

int32_t vbmp3_init() { return 1; }

int32_t vbmp3_free() { return 1; }

std::string TrimNul(std::string_view s)
{
    const auto nul = s.find('\0');
    return std::string(nul == std::string_view::npos ? s : s.substr(0, nul));
}

namespace melodex::trackinfo {

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

} // namespace melodex::trackinfo

int32_t vbmp3_getFileInfo(const char* path, TrackTag* tag, StreamInfo* info)
{
    using namespace melodex::trackinfo;
    if (tag)
        std::memset(tag, 0, sizeof *tag);
    if (info)
        std::memset(info, 0, sizeof *info);
    if (!path || !tag || !info)
        return 0;

    try {
        // Only plain files: the stream refuses anything else (a FIFO would
        // wait for a writer forever).
        melodex::BufferedStream stream(path);
        if (!stream.isOpen()) {
            // Unreadable, but its size is still worth showing.
            struct stat st { };
            if (stat(path, &st) == 0 && S_ISREG(st.st_mode))
                info->FileBytes = clampToInt32(st.st_size);
            return 0;
        }
        info->FileBytes = clampToInt32(stream.size());
        TagLayout layout(stream);
        const auto summary = analyzeStream(stream, layout);
        if (!summary.found)
            return 0;
        putTexts(*tag, readPlainTags(stream, layout, summary.firstFrame).texts);
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
