#pragma once
// The audio formats Melodex reads: their names (as `--formats` and the INI
// file's Formats= key spell them) and the file name extensions that promise
// them. A format is told by a file's content; the extension only decides
// which files of a folder are listed, and a file whose content is not what
// its extension promises is unreadable.

#include <array>
#include <cstdint>
#include <string_view>

namespace melodex {

enum class AudioFormat : std::uint8_t { Mp3, Flac, Mp4, Vorbis, Opus, Wav, Aiff };

struct AudioFormatRow {
    AudioFormat format;
    std::string_view name;
    // Lower case, with the dot; the first is the format's own.
    std::array<std::string_view, 3> extensions;
};

inline constexpr std::array<AudioFormatRow, 7> kAudioFormats { {
    { AudioFormat::Mp3, "mp3", { ".mp3" } },
    { AudioFormat::Flac, "flac", { ".flac" } },
    { AudioFormat::Mp4, "mp4", { ".m4a", ".m4b", ".mp4" } },
    { AudioFormat::Vorbis, "vorbis", { ".ogg", ".oga" } },
    { AudioFormat::Opus, "opus", { ".opus" } },
    { AudioFormat::Wav, "wav", { ".wav" } },
    { AudioFormat::Aiff, "aiff", { ".aif", ".aiff" } },
} };

constexpr std::string_view formatName(AudioFormat format)
{
    return kAudioFormats[static_cast<std::size_t>(format)].name;
}

} // namespace melodex
