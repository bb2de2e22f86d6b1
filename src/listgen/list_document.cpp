#include "listgen/list_document.h"

#include <algorithm>
#include <array>
#include <climits>
#include <exception>

#include <sys/stat.h>

#include "common/atomic_file.h"
#include "common/folder_listing.h"
#include "common/sjis.h"
#include "common/text_rules.h"
#include "listgen/out1.h"
#include "trackinfo/read_ahead.h"

namespace melodex {
namespace {

constexpr std::string_view kEol = "\r\n";
constexpr std::size_t kTotalSizeWidth = 128;
constexpr std::string_view kFooter = "Created by Melodex";

// U+0000 to U+001F and U+007F. Neither UTF-8 nor CP932 has these bytes
// inside a character.
constexpr bool isControl(char c) { return static_cast<unsigned char>(c) < 0x20 || c == '\x7f'; }

// The bytes escapeHtml looks at, looked up rather than tested one by one:
// a page runs tens of thousands of texts through it. In UTF-8 the lead
// bytes of the display controls too.
constexpr std::array<bool, 256> escapedBytes(bool utf8, bool unquoted)
{
    std::array<bool, 256> t {};
    for (int c = 0; c < 256; ++c)
        t[static_cast<std::size_t>(c)] = isControl(static_cast<char>(c));
    for (unsigned char c : { '&', '<', '>', '"' })
        t[c] = true;
    t[' '] = unquoted;
    t[0xC2] = utf8;
    t[0xE2] = utf8;
    return t;
}
constexpr std::array<bool, 256> kEscapedCp932 = escapedBytes(false, false);
constexpr std::array<bool, 256> kEscapedUtf8 = escapedBytes(true, false);
constexpr std::array<bool, 256> kEscapedUnquoted = escapedBytes(true, true);

const std::array<bool, 256>& escapedBytes(HtmlText kind)
{
    switch (kind) {
    case HtmlText::Plain:
        return kEscapedUtf8;
    case HtmlText::UnquotedAttribute:
        return kEscapedUnquoted;
    case HtmlText::TagField:
    case HtmlText::Cp932Name:
        break;
    }
    return kEscapedCp932;
}

// The length of the display control at text[pos], which the page shows as
// U+FFFD, or 0. CP932 has none of them, so the codec wrote those of a tag
// as references.
std::size_t displayControlAt(std::string_view text, std::size_t pos, HtmlText kind)
{
    switch (kind) {
    case HtmlText::Plain:
    case HtmlText::UnquotedAttribute:
        return displayControlLength(text, pos);
    case HtmlText::TagField:
        if (const auto ref = sjis::numericReference(text, pos); ref && isDisplayControl(ref->first))
            return ref->second;
        return 0;
    case HtmlText::Cp932Name:
        break;
    }
    return 0;
}

// The reference for the markup or control character c.
void appendEscaped(std::string& out, char c, bool keepAmpersands)
{
    switch (c) {
    case '&':
        out += keepAmpersands ? "&" : "&amp;";
        break;
    case '<':
        out += "&lt;";
        break;
    case '>':
        out += "&gt;";
        break;
    case '"':
        out += "&quot;";
        break;
    case ' ': // in an unquoted attribute value only
        out += "&#32;";
        break;
    default:
        // A control character shows as its picture from the Control
        // Pictures block ("␀", "␊", "␡"), not as itself: raw, a NUL or a
        // CR LF would break the page's lines; as a reference, most are
        // parse errors in HTML, "&#0;" shows as U+FFFD and "&#10;" as a
        // mere space, hiding what the tag holds. "?" or U+FFFD would hide
        // it too. The picture is visible and says which character it
        // was; CP932 has none of them, so it is a reference here.
        out += "&#" + std::to_string(c == '\x7f' ? 0x2421 : 0x2400 + static_cast<unsigned char>(c)) + ";";
        break;
    }
}

// Text typed by the user or taken from the file system, made safe for the
// page and encoded: escaping comes first, so every "&" the codec writes for a
// character CP932 lacks is a reference and every other one was escaped.
std::string userText(std::string_view utf8, HtmlText kind = HtmlText::Plain)
{
    return sjis::encode(escapeHtml(utf8, kind), sjis::Amp::Keep);
}

// File names are bytes, decided as tag texts are: names written by Japanese
// Windows tools arrive as CP932 and go onto the page as they are; Western
// ones arrive as Windows-1252 and go on as their characters.
std::string fileNameText(std::string_view name)
{
    switch (sjis::legacyCodePage(name)) {
    case sjis::LegacyCodePage::Cp932:
        return escapeHtml(name, HtmlText::Cp932Name);
    case sjis::LegacyCodePage::Windows1252:
        return userText(sjis::windows1252ToUtf8(name));
    default:
        return userText(name);
    }
}

std::string tagText(std::string_view cp932) { return escapeHtml(cp932, HtmlText::TagField); }

// Every page begins so; a temporary that does not is not ours to remove.
constexpr std::string_view kPageStart = "<HTML><HEAD><TITLE>";
// The page is handed to the file in pieces of about this size.
constexpr std::size_t kWriteChunk = 1u << 16;

// The track record holds a size of 2 GiB or more as 2,147,483,647; the page
// shows the real one, which only the file system knows.
int64_t realFileBytes(const std::string& path, int32_t recorded)
{
    struct stat st { };
    if (recorded == INT32_MAX && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        return st.st_size;
    return recorded;
}

void line(std::string& out, std::string_view a) { out.append(a).append(kEol); }

template <typename... Pieces>
void line(std::string& out, std::string_view first, const Pieces&... rest)
{
    out.append(first);
    (out.append(rest), ...);
    out.append(kEol);
}

void textCell(std::string& out, const std::string& value, std::string_view align)
{
    if (value == " ") {
        line(out, "<TD NOWRAP><BR></TD>");
        return;
    }
    line(out, "<TD NOWRAP ALIGN=\"", align, "\">", tagText(value), "</TD>");
}

void cell(std::string& out, Field field, const std::string& escapedFileName, const TrackTag& tag,
    const StreamInfo& info, int64_t fileBytes, int sizeUnit)
{
    switch (field) {
    case Field::File:
        line(out, "<TD NOWRAP ALIGN=\"left\">", escapedFileName, "</TD>");
        break;
    case Field::Track:
        textCell(out, TrimNul(tag.TrackName), "left");
        break;
    case Field::Artist:
        textCell(out, TrimNul(tag.ArtistName), "left");
        break;
    case Field::Album:
        textCell(out, TrimNul(tag.AlbumName), "left");
        break;
    case Field::Year:
        textCell(out, TrimNul(tag.Year), "right");
        break;
    case Field::Comment:
        textCell(out, TrimNul(tag.Comment), "left");
        break;
    case Field::Genre:
        textCell(out, TrimNul(tag.GenreName), "left");
        break;
    case Field::Size:
        line(out, "<TD NOWRAP ALIGN=\"right\">", trim(SizeText(fileBytes, sizeUnit)), "</TD>");
        break;
    case Field::Time:
        line(out, "<TD NOWRAP ALIGN=\"right\">", SecToTime(info.TotalSeconds), "</TD>");
        break;
    case Field::BitRate:
        line(out, "<TD NOWRAP ALIGN=\"right\">", plainDecimal(info.BitRate), " kbps</TD>");
        break;
    case Field::SampleRate:
        line(out, "<TD NOWRAP ALIGN=\"right\">", plainDecimal(info.SamplingRate), " Hz</TD>");
        break;
    case Field::None:
        break;
    }
}

ListResult failed(std::string path, std::string reason)
{
    return { ListResult::Status::Failed, std::move(reason), std::move(path) };
}

// Why the Option set cannot make a page, or nothing.
std::optional<std::string> unusableOptions(const OptionSet& options)
{
    if (auto why = checkOutputName(options.outFile, options.formats))
        return why;
    const int n = options.enabledColumns;
    if (!kEnabledRange.contains(n))
        return "the number of columns must be " + std::to_string(kEnabledRange.min) + " to "
            + std::to_string(kEnabledRange.max) + ", not " + std::to_string(n);
    for (int i = 0; i < n; ++i) {
        if (!fieldAppearsIn(options.columns[static_cast<std::size_t>(i)], kOnClassicPage))
            return "column " + std::to_string(i + 1) + " has no valid field";
    }
    return std::nullopt;
}

// The Option set's texts as the page shows them, escaped and encoded once.
struct PageTexts {
    std::string title, pageColor, textColor, titleColor, tableLine;
};

PageTexts pageTexts(const OptionSet& options)
{
    const std::string tableColor = userText(options.colorText[1]);
    const std::string border = userText(options.borderText, HtmlText::UnquotedAttribute);
    return { userText(options.title), userText(options.colorText[0]), userText(options.colorText[2]),
        userText(options.colorText[3]),
        "<TABLE BORDER=" + border + " CELLPADDING=2 CELLSPACING=1 BGCOLOR=\"" + tableColor + "\" >" };
}

// The page's head, the table's opening and its header row.
void appendHead(std::string& out, const OptionSet& options, const PageTexts& texts)
{
    line(out, kPageStart, texts.title, "</TITLE>");
    line(out, "<META HTTP-EQUIV=\"Content-Type\" content=\"text/html; charset=Shift_JIS\"></HEAD>");
    line(out, "<BODY BGCOLOR=\"", texts.pageColor, "\" TEXT=\"", texts.textColor, "\" ><P><P>");
    line(out, texts.tableLine);
    line(out, "<CAPTION ALIGN=\"left\"><FONT COLOR=\"", texts.titleColor, "\">", texts.title,
        "</FONT></CAPTION><TR>");
    line(out, "<TH NOWRAP ALIGN=\"right\">#</TH>");
    for (int i = 0; i < options.enabledColumns; ++i) {
        const int field = options.columns[static_cast<std::size_t>(i)];
        if (static_cast<Field>(field) != Field::None)
            line(out, "<TH NOWRAP>", sjis::encode(trim(ColumnHeaders()[static_cast<std::size_t>(field)])),
                "</TH>");
    }
    line(out, "</TR>");
}

// What the rows are made from, and the totals they add up to.
struct Rows {
    const OptionSet& options;
    const std::string& folder;
    TrackTag& tag;
    StreamInfo& info;
    const TrackReader& reader;
    int64_t totalBytes = 0;
    int64_t totalSeconds = 0;
};

// Row j, for the file `name`.
void appendRow(std::string& out, Rows& rows, int j, const std::string& name)
{
    TrackTag& tag = rows.tag;
    StreamInfo& info = rows.info;
    const std::string path = joinPath(rows.folder, name);
    if (rows.reader(path, tag, info) == 0) {
        // An unreadable file still gets its row, counts with its size and
        // shows the tag it holds without its audio; stream values a reader
        // left behind are not the file's.
        const int32_t bytes = info.FileBytes;
        info = StreamInfo {};
        info.FileBytes = bytes;
    }
    const int64_t fileBytes = realFileBytes(path, info.FileBytes);
    rows.totalSeconds += info.TotalSeconds;
    rows.totalBytes += fileBytes;

    line(out, "<TR>");
    line(out, "<TD NOWRAP ALIGN=\"right\">", spacedDecimal(j + 1), "</TD>");
    const std::string shownName = fileNameText(name);
    for (int i = 0; i < rows.options.enabledColumns; ++i)
        cell(out, static_cast<Field>(rows.options.columns[static_cast<std::size_t>(i)]), shownName, tag, info,
            fileBytes, rows.options.sizeUnit);
    line(out, "</TR>");
}

// The totals table and the footer.
void appendTotals(std::string& out, int count, const Rows& rows, const PageTexts& texts)
{
    std::string totalSize = TotalSizeText(rows.totalBytes);
    if (totalSize.size() < kTotalSizeWidth)
        totalSize.append(kTotalSizeWidth - totalSize.size(), ' ');
    const std::string totalsCell = "</TD><TD NOWRAP WIDTH=100 ALIGN=\"center\">";
    line(out, "</TABLE><P><P><HR><P>");
    line(out, texts.tableLine);
    line(out, "<TR><TD NOWRAP WIDTH=150>", sjis::encode("ファイル総数"), totalsCell, spacedDecimal(count),
        "</TD></TR>");
    line(out, "<TR><TD NOWRAP WIDTH=150>", sjis::encode("総ファイル容量"), totalsCell, totalSize,
        "</TD></TR>");
    line(out, "<TR><TD NOWRAP WIDTH=150>", sjis::encode("総演奏時間"), totalsCell,
        SecToTime(rows.totalSeconds), "</TD></TR>");
    line(out, "</TABLE>");
    line(out, "<P><P><P><FONT COLOR=\"", texts.titleColor, "\" >");
    line(out, kFooter);
    line(out, "</FONT></BODY></HTML>");
}

ListResult write(const OptionSet& options, const std::string& folder,
    const std::vector<std::string>& fileNames, TrackTag& tag, StreamInfo& info, const TrackReader& reader,
    const ListProgress& progress)
{
    const std::string outPath = listDocumentPath(folder, options.outFile);
    if (auto why = unusableOptions(options))
        return failed(outPath, *why);
    const PageTexts texts = pageTexts(options);

    AtomicFile::Options fileOptions;
    fileOptions.staleSignature = kPageStart;
    AtomicFile doc(outPath, fileOptions);
    if (!doc.open())
        return failed(outPath, doc.error());
    if (hasMp3Extension(doc.finalName()))
        return failed(outPath, outPath + ": the link leads to an MP3 file, which the list would replace");
    if (options.formats.lists(doc.finalName()))
        return failed(outPath,
            outPath + ": the link leads to an audio file ("
                + std::string(formatRow(*formatOfName(doc.finalName())).label)
                + "), which the list would replace");
    std::string out;
    out.reserve(kWriteChunk + 4096);
    appendHead(out, options, texts);

    const int count = static_cast<int>(fileNames.size());
    Rows rows { options, folder, tag, info, reader };
    for (const auto& [index, name] : FolderWalk(folder, fileNames)) {
        const int j = static_cast<int>(index);
        if (progress && !progress(j, count))
            return { ListResult::Status::Cancelled, {}, outPath };
        appendRow(out, rows, j, name);
        if (out.size() >= kWriteChunk) {
            if (!doc.write(out))
                return failed(outPath, doc.error());
            out.clear();
        }
    }
    appendTotals(out, count, rows, texts);

    if (progress && !progress(count, count))
        return { ListResult::Status::Cancelled, {}, outPath };
    if (!doc.write(out) || !doc.commit())
        return failed(outPath, doc.error());
    return { ListResult::Status::Success, {}, outPath };
}

} // namespace

int32_t readTrackWithVbmp3(const std::string& path, TrackTag& tag, StreamInfo& info)
{
    return vbmp3_getFileInfo(path.c_str(), &tag, &info);
}

std::string listDocumentPath(const std::string& folder, const std::string& outFile)
{
    return joinPath(folder, trim(outFile));
}

std::optional<std::string> checkOutputName(std::string_view outFile, const FormatSet& formats)
{
    const std::string name(trim(outFile));
    if (name.empty())
        return "no output file name";
    if (name == "." || name == "..")
        return "\"" + name + "\" names a folder, not a file";
    // FAT and exFAT drop trailing dots when they look a name up (Windows
    // trailing spaces too), so on a USB stick "song.mp3." is "song.mp3": the
    // name is judged as those file systems will take it.
    const std::string_view judged = std::string_view(name).substr(0, name.find_last_not_of(". ") + 1);
    if (judged.empty())
        return "\"" + name + "\" is no name once its trailing dots are dropped, as some file systems do";
    // A backslash is no separator here, but a name from an INI file copied
    // from Windows that holds one meant a path there.
    if (name.find_first_of("/\\") != std::string::npos)
        return "the output file name must be a name in the folder, without \"/\" or \"\\\"";
    if (std::any_of(name.begin(), name.end(), [](char c) { return isControl(c); }))
        return std::string("the output file name cannot hold control characters");
    if (hasMp3Extension(judged) || formats.lists(judged))
        return "the output file name cannot end in \"" + std::string(audioExtensionOf(judged))
            + "\": the list would take a track's place";
    return std::nullopt;
}

std::string escapeHtml(std::string_view text, HtmlText kind)
{
    const bool keepAmpersands = kind == HtmlText::TagField;
    const auto& table = escapedBytes(kind);
    const auto special = [&table](char c) { return table[static_cast<unsigned char>(c)]; };
    // Most texts hold nothing to escape; a page has tens of thousands of them.
    const auto first = std::find_if(text.begin(), text.end(), special);
    if (first == text.end())
        return std::string(text);
    std::string out;
    out.reserve(text.size() + 16);
    out.append(text.begin(), first);
    std::size_t done = static_cast<std::size_t>(first - text.begin());
    for (std::size_t pos = done; pos < text.size(); ++pos) {
        const char c = text[pos];
        if (!special(c))
            continue;
        const std::size_t hidden = displayControlAt(text, pos, kind);
        if (hidden == 0 && (c == '\xC2' || c == '\xE2'))
            continue; // any other character these bytes begin
        out.append(text.substr(done, pos - done));
        if (hidden > 0) {
            // No picture exists for these, and as themselves they would
            // hide or reverse what the row shows.
            out += "&#65533;";
            done = pos + hidden;
            pos = done - 1;
            continue;
        }
        done = pos + 1;
        appendEscaped(out, c, keepAmpersands);
    }
    out.append(text.substr(done));
    return out;
}

ListResult writeListDocument(const OptionSet& options, const std::string& folder,
    const std::vector<std::string>& fileNames, TrackTag& tag, StreamInfo& info, const TrackReader& reader,
    const ListProgress& progress)
{
    // Nothing may escape into a window's slot or the command line's main;
    // the temporary file is gone by the time we get here.
    try {
        return write(options, folder, fileNames, tag, info, reader, progress);
    } catch (const std::exception& e) {
        return failed(listDocumentPath(folder, options.outFile), e.what());
    }
}

} // namespace melodex
