#include "cli/cli.h"

#include "common/folder_listing.h"
#include "common/sjis.h"
#include "common/text_rules.h"
#include "trackinfo/read_ahead.h"
#include "trackinfo/vbmp3.h"

#include <algorithm>
#include <array>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

namespace melodex::cli {
namespace {

constexpr const char* kInfoFooter
    = R"(Output: one line per MP3 file of FOLDER ("*.mp3" in any letter case, hidden
files left out, natural order), UTF-8, twelve tab-separated columns:
  file name, track name, artist, album, year, comment, genre,
  bit rate (kbps), sampling rate (Hz), file bytes, total seconds (rounded down),
  and "ok" or "unreadable" (no MPEG audio found: texts empty, numbers 0 but bytes).
Tab, CR, LF and backslash inside a value are written as \t, \r, \n and \\.
Bytes that are not UTF-8 (in file names) and control characters are written
as \xNN (two hex digits per byte).
A file of 2 GiB or more shows 2147483647 bytes.

With --json: one JSON object per file and line (JSON Lines), keys in this
order: file, title, artist, album, year, comment, genre (texts, UTF-8),
bitrate_kbps, sample_rate_hz, file_bytes, seconds (numbers), readable
(true/false). A file name that is not UTF-8 shows U+FFFD for each byte that
is not, and file_hex, right after file, holds the name's bytes in hex.

Exit codes: 0 done (unreadable files included), 1 the folder cannot be read,
2 bad arguments.)";

// The six texts of a track, in the order both outputs give them.
std::array<std::string_view, 6> tagTexts(const TrackTag& tag)
{
    return { std::string_view(tag.TrackName, sizeof tag.TrackName),
        std::string_view(tag.ArtistName, sizeof tag.ArtistName),
        std::string_view(tag.AlbumName, sizeof tag.AlbumName), std::string_view(tag.Year, sizeof tag.Year),
        std::string_view(tag.Comment, sizeof tag.Comment),
        std::string_view(tag.GenreName, sizeof tag.GenreName) };
}

std::string readableText(std::string_view field) { return sjis::decode(TrimNul(field)); }

constexpr std::array<const char*, 6> kJsonTextKeys = {
    "title",
    "artist",
    "album",
    "year",
    "comment",
    "genre",
};

std::string hexBytes(std::string_view s)
{
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(2 * s.size());
    for (const char c : s) {
        out += kHex[static_cast<unsigned char>(c) >> 4];
        out += kHex[static_cast<unsigned char>(c) & 15];
    }
    return out;
}

std::string jsonLine(const std::string& name, const TrackTag& tag, const StreamInfo& info, bool readable)
{
    nlohmann::ordered_json line;
    line["file"] = name;
    // The replaced name alone could not be opened again.
    if (!sjis::isUtf8(name))
        line["file_hex"] = hexBytes(name);
    const auto texts = tagTexts(tag);
    for (std::size_t k = 0; k < texts.size(); ++k)
        line[kJsonTextKeys[k]] = readableText(texts[k]);
    line["bitrate_kbps"] = info.BitRate;
    line["sample_rate_hz"] = info.SamplingRate;
    line["file_bytes"] = info.FileBytes;
    line["seconds"] = info.TotalSeconds;
    line["readable"] = readable;
    const std::string dumped = line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    // JSON lets C1 controls and bidirectional overrides through raw; a
    // terminal may take U+009B as the start of a command, and U+202E
    // reverses the line, so they leave escaped, like C0 controls.
    std::string out;
    out.reserve(dumped.size() + 1);
    for (std::size_t i = 0; i < dumped.size(); ++i) {
        const std::size_t n = displayControlLength(dumped, i);
        if (n == 0) {
            out += dumped[i];
            continue;
        }
        const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(dumped[i + k]); };
        const uint32_t cp = n == 2 ? (byte(0) & 0x1Fu) << 6 | (byte(1) & 0x3Fu)
                                   : (byte(0) & 0x0Fu) << 12 | (byte(1) & 0x3Fu) << 6 | (byte(2) & 0x3Fu);
        const char unit[3] = { static_cast<char>(cp >> 8), static_cast<char>(cp & 0xFF), '\0' };
        out += "\\u" + hexBytes(std::string_view(unit, 2));
        i += n - 1;
    }
    out += '\n';
    return out;
}

} // namespace

