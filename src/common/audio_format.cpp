#include "common/audio_format.h"

#include "common/text_rules.h"

#include <algorithm>

namespace melodex {

namespace {

bool equalsLower(std::string_view text, std::string_view lower)
{
    return text.size() == lower.size()
        && std::equal(
            text.begin(), text.end(), lower.begin(), [](char a, char b) { return asciiLower(a) == b; });
}

struct ExtensionMatch {
    const AudioFormatRow* row = nullptr;
    std::string_view extension;
};

ExtensionMatch extensionMatch(std::string_view name)
{
    for (const AudioFormatRow& row : kAudioFormats) {
        for (const std::string_view ext : row.extensions) {
            if (!ext.empty() && name.size() > ext.size()
                && equalsLower(name.substr(name.size() - ext.size()), ext))
                return { &row, ext };
        }
    }
    return {};
}

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

} // namespace

std::optional<AudioFormat> formatOfName(std::string_view name)
{
    const ExtensionMatch match = extensionMatch(name);
    return match.row ? std::optional(match.row->format) : std::nullopt;
}

std::string_view audioExtensionOf(std::string_view name) { return extensionMatch(name).extension; }

bool FormatSet::lists(std::string_view name) const
{
    const ExtensionMatch match = extensionMatch(name);
    if (!match.row || !has(match.row->format))
        return false;
    return match.extension != ".mp4" || (bits_ & kMp4Files) != 0;
}

std::optional<FormatSet> FormatSet::parse(std::string_view text, std::string* bad)
{
    std::uint16_t bits = 0;
    bool any = false;
    while (true) {
        const std::size_t comma = text.find(',');
        const std::string_view word = trimmed(text.substr(0, comma));
        const std::string_view bare = !word.empty() && word.front() == '.' ? word.substr(1) : word;
        bool known = false;
        if (equalsLower(word, "all")) {
            bits |= kEveryFormat;
            known = true;
        }
        for (const AudioFormatRow& row : kAudioFormats) {
            bool named = equalsLower(word, row.name);
            for (const std::string_view ext : row.extensions)
                named = named || (!ext.empty() && equalsLower(bare, ext.substr(1)));
            if (named) {
                bits |= bit(row.format);
                if (row.format == AudioFormat::Mp4 && equalsLower(bare, "mp4"))
                    bits |= kMp4Files;
                known = true;
            }
        }
        if (!known) {
            if (bad)
                *bad = std::string(word);
            return std::nullopt;
        }
        any = true;
        if (comma == std::string_view::npos)
            break;
        text.remove_prefix(comma + 1);
    }
    return any ? std::optional(FormatSet(bits)) : std::nullopt;
}

std::string FormatSet::text() const
{
    if (bits_ == kEveryFormat)
        return "all";
    std::string out;
    for (const AudioFormatRow& row : kAudioFormats) {
        if (!has(row.format))
            continue;
        if (!out.empty())
            out += ',';
        // Without ".mp4" files the family is named by an extension that
        // leaves them out, so the text reads back to the same set.
        out += row.format == AudioFormat::Mp4 && (bits_ & kMp4Files) == 0 ? "m4a" : row.name;
    }
    if ((bits_ & kEveryFormat) == kEveryFormat)
        return "all,mp4";
    return out;
}

} // namespace melodex
