#include "trackinfo/vbmp3.h"

#include <cstring>

#include <sys/stat.h>

int32_t vbmp3_init() { return 1; }

int32_t vbmp3_free() { return 1; }

std::string TrimNul(std::string_view s)
{
    const auto nul = s.find('\0');
    return std::string(nul == std::string_view::npos ? s : s.substr(0, nul));
}

int32_t vbmp3_getFileInfo(const char* path, TrackTag* tag, StreamInfo* info)
{
    std::memset(tag, 0, sizeof *tag);
    std::memset(info, 0, sizeof *info);
    struct stat st {};
    if (path && stat(path, &st) == 0)
        info->FileBytes = static_cast<int32_t>(st.st_size);
    return 0; // reading tags and streams is not wired up yet
}
