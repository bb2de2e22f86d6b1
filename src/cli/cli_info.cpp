#include "cli/cli.h"

#include "common/folder_listing.h"
#include "trackinfo/read_ahead.h"
#include "common/sjis.h"
#include "trackinfo/vbmp3.h"

#include <algorithm>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>

#include <CLI/CLI.hpp>

namespace melodex::cli {
namespace {

constexpr const char* kInfoFooter = R"(Output: one line per MP3 file of FOLDER ("*.mp3" in any letter case, hidden
files left out, natural order), UTF-8, twelve tab-separated columns:
  file name, track name, artist, album, year, comment, genre,
  bit rate (kbps), sampling rate (Hz), file bytes, total seconds (rounded down),
  and "ok" or "unreadable" (no MPEG audio found: texts empty, numbers 0 but bytes).
Tab, CR, LF and backslash inside a value are written as \t, \r, \n and \\.
Bytes that are not UTF-8 (in file names) and control characters are written
as \xNN (two hex digits per byte).
A file of 2 GiB or more shows 2147483647 bytes.

Exit codes: 0 done (unreadable files included), 1 the folder cannot be read,
2 bad arguments.)";

} // namespace

// One column of an info line: nothing in it can break the line into more
// columns or lines, and every byte of it can be told back.
std::string escapeInfoValue(std::string_view s)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(s.size());
    std::size_t i = 0;
    while (i < s.size()) {
        const char c = s[i];
        switch (c) {
        case '\t': out += "\\t"; ++i; continue;
        case '\r': out += "\\r"; ++i; continue;
        case '\n': out += "\\n"; ++i; continue;
        case '\\': out += "\\\\"; ++i; continue;
        default: break;
        }
        const std::size_t n = sjis::utf8SequenceLength(s, i);
        const auto b = static_cast<unsigned char>(c);
        // Control characters (C0, DEL, C1) would reach a terminal as commands.
        const bool control = (n == 1 && (b < 0x20 || b == 0x7F))
            || (n == 2 && b == 0xC2 && static_cast<unsigned char>(s[i + 1]) < 0xA0);
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
    auto* cmd = app.add_subcommand("info", "Print each MP3 file's tags and stream data, one tab-separated line per file.");
    cmd->footer(kInfoFooter);
    auto folder = std::make_shared<std::string>();
    cmd->add_option("FOLDER", *folder, "Folder whose MP3 files are read")->required();
    cmd->callback([&ctx, folder] {
        const FolderListing listing = listMp3Files(*folder);
        if (!listing.ok) {
            ctx.err << "melodex-cli info: " << listing.error << '\n';
            ctx.exitCode = kExitFailure;
            return;
        }
        auto text = [](std::string_view field) {
            return escapeInfoValue(sjis::resolveReferences(sjis::toUtf8(TrimNul(field))));
        };
        vbmp3_init();
        TrackTag tag {};
        StreamInfo info {};
        std::string line;
        ReadAhead ahead(*folder, listing.names);
        for (std::size_t i = 0; i < listing.names.size(); ++i) {
            ahead.reached(i);
            const std::string& name = listing.names[i];
            const bool ok = vbmp3_getFileInfo(joinPath(*folder, name).c_str(), &tag, &info) != 0;
            line = escapeInfoValue(name);
            for (std::string_view field :
                 { std::string_view(tag.TrackName, sizeof tag.TrackName), std::string_view(tag.ArtistName, sizeof tag.ArtistName),
                   std::string_view(tag.AlbumName, sizeof tag.AlbumName), std::string_view(tag.Year, sizeof tag.Year),
                   std::string_view(tag.Comment, sizeof tag.Comment), std::string_view(tag.GenreName, sizeof tag.GenreName) }) {
                line += '\t';
                line += text(field);
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
