#include "cli/cli.h"

#include "common/folder_listing.h"
#include "common/sjis.h"
#include "common/text_rules.h"
#include "trackinfo/read_ahead.h"
#include "trackinfo/track_details.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

namespace melodex::cli {
namespace {

using trackinfo::TrackDetails;

constexpr const char* kInfoFooter
    = R"(Output: one line per file of FOLDER in a listed format (MP3 alone unless
--formats says otherwise; any letter case, hidden files left out, natural
order), UTF-8, fourteen tab-separated columns:
  file name, track name, artist, album, year, comment, genre,
  bit rate (kbps), sampling rate (Hz), file bytes, total seconds (rounded down),
  "ok" or "unreadable" (no audio found: numbers 0 but bytes, texts where the
  file has tags), track number (0 for none), album artist.
Texts are whole, as the tags hold them; the list page cuts them to its fields.
Tab, CR, LF and backslash inside a value are written as \t, \r, \n and \\.
Bytes that are not UTF-8 (in file names) and control characters are written
as \xNN (two hex digits per byte).

With --json: one JSON object per file and line (JSON Lines), keys in this
order: file, title, artist, album, year, comment, genre (texts, UTF-8),
bitrate_kbps, sample_rate_hz, file_bytes, seconds (numbers), readable
(true/false), format (mp3, flac, mp4, vorbis, opus, wav, aiff), track
(number), album_artist, reason (why the file is unreadable; "" when it is
not). A file name that is not UTF-8 shows U+FFFD for each byte that is not,
and file_hex, right after file, holds the name's bytes in hex.

With --csv: the same values as RFC 4180 CSV (UTF-8 without a byte order
mark, CR LF line ends), a header row of the JSON keys, file_hex always
present (empty for a UTF-8 name). Values are written as they are, control
characters included: the output is meant for a file or a program. A cell
that begins with =, +, - or @ is a formula to a spreadsheet; --csv-safe
writes such cells with a ' in front.

A file that cannot be opened is named on stderr with the reason; with
--verbose, so is every file that holds no audio.)";

constexpr std::array<const char*, 6> kTextKeys = { "title", "artist", "album", "year", "comment", "genre" };

std::array<const std::string*, 6> tagTexts(const TrackDetails& d)
{
    const auto& t = d.texts;
    return { &t.title, &t.artist, &t.album, &t.year, &t.comment, &t.genre };
}

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

// Why the file is unreadable, as JSON and CSV give it; "" when it is not.
std::string reasonOf(const TrackDetails& d)
{
    if (d.readable)
        return {};
    if (d.openError != 0)
        return std::strerror(d.openError);
    return d.problem.empty() ? std::string("no audio found") : d.problem;
}

// Valid UTF-8 whatever the bytes, as JSON's writer makes it: U+FFFD for
// each byte that is not part of a character. CSV cells then read back as
// the JSON values do.
std::string validUtf8(const std::string& s)
{
    if (sjis::isUtf8(s))
        return s;
    const std::string dumped
        = nlohmann::json(s).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    return nlohmann::json::parse(dumped).get<std::string>();
}

// JSON lets C1 controls and bidirectional overrides through raw; a terminal
// may take U+009B as the start of a command, and U+202E reverses the line,
// so they leave escaped, like C0 controls.
std::string escapeDisplayControls(const std::string& dumped)
{
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
    return out;
}

nlohmann::ordered_json jsonObject(const std::string& name, const TrackDetails& d)
{
    nlohmann::ordered_json line;
    line["file"] = name;
    // The replaced name alone could not be opened again.
    if (!sjis::isUtf8(name))
        line["file_hex"] = hexBytes(name);
    const auto texts = tagTexts(d);
    for (std::size_t k = 0; k < texts.size(); ++k)
        line[kTextKeys[k]] = *texts[k];
    line["bitrate_kbps"] = d.bitrateKbps;
    line["sample_rate_hz"] = d.sampleRate;
    line["file_bytes"] = d.fileBytes;
    line["seconds"] = d.seconds;
    line["readable"] = d.readable;
    line["format"] = formatRow(d.format).name;
    line["track"] = d.texts.track;
    line["album_artist"] = d.texts.albumArtist;
    line["reason"] = reasonOf(d);
    return line;
}

std::string jsonLine(const std::string& name, const TrackDetails& d)
{
    const auto line = jsonObject(name, d);
    return escapeDisplayControls(line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)) + "\n";
}

std::string tsvLine(const std::string& name, const TrackDetails& d)
{
    std::string line = escapeInfoValue(name);
    for (const std::string* text : tagTexts(d)) {
        line += '\t';
        line += escapeInfoValue(*text);
    }
    for (int64_t value : { int64_t { d.bitrateKbps }, int64_t { d.sampleRate }, d.fileBytes, d.seconds }) {
        line += '\t';
        line += std::to_string(value);
    }
    line += d.readable ? "\tok\t" : "\tunreadable\t";
    line += std::to_string(d.texts.track);
    line += '\t';
    line += escapeInfoValue(d.texts.albumArtist);
    line += '\n';
    return line;
}

constexpr std::array<const char*, 17> kCsvColumns = { "file", "file_hex", "title", "artist", "album", "year",
    "comment", "genre", "bitrate_kbps", "sample_rate_hz", "file_bytes", "seconds", "readable", "format",
    "track", "album_artist", "reason" };