std::string escapeForTerminal(std::string_view s, Printed form)
{
    const bool named = form == Printed::InfoValue;
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(s.size());
    std::size_t i = 0;
    while (i < s.size()) {
        // Printable ASCII is most of every field and needs nothing: it goes in
        // whole runs rather than a character at a time.
        std::size_t plain = i;
        while (plain < s.size()) {
            const auto b = static_cast<unsigned char>(s[plain]);
            if (b < 0x20 || b >= 0x7F || (b == '\\' && named))
                break;
            ++plain;
        }
        out.append(s, i, plain - i);
        i = plain;
        if (i == s.size())
            break;
        const char c = s[i];
        switch (named ? c : '\0') {
        case '\t':
            out += "\\t";
            ++i;
            continue;
        case '\r':
            out += "\\r";
            ++i;
            continue;
        case '\n':
            out += "\\n";
            ++i;
            continue;
        case '\\':
            out += "\\\\";
            ++i;
            continue;
        default:
            break;
        }
        const std::size_t n = sjis::utf8SequenceLength(s, i);
        const auto b = static_cast<unsigned char>(c);
        // Control characters (C0, DEL, C1) would reach a terminal as
        // commands, and bidirectional overrides reverse what follows them.
        const bool control = (n == 1 && (b < 0x20 || b == 0x7F)) || displayControlLength(s, i) > 0;
        if (n == 0 || control) {
            for (std::size_t k = 0; k < std::max<std::size_t>(n, 1); ++k) {
                const auto e = static_cast<unsigned char>(s[i + k]);
                out += "\\x";
                out += kHex[e >> 4];
                out += kHex[e & 15];
            }
            i += std::max<std::size_t>(n, 1);
        } else {
            out.append(s.substr(i, n));
            i += n;
        }
    }
    return out;
}

void addInfoCommand(CLI::App& app, Context& ctx)
{
    auto* cmd = app.add_subcommand(
        "info", "Print each MP3 file's tags and stream data, one tab-separated line per file.");
    cmd->footer(kInfoFooter);
    auto folder = std::make_shared<std::string>();
    auto json = std::make_shared<bool>(false);
    addFolderArgument(*cmd, *folder, "Folder whose MP3 files are read");
    cmd->add_flag(
        "--json", *json, "Print one JSON object per file (JSON Lines) instead of tab-separated columns");
    cmd->callback([&ctx, folder, json] {
        const FolderListing listing = listMp3Files(*folder);
        if (!listing.ok) {
            ctx.err << "melodex-cli info: " << escapeForTerminal(listing.error) << '\n';
            ctx.exitCode = kExitFailure;
            return;
        }
        vbmp3_init();
        TrackTag tag {};
        StreamInfo info {};
        std::string line;
        for (const auto& [i, name] : FolderWalk(*folder, listing.names)) {
            const bool ok = vbmp3_getFileInfo(joinPath(*folder, name).c_str(), &tag, &info) != 0;
            if (*json) {
                ctx.out << jsonLine(name, tag, info, ok);
                continue;
            }
            line = escapeInfoValue(name);
            for (std::string_view field : tagTexts(tag)) {
                line += '\t';
                line += escapeInfoValue(readableText(field));
            }
            for (int32_t value : { info.BitRate, info.SamplingRate, info.FileBytes, info.TotalSeconds }) {
                line += '\t';
                line += std::to_string(value);
            }
            line += ok ? "\tok\n" : "\tunreadable\n";
            ctx.out << line;
        }
        vbmp3_free();
        ctx.out.flush();
    });
}

} // namespace melodex::cli
