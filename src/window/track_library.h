#pragma once
// The track information source as the window calls it. Tests replace it to
// watch the library being opened and released, or to feed made-up tracks.

#include <cstdint>
#include <functional>

#include "trackinfo/vbmp3.h"

struct TrackLibrary {
    std::function<int32_t()> init = vbmp3_init;
    std::function<int32_t(const char*, TrackTag*, StreamInfo*)> getFileInfo = vbmp3_getFileInfo;
    std::function<int32_t()> free = vbmp3_free;
};
