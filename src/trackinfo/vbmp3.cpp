#include "trackinfo/vbmp3.h"

#include "trackinfo/track_details.h"

#include <cstring>

int32_t vbmp3_init() { return 1; }

int32_t vbmp3_free() { return 1; }

std::string TrimNul(std::string_view s)
{
    const auto nul = s.find('\0');
    return std::string(nul == std::string_view::npos ? s : s.substr(0, nul));
}

int32_t vbmp3_getFileInfo(const char* path, TrackTag* tag, StreamInfo* info)
{
    if (!tag || !info) {
        if (tag)
            std::memset(tag, 0, sizeof *tag);
        if (info)
            std::memset(info, 0, sizeof *info);
        return 0;
    }
    const auto details = melodex::trackinfo::readTrackDetails(path);
    melodex::trackinfo::putDetails(details, *tag, *info);
    return details.readable ? 1 : 0;
}
