#pragma once
// The audio formats Melodex reads: their names (as `--formats` and the INI
// file's Formats= key spell them) and the file name extensions that promise
// them. A format is told by a file's content; the extension only decides
// which files of a folder are listed, and a file whose content is not what
// its extension promises is unreadable.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
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

// The extension of kAudioFormats that ends `name` (letter case ignored), as
// the table spells it; empty when none does.
std::string_view audioExtensionOf(std::string_view name);

// Which files of a folder are listed. ".mp4" files are mostly video, so they
// come only with "mp4" named in the list, never with "all".
class FormatSet {
public:
    // What every folder listed before the choice existed shows: MP3 alone.
    static constexpr FormatSet mp3Only() { return FormatSet(bit(AudioFormat::Mp3)); }
    static constexpr FormatSet all() { return FormatSet(kEveryFormat); }

    constexpr bool has(AudioFormat format) const { return (bits_ & bit(format)) != 0; }
    constexpr bool isMp3Only() const { return bits_ == bit(AudioFormat::Mp3); }
    // True when the file named `name` is listed.
    bool lists(std::string_view name) const;

    // `--formats` and the INI file's Formats= key: names and extensions
    // (".flac" or "flac", any letter case) separated by commas, or "all".
    // Nothing for an empty list or an unknown word; `bad` then holds the word.
    static std::optional<FormatSet> parse(std::string_view text, std::string* bad = nullptr);
    // The text parse reads back: "mp3", "all", or the names in table order.
    std::string text() const;

    friend constexpr bool operator==(FormatSet, FormatSet) = default;

private:
    static constexpr std::uint16_t bit(AudioFormat format)
    {
        return static_cast<std::uint16_t>(1U << static_cast<unsigned>(format));
    }
    static constexpr std::uint16_t kEveryFormat = (1U << kAudioFormats.size()) - 1;
    // Set beside Mp4 when "mp4" or ".mp4" itself was named.
    static constexpr std::uint16_t kMp4Files = 1U << 15;
    constexpr explicit FormatSet(std::uint16_t bits)
        : bits_(bits)
    {
    }
    std::uint16_t bits_;
};

} // namespace melodex