void appendCsvCell(std::string& line, std::string_view value, bool safe)
{
    if (!line.empty() && line.back() != '\n')
        line += ',';
    const bool formula
        = safe && !value.empty() && std::string_view("=+-@").find(value.front()) != std::string_view::npos;
    const bool quoted = value.find_first_of(",\"\r\n") != std::string_view::npos;
    if (quoted)
        line += '"';
    if (formula)
        line += '\'';
    for (const char c : value) {
        if (c == '"')
            line += '"';
        line += c;
    }
    if (quoted)
        line += '"';
}

std::string csvHeader()
{
    std::string line;
    for (const char* column : kCsvColumns)
        appendCsvCell(line, column, false);
    return line + "\r\n";
}

// The JSON object's values in the header's columns.
std::string csvLine(const std::string& name, const TrackDetails& d, bool safe)
{
    std::string line;
    appendCsvCell(line, validUtf8(name), safe);
    appendCsvCell(line, sjis::isUtf8(name) ? std::string() : hexBytes(name), safe);
    for (const std::string* text : tagTexts(d))
        appendCsvCell(line, validUtf8(*text), safe);
    for (int64_t value : { int64_t { d.bitrateKbps }, int64_t { d.sampleRate }, d.fileBytes, d.seconds })
        appendCsvCell(line, std::to_string(value), safe);
    appendCsvCell(line, d.readable ? "true" : "false", safe);
    appendCsvCell(line, formatRow(d.format).name, safe);
    appendCsvCell(line, std::to_string(d.texts.track), safe);
    appendCsvCell(line, validUtf8(d.texts.albumArtist), safe);
    appendCsvCell(line, reasonOf(d), safe);
    return line + "\r\n";
}

enum class InfoForm { Tsv, Json, Csv, SafeCsv };

struct InfoArgs {
    std::string folder;
    std::string formats;
    bool formatsGiven = false;
    bool json = false, csv = false, csvSafe = false, verbose = false;

    InfoForm form() const
    {
        if (json)
            return InfoForm::Json;
        if (csvSafe)
            return InfoForm::SafeCsv;
        return csv ? InfoForm::Csv : InfoForm::Tsv;
    }
};

std::string infoLine(InfoForm form, const std::string& name, const TrackDetails& d)
{
    switch (form) {
    case InfoForm::Json:
        return jsonLine(name, d);
    case InfoForm::Csv:
    case InfoForm::SafeCsv:
        return csvLine(name, d, form == InfoForm::SafeCsv);
    case InfoForm::Tsv:
        break;
    }
    return tsvLine(name, d);
}

// What cannot be opened is always said; why an opened file is no audio only
// when asked for. The row is printed either way.
bool sayProblem(Context& ctx, const std::string& path, const TrackDetails& d, bool verbose)
{
    if (d.openError != 0) {
        error(ctx) << escapeForTerminal(path) << ": " << std::strerror(d.openError) << "\n";
        return true;
    }
    if (verbose && !d.readable)
        error(ctx) << escapeForTerminal(path) << ": " << escapeForTerminal(reasonOf(d)) << "\n";
    return false;
}

void runInfo(Context& ctx, const InfoArgs& args)
{
    std::string bad;
    const auto formats
        = !args.formatsGiven ? std::optional(FormatSet::mp3Only()) : FormatSet::parse(args.formats, &bad);
    if (!formats) {
        error(ctx) << "--formats: " << escapeForTerminal(formatsError(bad)) << "\n";
        ctx.exitCode = kExitUsage;
        return;
    }
    const FolderListing listing = listAudioFiles(args.folder, *formats);
    if (!listing.ok) {
        error(ctx) << escapeForTerminal(listing.error) << '\n';
        ctx.exitCode = kExitFailure;
        return;
    }
    const InfoForm form = args.form();
    if (form == InfoForm::Csv || form == InfoForm::SafeCsv)
        ctx.out << csvHeader();
    bool unopened = false;
    for (const auto& [i, name] : FolderWalk(args.folder, listing.names)) {
        const std::string path = joinPath(args.folder, name);
        const TrackDetails details = trackinfo::readTrackDetails(path.c_str());
        unopened = sayProblem(ctx, path, details, args.verbose) || unopened;
        ctx.out << infoLine(form, name, details);
        if (!outputStillWritable(ctx))
            return;
    }
    if (unopened)
        ctx.exitCode = kExitFilesUnopened;
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
        "info", "Print each audio file's tags and stream data, one tab-separated line per file.");
    cmd->footer(kInfoFooter);
    auto args = std::make_shared<InfoArgs>();
    addFolderArgument(*cmd, args->folder, "Folder whose audio files are read");
    auto* formats = addFormatsOption(*cmd, args->formats);
    auto* json = cmd->add_flag(
        "--json", args->json, "Print one JSON object per file (JSON Lines) instead of tab-separated columns");
    auto* csv = cmd->add_flag("--csv", args->csv, "Print CSV (RFC 4180) with a header row instead");
    auto* csvSafe = cmd->add_flag(
        "--csv-safe", args->csvSafe, "As --csv, with a ' before cells that begin with =, +, - or @");
    json->excludes(csv)->excludes(csvSafe);
    cmd->add_flag("--verbose", args->verbose, "Say on stderr why each unreadable file holds no audio");
    cmd->callback([&ctx, args, formats] {
        args->formatsGiven = formats->count() > 0;
        runInfo(ctx, *args);
    });
}

} // namespace melodex::cli
