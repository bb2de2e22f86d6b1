#include "listgen/index_page.h"

#include <algorithm>
#include <climits>
#include <exception>

#include <sys/stat.h>

#include "common/folder_listing.h"
#include "common/sjis.h"
#include "common/text_rules.h"
#include "listgen/export_file.h"
#include "listgen/out1.h"

namespace melodex {
namespace {

constexpr std::string_view kClassicStart = "<HTML><HEAD><TITLE>";
constexpr std::string_view kModernStart = "<!DOCTYPE html>";
constexpr std::string_view kFooter = "Created by Melodex";
constexpr std::string_view kTopLabel = ".";

// One row of the page: where its folder sits and what it links.
struct IndexRow {
    std::vector<std::string_view> label; // path from the nearest folder shown above it
    int depth = 0;
    std::string href; // percent-encoded, relative to the top folder
    const FolderTotals* totals = nullptr;
};

std::vector<std::string_view> components(std::string_view path)
{
    std::vector<std::string_view> parts;
    while (!path.empty()) {
        const std::size_t slash = path.find('/');
        parts.push_back(path.substr(0, slash));
        path = slash == std::string_view::npos ? std::string_view {} : path.substr(slash + 1);
    }
    return parts;
}

// Natural order of each name in turn, so that a folder's children follow it
// ("a", "a/b", "a-c"), where comparing whole paths would put "a-c" between.
bool treeLess(const std::vector<std::string_view>& a, const std::vector<std::string_view>& b)
{
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
        if (a[i] != b[i])
            return naturalLess(a[i], b[i]);
    }
    return a.size() < b.size();
}

std::string relativeTo(const std::string& top, const std::string& folder)
{
    const std::string prefix = joinPath(top, "");
    return folder.compare(0, prefix.size(), prefix) == 0 ? folder.substr(prefix.size()) : std::string();
}

struct Tree {
    std::vector<std::string> paths; // relative to the top; they own what the rows' labels view
    std::vector<IndexRow> rows;
    FolderTotals sum;
};

bool isAncestor(const std::vector<std::string_view>& a, const std::vector<std::string_view>& b)
{
    return a.size() < b.size() && std::equal(a.begin(), a.end(), b.begin());
}

// Each folder nested under the nearest folder shown above it, labelled with
// the path from there: a chain of folders that list nothing stays readable
// without rows of its own.
Tree buildTree(const std::string& top, const std::string& outFile, const std::vector<IndexedFolder>& folders)
{
    Tree tree;
    tree.paths.reserve(folders.size());
    for (const IndexedFolder& f : folders)
        tree.paths.push_back(relativeTo(top, f.folder));
    std::vector<std::pair<std::vector<std::string_view>, const FolderTotals*>> keyed;
    for (std::size_t i = 0; i < folders.size(); ++i)
        keyed.emplace_back(components(tree.paths[i]), &folders[i].totals);
    std::stable_sort(
        keyed.begin(), keyed.end(), [](const auto& a, const auto& b) { return treeLess(a.first, b.first); });
    std::vector<const std::vector<std::string_view>*> shown; // the rows above that enclose this one
    for (const auto& [parts, totals] : keyed) {
        while (!shown.empty() && !isAncestor(*shown.back(), parts))
            shown.pop_back();
        IndexRow row;
        row.depth = static_cast<int>(shown.size());
        const std::size_t from = shown.empty() ? 0 : shown.back()->size();
        row.label.assign(parts.begin() + static_cast<std::ptrdiff_t>(from), parts.end());
        std::string page;
        for (const std::string_view part : parts)
            page.append(part).append("/");
        row.href = percentEncodedPath(page.append(trim(outFile)));
        row.totals = totals;
        tree.sum.files += totals->files;
        tree.sum.bytes += totals->bytes;
        tree.sum.seconds += totals->seconds;
        tree.rows.push_back(std::move(row));
        shown.push_back(&parts);
    }
    return tree;
}

// A folder's name on the classic page, decided as the list page decides file
// names: CP932 bytes go on as they are, Windows-1252 as its characters.
std::string classicName(std::string_view name)
{
    switch (sjis::legacyCodePage(name)) {
    case sjis::LegacyCodePage::Cp932:
        return escapeHtml(name, HtmlText::Cp932Name);
    case sjis::LegacyCodePage::Windows1252:
        return sjis::encode(escapeHtml(sjis::windows1252ToUtf8(name)), sjis::Amp::Keep);
    default:
        return sjis::encode(escapeHtml(name), sjis::Amp::Keep);
    }
}

std::string modernName(std::string_view name) { return escapeHtml(sjis::legacyToUtf8(name)); }

std::string labelText(const IndexRow& row, std::string (*shown)(std::string_view))
{
    if (row.label.empty())
        return std::string(kTopLabel);
    std::string text;
    for (const std::string_view part : row.label)
        text.append(text.empty() ? "" : "/").append(shown(part));
    return text;
}

std::string classicText(std::string_view utf8) { return sjis::encode(escapeHtml(utf8), sjis::Amp::Keep); }

void classicLine(std::string& out, std::initializer_list<std::string_view> pieces)
{
    for (const std::string_view piece : pieces)
        out.append(piece);
    out.append("\r\n");
}

void classicTotal(std::string& out, std::string_view label, const std::string& value)
{
    classicLine(out,
        { "<TR><TD NOWRAP WIDTH=150>", sjis::encode(label), "</TD><TD NOWRAP WIDTH=100 ALIGN=\"center\">",
            value, "</TD></TR>" });
}

// The list page's look: its colours, border and table, its totals and footer.
std::string classicPage(const OptionSet& options, const Tree& tree)
{
    const std::string title = classicText(options.title);
    const std::string titleColor = classicText(options.colorText[3]);
    const std::string table = "<TABLE BORDER="
        + sjis::encode(escapeHtml(options.borderText, HtmlText::UnquotedAttribute), sjis::Amp::Keep)
        + " CELLPADDING=2 CELLSPACING=1 BGCOLOR=\"" + classicText(options.colorText[1]) + "\" >";
    std::string out;
    classicLine(out, { kClassicStart, title, "</TITLE>" });
    classicLine(
        out, { "<META HTTP-EQUIV=\"Content-Type\" content=\"text/html; charset=Shift_JIS\"></HEAD>" });
    classicLine(out,
        { "<BODY BGCOLOR=\"", classicText(options.colorText[0]), "\" TEXT=\"",
            classicText(options.colorText[2]), "\" ><P><P>" });
    classicLine(out, { table });
    classicLine(
        out, { "<CAPTION ALIGN=\"left\"><FONT COLOR=\"", titleColor, "\">", title, "</FONT></CAPTION><TR>" });
    for (const std::string_view head : { "フォルダ", "ファイル数", "ファイル容量", "演奏時間" })
        classicLine(out, { "<TH NOWRAP>", sjis::encode(head), "</TH>" });
    classicLine(out, { "</TR>" });
    const std::string indent = sjis::encode("　");
    for (const IndexRow& row : tree.rows) {
        std::string padding;
        for (int d = 0; d < row.depth; ++d)
            padding += indent;
        classicLine(out, { "<TR>" });
        classicLine(out,
            { "<TD NOWRAP ALIGN=\"left\">", padding, "<A HREF=\"", row.href, "\">",
                labelText(row, classicName), "</A></TD>" });
        classicLine(out, { "<TD NOWRAP ALIGN=\"right\">", plainDecimal(row.totals->files), "</TD>" });
        classicLine(out, { "<TD NOWRAP ALIGN=\"right\">", TotalSizeText(row.totals->bytes), "</TD>" });
        classicLine(out, { "<TD NOWRAP ALIGN=\"right\">", SecToTime(row.totals->seconds), "</TD>" });
        classicLine(out, { "</TR>" });
    }
    classicLine(out, { "</TABLE><P><P><HR><P>" });
    classicLine(out, { table });
    classicTotal(out, "フォルダ数", plainDecimal(static_cast<int64_t>(tree.rows.size())));
    classicTotal(out, "ファイル総数", plainDecimal(tree.sum.files));
    classicTotal(out, "総ファイル容量", TotalSizeText(tree.sum.bytes));
    classicTotal(out, "総演奏時間", SecToTime(tree.sum.seconds));
    classicLine(out, { "</TABLE>" });
    classicLine(out, { "<P><P><P><FONT COLOR=\"", titleColor, "\" >" });
    classicLine(out, { kFooter });
    classicLine(out, { "</FONT></BODY></HTML>" });
    return out;
}

// Only palette colours reach the style sheet: a text typed into the colour
// box could otherwise carry rules of its own into it.
std::string cssColor(const OptionSet& options, std::size_t which)
{
    const auto named = [&](int index) { return index >= 0 && index < static_cast<int>(kPalette.size()); };
    int index = options.colorIndex[which];
    if (!named(index)) {
        const std::string wanted = asciiLower(options.colorText[which]);
        const auto found = std::find_if(kPalette.begin(), kPalette.end(),
            [&](const PaletteColor& c) { return asciiLower(std::string(c.name)) == wanted; });
        index = found != kPalette.end() ? static_cast<int>(found - kPalette.begin())
                                        : OptionSet {}.colorIndex[which];
    }
    const std::string_view code = kPalette[static_cast<std::size_t>(index)].code; // RRRGGGBBB
    static constexpr char kHex[] = "0123456789abcdef";
    std::string css = "#";
    for (std::size_t c = 0; c < 3; ++c) {
        const int v = std::stoi(std::string(code.substr(c * 3, 3)));
        css += kHex[(v >> 4) & 0xF];
        css += kHex[v & 0xF];
    }
    return css;
}

void modernRow(std::string& out, const std::string& firstCell, const FolderTotals& totals)
{
    out.append("<tr>").append(firstCell);
    out.append("<td class=\"n\">").append(plainDecimal(totals.files)).append("</td>");
    out.append("<td class=\"n\">").append(TotalSizeText(totals.bytes)).append("</td>");
    out.append("<td class=\"n\">").append(SecToTime(totals.seconds)).append("</td></tr>\n");
}

// HTML5 in UTF-8, one file with its style inline, small enough to share its
// rules with the modern list page later.
std::string modernPage(const OptionSet& options, const Tree& tree)
{
    const std::string title = escapeHtml(options.title);
    const int border = kBorderRange.contains(options.border) ? options.border : 1;
    std::string out;
    out.append(kModernStart).append("\n<html lang=\"ja\">\n<head>\n<meta charset=\"utf-8\">\n");
    out.append("<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n");
    out.append("<title>").append(title).append("</title>\n<style>\n");
    out.append("body{margin:1rem;font-family:sans-serif;background:" + cssColor(options, 0)
        + ";color:" + cssColor(options, 2) + "}\n");
    out.append("h1{font-size:1.3rem;margin:0 0 .75rem;color:" + cssColor(options, 3) + "}\n");
    out.append("table{border-collapse:collapse;background:" + cssColor(options, 1) + "}\n");
    out.append("th,td{padding:.2rem .6rem;border:" + std::to_string(border) + "px solid currentColor}\n");
    out.append("td.n{text-align:right;font-variant-numeric:tabular-nums;white-space:nowrap}\n");
    out.append("th{text-align:left}tfoot{font-weight:bold}footer{margin-top:1rem;color:"
        + cssColor(options, 3) + "}\n</style>\n</head>\n<body>\n");
    if (!options.title.empty())
        out.append("<h1>").append(title).append("</h1>\n");
    out.append("<table>\n<thead><tr><th scope=\"col\">フォルダ</th><th scope=\"col\">ファイル数</th>"
               "<th scope=\"col\">ファイル容量</th><th scope=\"col\">演奏時間</th></tr></thead>\n<tbody>\n");
    for (const IndexRow& row : tree.rows) {
        modernRow(out,
            "<td style=\"padding-left:" + std::to_string(6 + 15 * row.depth) + "px\"><a href=\"" + row.href
                + "\">" + labelText(row, modernName) + "</a></td>",
            *row.totals);
    }
    out.append("</tbody>\n<tfoot>\n");
    modernRow(out,
        "<th scope=\"row\">合計（" + plainDecimal(static_cast<int64_t>(tree.rows.size()))
            + " フォルダ）</th>",
        tree.sum);
    out.append("</tfoot>\n</table>\n<footer>").append(kFooter).append("</footer>\n</body>\n</html>\n");
    return out;
}

} // namespace

