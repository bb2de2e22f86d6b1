#include "listgen/modern_page.h"

#include <algorithm>
#include <map>

#include "common/atomic_file.h"
#include "common/folder_listing.h"
#include "common/sjis.h"
#include "common/text_rules.h"
#include "listgen/modern_page_assets.h"
#include "listgen/out1.h"
#include "listgen/page_parts.h"
#include "trackinfo/read_ahead.h"

namespace melodex {
namespace {

using trackinfo::TrackDetails;

// What every modern page begins with; a temporary that does not is not ours.
constexpr std::string_view kModernPageStart = "<!DOCTYPE html>";
constexpr std::size_t kWriteChunk = 1u << 16;
constexpr std::string_view kNoAlbum = "（アルバム名なし）";

std::string html(std::string_view utf8) { return escapeHtml(utf8, HtmlText::Plain); }

// The classic page writes a size that rounds to zero bytes or KB without
// digits (" Byte", " KB"); here a zero is written as one, as the filter can
// bring a total down to nothing.
std::string withDigits(const std::string& size) { return size.starts_with(' ') ? "0" + size : size; }
std::string totalSize(int64_t bytes) { return withDigits(TotalSizeText(bytes)); }

// One file's row, its cells already HTML; the row number is added when the
// row's place on the page is known.
struct Row {
    std::string cells;
    std::string album;
    int64_t bytes = 0, seconds = 0;
};

void textCell(std::string& out, std::string_view text)
{
    out.append("<td>").append(html(text)).append("</td>");
}

void numberCell(std::string& out, int64_t value, std::string_view text)
{
    out.append("<td class=\"n\" data-v=\"")
        .append(std::to_string(value))
        .append("\">")
        .append(text)
        .append("</td>");
}

void appendCell(std::string& out, Field field, const std::string& name, const TrackDetails& d, int sizeUnit)
{
    const trackinfo::TagTexts& t = d.texts;
    switch (field) {
    case Field::File:
        return textCell(out, name);
    case Field::Track:
        return textCell(out, t.title);
    case Field::Artist:
        return textCell(out, t.artist);
    case Field::Album:
        return textCell(out, t.album);
    case Field::Year:
        return textCell(out, t.year);
    case Field::Comment:
        return textCell(out, t.comment);
    case Field::Genre:
        return textCell(out, t.genre);
    case Field::Size:
        return numberCell(out, d.fileBytes, withDigits(SizeText(d.fileBytes, sizeUnit)));
    case Field::Time:
        return numberCell(out, d.seconds, SecToTime(d.seconds));
    case Field::BitRate:
        return numberCell(out, d.bitrateKbps, plainDecimal(d.bitrateKbps) + " kbps");
    case Field::SampleRate:
        return numberCell(out, d.sampleRate, plainDecimal(d.sampleRate) + " Hz");
    case Field::TrackNumber:
        return numberCell(out, t.track, t.track == 0 ? "" : plainDecimal(t.track));
    case Field::AlbumArtist:
        return textCell(out, t.albumArtist);
    case Field::None:
        return;
    }
}

std::vector<Field> shownFields(const OptionSet& options)
{
    std::vector<Field> fields;
    for (int i = 0; i < options.enabledColumns; ++i) {
        const auto field = static_cast<Field>(options.columns[static_cast<std::size_t>(i)]);
        if (field != Field::None)
            fields.push_back(field);
    }
    return fields;
}

bool isNumeric(Field field)
{
    switch (field) {
    case Field::Size:
    case Field::Time:
    case Field::BitRate:
    case Field::SampleRate:
    case Field::TrackNumber:
        return true;
    default:
        return false;
    }
}

// A colour as CSS: a palette name as its code, another plain word as the
// named colour it may be; anything else the page cannot take safely, and the
// default stands in for it.
std::string cssColor(const std::string& text, std::string_view fallback)
{
    const std::string lower = asciiLower(std::string(trim(text)));
    for (const PaletteColor& c : kPalette) {
        if (asciiLower(std::string(c.name)) != lower)
            continue;
        std::string hex = "#";
        for (std::size_t i = 0; i < 9; i += 3) {
            const int v = std::stoi(std::string(c.code.substr(i, 3)));
            const char digits[] = "0123456789abcdef";
            hex += digits[v / 16];
            hex += digits[v % 16];
        }
        return hex;
    }
    const bool word = !lower.empty() && lower.size() <= 32
        && std::all_of(lower.begin(), lower.end(), [](char c) { return c >= 'a' && c <= 'z'; });
    return word ? lower : std::string(fallback);
}

// The four colours and the border as custom properties. The dark scheme is
// offered only on the default colours: a user who chose colours meant them.
void appendColors(std::string& out, const OptionSet& options)
{
    const OptionSet defaults;
    bool kept = true;
    for (std::size_t r = 0; r < 4; ++r)
        kept = kept
            && asciiLower(std::string(trim(options.colorText[r]))) == asciiLower(defaults.colorText[r]);
    const int border = std::clamp(options.border, kBorderRange.min, kBorderRange.max);
    out += ":root{color-scheme:" + std::string(kept ? "light dark" : "light");
    out += ";--page:" + cssColor(options.colorText[0], "#ffffff");
    out += ";--table:" + cssColor(options.colorText[1], "#ffffff");
    out += ";--text:" + cssColor(options.colorText[2], "#000000");
    out += ";--title:" + cssColor(options.colorText[3], "#ff0000");
    out += ";--line:#808080;--border:" + std::to_string(border) + "px}\n";
    if (kept)
        out += "@media (prefers-color-scheme:dark){:root{--page:#121212;--table:#1c1c1c;--text:#e4e4e4;"
               "--title:#ff7070;--line:#5a5a5a}}\n";
}

void appendHead(std::string& out, const OptionSet& options, const std::vector<Field>& fields)
{
    const std::string title = html(options.title);
    out += "<!DOCTYPE html>\n<html lang=\"ja\">\n<head>\n<meta charset=\"utf-8\">\n";
    out += "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n";
    out += "<title>" + title + "</title>\n<style>\n";
    appendColors(out, options);
    out.append(modern::kStyle.substr(1));
    out += "</style>\n</head>\n<body>\n";
    if (!title.empty())
        out += "<h1>" + title + "</h1>\n";
    out += "<div class=\"tools\"><input type=\"search\" id=\"filter\" placeholder=\"絞り込み\" "
           "aria-label=\"絞り込み\" aria-controls=\"tracks\" hidden></div>\n";
    out += "<table id=\"tracks\">\n<thead><tr><th scope=\"col\" class=\"n\" data-sort=\"num\">#</th>";
    for (Field f : fields) {
        out += "<th scope=\"col\"";
        out += isNumeric(f) ? " class=\"n\" data-sort=\"num\">" : ">";
        out += html(kFields[static_cast<std::size_t>(f)].chooserText) + "</th>";
    }
    out += "</tr></thead>\n";
}

// The file name as text: names are bytes, read as the classic page reads them.
std::string nameText(const std::string& name) { return sjis::legacyToUtf8(name); }

struct Totals {
    int count = 0;
    int64_t bytes = 0, seconds = 0;
    void add(const Row& r)
    {
        ++count;
        bytes += r.bytes;
        seconds += r.seconds;
    }
};

// Rows in the order they go onto the page: the folder's, or album by album
// in the order each album first appears.
std::vector<std::vector<const Row*>> arrange(const std::vector<Row>& rows, PageGrouping grouping)
{
    std::vector<std::vector<const Row*>> groups;
    std::map<std::string, std::size_t> index;
    for (const Row& r : rows) {
        const std::string key = grouping == PageGrouping::Album ? r.album : std::string();
        const auto [it, added] = index.try_emplace(key, groups.size());
        if (added)
            groups.emplace_back();
        groups[it->second].push_back(&r);
    }
    return groups;
}

class PageWriter {
public:
    PageWriter(AtomicFile& doc, std::string& out)
        : doc_(doc)
        , out_(out)
    {
    }
    // Hands a full chunk to the file; false when the file refused it.
    bool flush(bool always = false)
    {
        if (!always && out_.size() < kWriteChunk)
            return true;
        const bool ok = doc_.write(out_);
        out_.clear();
        return ok;
    }

private:
    AtomicFile& doc_;
    std::string& out_;
};

void appendSubtotal(std::string& out, const Totals& t, std::size_t columns)
{
    out += "<tr class=\"st\"><td colspan=\"" + std::to_string(columns) + "\">";
    out += "<span>" + std::string(kTotalLabels[0]) + " " + std::to_string(t.count) + "</span>";
    out += "<span>" + std::string(kTotalLabels[1]) + " " + totalSize(t.bytes) + "</span>";
    out += "<span>" + std::string(kTotalLabels[2]) + " " + SecToTime(t.seconds) + "</span></td></tr>\n";
}

bool appendBody(PageWriter& writer, std::string& out, const std::vector<Row>& rows, const OptionSet& options,
    std::size_t columns)
{
    const bool grouped = options.grouping == PageGrouping::Album;
    int number = 0;
    for (const auto& group : arrange(rows, options.grouping)) {
        out += grouped ? "<tbody class=\"g\">\n" : "<tbody>\n";
        if (grouped) {
            const std::string& album = group.front()->album;
            out += "<tr class=\"gh\"><th colspan=\"" + std::to_string(columns) + "\" scope=\"rowgroup\">"
                + (album.empty() ? std::string(kNoAlbum) : html(album)) + "</th></tr>\n";
        }
        Totals sub;
        for (const Row* r : group) {
            out += "<tr data-b=\"" + std::to_string(r->bytes) + "\" data-s=\"" + std::to_string(r->seconds)
                + "\"><td class=\"n\" data-v=\"" + std::to_string(number) + "\">" + std::to_string(number + 1)
                + "</td>" + r->cells + "</tr>\n";
            ++number;
            sub.add(*r);
            if (!writer.flush())
                return false;
        }
        if (grouped)
            appendSubtotal(out, sub, columns);
        out += "</tbody>\n";
    }
    return true;
}

void appendTotals(std::string& out, const Totals& all)
{
    out += "</table>\n<table class=\"totals\">\n<tr><td></td><th scope=\"col\" class=\"shown\">表示中</th>"
           "<th scope=\"col\">全体</th></tr>\n";
    const std::array<std::string, 3> values { std::to_string(all.count), totalSize(all.bytes),
        SecToTime(all.seconds) };
    const std::array<std::string_view, 3> ids { "shown-count", "shown-size", "shown-time" };
    for (std::size_t i = 0; i < values.size(); ++i) {
        out += "<tr><th scope=\"row\">" + std::string(kTotalLabels[i]) + "</th><td class=\"n shown\" id=\""
            + std::string(ids[i]) + "\"></td><td class=\"n\">" + values[i] + "</td></tr>\n";
    }
    out += "</table>\n<footer>" + std::string(kPageFooter) + "</footer>\n<script>";
    out.append(modern::kScript);
    out += "</script>\n</body>\n</html>\n";
}

Row makeRow(const std::vector<Field>& fields, const std::string& name, const TrackDetails& d, int sizeUnit)
{
    Row row;
    row.album = d.texts.album;
    row.bytes = d.fileBytes;
    row.seconds = d.seconds;
    const std::string shownName = nameText(name);
    for (Field f : fields)
        appendCell(row.cells, f, shownName, d, sizeUnit);
    return row;
}

} // namespace

ListResult writeModernPage(const OptionSet& options, const std::string& folder,
    const std::vector<std::string>& fileNames, const DetailsReader& details, const ListProgress& progress)
{
    const std::string outPath = listDocumentPath(folder, options.outFile);
    if (auto why = unusableOptions(options, kOnModernPage))
        return failedList(outPath, *why);
    AtomicFile::Options fileOptions;
    fileOptions.staleSignature = kModernPageStart;
    AtomicFile doc(outPath, fileOptions);
    if (auto why = openPageFile(doc, outPath, options.formats))
        return failedList(outPath, *why);

    const std::vector<Field> fields = shownFields(options);
    const int count = static_cast<int>(fileNames.size());
    std::vector<Row> rows;
    rows.reserve(fileNames.size());
    Totals all;
    for (const auto& [index, name] : FolderWalk(folder, fileNames)) {
        if (progress && !progress(static_cast<int>(index), count))
            return { ListResult::Status::Cancelled, {}, outPath };
        rows.push_back(makeRow(fields, name, details(joinPath(folder, name)), options.sizeUnit));
        all.add(rows.back());
    }

    std::string out;
    out.reserve(kWriteChunk + 4096);
    PageWriter writer(doc, out);
    appendHead(out, options, fields);
    if (!appendBody(writer, out, rows, options, fields.size() + 1))
        return failedList(outPath, doc.error());
    appendTotals(out, all);
    if (progress && !progress(count, count))
        return { ListResult::Status::Cancelled, {}, outPath };
    if (!writer.flush(true) || !doc.commit())
        return failedList(outPath, doc.error());
    return { ListResult::Status::Success, {}, outPath };
}

} // namespace melodex
