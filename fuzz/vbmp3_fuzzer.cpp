// Feeds arbitrary bytes to the track reader as a file of every format and
// checks what every caller relies on: the size reported, no stream values
// for an unreadable file, texts that are UTF-8 in the details and no text
// field of the records ending in half a character or reference.
//
// The reader picks its format by the name's extension, then checks the
// content: the input is read under the name its content suggests, or, for
// some inputs, under another format's name, so that every reader and the
// refusal of content a name does not promise are reached.
#include "common/audio_format.h"
#include "common/sjis.h"
#include "taglib_reading.h"
#include "trackinfo/track_details.h"
#include "trackinfo/vbmp3.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include <sys/mman.h>
#include <unistd.h>

namespace {

// Every extension the reader knows, each a name for the same in-memory file.
constexpr std::array<std::string_view, 11> kExtensions
    = { ".mp3", ".flac", ".ogg", ".oga", ".opus", ".m4a", ".m4b", ".mp4", ".wav", ".aif", ".aiff" };

struct Names {
    int fd = -1;
    std::string dir;
    std::string procPath;
    std::array<std::string, kExtensions.size()> paths;
};

const Names& names();

void removeNames()
{
    for (const auto& p : names().paths)
        unlink(p.c_str());
    rmdir(names().dir.c_str());
}

// A memory file, and a symbolic link to it under each extension: the reader
// opens the name, the content stays in memory.
const Names& names()
{
    static const Names n = [] {
        Names out;
        out.fd = memfd_create("track-fuzz", 0);
        char dir[] = "/tmp/melodex-fuzz-XXXXXX";
        if (out.fd < 0 || !mkdtemp(dir)) {
            std::perror("fuzz setup");
            std::abort();
        }
        out.dir = dir;
        out.procPath = "/proc/self/fd/" + std::to_string(out.fd);
        for (std::size_t i = 0; i < kExtensions.size(); ++i) {
            out.paths[i] = std::string(dir) + "/input" + std::string(kExtensions[i]);
            if (symlink(out.procPath.c_str(), out.paths[i].c_str()) != 0) {
                std::perror("symlink");
                std::abort();
            }
        }
        return out;
    }();
    static const bool cleanedUp = std::atexit(removeNames) == 0;
    (void)cleanedUp;
    return n;
}

bool at(const uint8_t* data, size_t size, size_t pos, std::string_view magic)
{
    return pos + magic.size() <= size && std::memcmp(data + pos, magic.data(), magic.size()) == 0;
}

// The extension the content suggests, after an ID3v2 tag in front (FLAC and
// WAV files may carry one); MP3 for anything else.
std::size_t suggestedExtension(const uint8_t* data, size_t size)
{
    size_t start = 0;
    if (at(data, size, 0, "ID3") && size >= 10)
        start = 10
            + (size_t(data[6] & 0x7F) << 21 | size_t(data[7] & 0x7F) << 14 | size_t(data[8] & 0x7F) << 7
                | size_t(data[9] & 0x7F));
    if (at(data, size, start, "fLaC"))
        return 1;
    if (at(data, size, start, "OggS"))
        return at(data, size, start + 28, "OpusHead") ? 4 : 2;
    if (at(data, size, start + 4, "ftyp"))
        return 5;
    if (at(data, size, start, "RIFF") || at(data, size, start, "RF64") || at(data, size, start, "RIFX"))
        return 8;
    if (at(data, size, start, "FORM"))
        return 10;
    return 0;
}

// One input in sixteen is read under a name chosen by its bytes instead.
std::size_t extensionFor(const uint8_t* data, size_t size)
{
    if (size % 16 != 15)
        return suggestedExtension(data, size);
    unsigned h = 0;
    for (size_t i = 0; i < size && i < 64; ++i)
        h = h * 31 + data[i];
    return h % kExtensions.size();
}

template <std::size_t N>
void checkField(const char (&field)[N])
{
    const std::string text = TrimNul(field);
    if (melodex::sjis::cutLength(text, N) != text.size())
        std::abort();
}

void checkDetails(const melodex::trackinfo::TrackDetails& d, size_t size)
{
    if (d.fileBytes != static_cast<int64_t>(size) || d.bitrateKbps < 0 || d.sampleRate < 0 || d.seconds < 0)
        std::abort();
    if (!d.readable && (d.bitrateKbps != 0 || d.sampleRate != 0 || d.seconds != 0))
        std::abort();
    const auto& t = d.texts;
    for (const std::string* s :
        { &t.title, &t.artist, &t.album, &t.year, &t.comment, &t.genre, &t.albumArtist })
        if (!melodex::sjis::isUtf8(*s))
            std::abort();
}

// The records as the list takes them: the size, zeros for an unreadable
// file, whole characters and references in every text field.
int32_t checkRecords(const char* path, size_t size, TrackTag& tag, StreamInfo& info)
{
    std::memset(&tag, 'x', sizeof tag);
    std::memset(&info, 0x55, sizeof info);
    const int32_t rc = vbmp3_getFileInfo(path, &tag, &info);
    if (info.FileBytes != static_cast<int32_t>(size) || info.BitRate < 0 || info.SamplingRate < 0
        || info.TotalSeconds < 0)
        std::abort();
    if (rc == 0 && (info.BitRate != 0 || info.SamplingRate != 0 || info.TotalSeconds != 0))
        std::abort();
    checkField(tag.TrackName);
    checkField(tag.ArtistName);
    checkField(tag.AlbumName);
    checkField(tag.Year);
    checkField(tag.Comment);
    checkField(tag.GenreName);
    return rc;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const Names& n = names();
    if (ftruncate(n.fd, 0) != 0 || pwrite(n.fd, data, size, 0) != static_cast<ssize_t>(size))
        std::abort();
    const std::size_t ext = extensionFor(data, size);
    const char* path = n.paths[ext].c_str();

    checkDetails(melodex::trackinfo::readTrackDetails(path), size);
    TrackTag tag;
    StreamInfo info;
    const int32_t rc = checkRecords(path, size, tag, info);

    // On the MP3 tag shapes TagLib reads right, the plain tag reader answers
    // as TagLib does. (On the others TagLib loses frames or whole tags, or
    // crashes, or takes gigabytes: it is not asked. The other formats'
    // readers are held to it in their tests, on files made for them.)
    if (kExtensions[ext] != ".mp3" || !melodex::test::tagLibReadsAlike(path))
        return 0;
    TrackTag taglibTag;
    StreamInfo taglibInfo;
    const int32_t taglibRc = melodex::test::tagLibFileInfo(path, &taglibTag, &taglibInfo);
    if (taglibRc != rc || std::memcmp(&taglibTag, &tag, sizeof tag) != 0
        || std::memcmp(&taglibInfo, &info, sizeof info) != 0)
        std::abort();
    return 0;
}