TrackReader countingReader(TrackReader reader, FolderTotals& totals)
{
    return [reader = std::move(reader), &totals](const std::string& path, TrackTag& tag, StreamInfo& info) {
        const int32_t readable = reader(path, tag, info);
        ++totals.files;
        int64_t bytes = info.FileBytes;
        // The record holds 2 GiB and more as INT32_MAX; the page shows the
        // size the file system gives, and so does the index.
        struct stat st { };
        if (bytes == INT32_MAX && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
            bytes = st.st_size;
        totals.bytes += bytes;
        if (readable != 0)
            totals.seconds += info.TotalSeconds;
        return readable;
    };
}

std::optional<std::string> checkIndexName(std::string_view name, const OptionSet& options)
{
    if (auto why = checkOutputName(name, options.formats))
        return why;
    if (trim(name) == "-")
        return std::string("\"-\" is no standard output here: give a file name");
    if (trim(name) == trim(options.outFile))
        return "the index page cannot take the lists' name \"" + std::string(trim(name))
            + "\": it would replace the top folder's list";
    return std::nullopt;
}

std::string indexPage(
    const OptionSet& options, const std::string& top, const std::vector<IndexedFolder>& folders)
{
    const Tree tree = buildTree(top, options.outFile, folders);
    return options.style == PageStyle::Modern ? modernPage(options, tree) : classicPage(options, tree);
}

ListResult writeIndexPage(const OptionSet& options, const std::string& top, const std::string& name,
    const std::vector<IndexedFolder>& folders)
{
    const std::string path = listDocumentPath(top, name);
    try {
        if (auto why = checkIndexName(name, options))
            return { ListResult::Status::Failed, *why, path };
        const std::string page = indexPage(options, top, folders);
        const std::string_view start = options.style == PageStyle::Modern ? kModernStart : kClassicStart;
        if (auto error = replaceExportFile(path, page, start, options.formats))
            return { ListResult::Status::Failed, *error, path };
        return { ListResult::Status::Success, {}, path };
    } catch (const std::exception& e) {
        return { ListResult::Status::Failed, e.what(), path };
    }
}

} // namespace melodex
