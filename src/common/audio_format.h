#pragma once
// The audio formats Melodex reads: their names (as `--formats` and the INI
// file's Formats= key spell them) and the file name extensions that promise
// them. A format is told by a file's content; the extension only decides
// which files of a folder are listed, and a file whose content is not what
// its extension promises is unreadable.

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace melodex {

enum class AudioFormat : std::uint8_t { Mp3, Flac, Mp4, Vorbis, Opus, Wav, Aiff };

struct AudioFormatRow {
    AudioFormat format;
    std::string_view name;
    std::string_view label; // as people write it, for messages
    // Lower case, with the dot; the first is the format's own.
    std::array<std::string_view, 3> extensions;
};

inline constexpr std::array<AudioFormatRow, 7> kAudioFormats { {
    { AudioFormat::Mp3, "mp3", "MP3", { ".mp3" } },
    { AudioFormat::Flac, "flac", "FLAC", { ".flac" } },
    { AudioFormat::Mp4, "mp4", "MP4", { ".m4a", ".m4b", ".mp4" } },
    { AudioFormat::Vorbis, "vorbis", "Ogg Vorbis", { ".ogg", ".oga" } },
    { AudioFormat::Opus, "opus", "Opus", { ".opus" } },
    { AudioFormat::Wav, "wav", "WAV", { ".wav" } },
    { AudioFormat::Aiff, "aiff", "AIFF", { ".aif", ".aiff" } },
} };

constexpr const AudioFormatRow& formatRow(AudioFormat format)
{
    return kAudioFormats[static_cast<std::size_t>(format)];
}

// The format whose extension ends `name`, letter case ignored; nothing for
// a name that promises none of them.
std::optional<AudioFormat> formatOfName(std::string_view name);

} // namespace melodex
