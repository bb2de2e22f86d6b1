// Feeds arbitrary bytes to vbmp3_getFileInfo as a file and checks what every
// caller relies on: the size reported, nothing left behind for an unreadable
// file, and no text field ending in half a character or reference.
#include "common/sjis.h"
#include "taglib_reading.h"
#include "trackinfo/vbmp3.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <sys/mman.h>
#include <unistd.h>

namespace {

int memoryFile()
{
    static const int fd = [] {
        const int f = memfd_create("vbmp3-fuzz", 0);
        if (f < 0) {
            std::perror("memfd_create");
            std::abort();
        }
        return f;
    }();
    return fd;
}

template <std::size_t N>
void checkField(const char (&field)[N], bool mustBeEmpty)
{
    const std::string text = TrimNul(field);
    if (mustBeEmpty && !text.empty())
        std::abort();
    if (melodex::sjis::cutLength(text, N) != text.size())
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const int fd = memoryFile();
    if (ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size))
        std::abort();
    const std::string path = "/proc/self/fd/" + std::to_string(fd);

    TrackTag tag;
    StreamInfo info;
    std::memset(&tag, 'x', sizeof tag);
    std::memset(&info, 0x55, sizeof info);
    const int32_t rc = vbmp3_getFileInfo(path.c_str(), &tag, &info);
    if (info.FileBytes != static_cast<int32_t>(size) || info.BitRate < 0 || info.SamplingRate < 0
        || info.TotalSeconds < 0)
        std::abort();
    const bool unreadable = rc == 0;
    if (unreadable && (info.BitRate != 0 || info.SamplingRate != 0 || info.TotalSeconds != 0))
        std::abort();
    checkField(tag.TrackName, unreadable);
    checkField(tag.ArtistName, unreadable);
    checkField(tag.AlbumName, unreadable);
    checkField(tag.Year, unreadable);
    checkField(tag.Comment, unreadable);
    checkField(tag.GenreName, unreadable);

    // On the tag shapes TagLib reads right, the plain tag reader answers as
    // TagLib does. (On the others TagLib loses frames or whole tags, or
    // crashes, or takes gigabytes: it is not asked.)
    if (!melodex::test::tagLibReadsAlike(path.c_str()))
        return 0;
    TrackTag taglibTag;
    StreamInfo taglibInfo;
    const int32_t taglibRc = melodex::test::tagLibFileInfo(path.c_str(), &taglibTag, &taglibInfo);
    if (taglibRc != rc || std::memcmp(&taglibTag, &tag, sizeof tag) != 0
        || std::memcmp(&taglibInfo, &info, sizeof info) != 0)
        std::abort();
    return 0;
}
