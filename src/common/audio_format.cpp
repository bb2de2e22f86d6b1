#include "common/audio_format.h"

#include "common/text_rules.h"

#include <algorithm>

namespace melodex {

std::optional<AudioFormat> formatOfName(std::string_view name)
{
    for (const AudioFormatRow& row : kAudioFormats) {
        for (const std::string_view ext : row.extensions) {
            if (ext.empty() || name.size() <= ext.size())
                continue;
            const std::string_view end = name.substr(name.size() - ext.size());
            if (std::equal(
                    end.begin(), end.end(), ext.begin(), [](char a, char b) { return asciiLower(a) == b; }))
                return row.format;
        }
    }
    return std::nullopt;
}

} // namespace melodex
