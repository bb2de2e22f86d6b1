#include "listgen/list_document.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <filesystem>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/folder_listing.h"
#include "trackinfo/read_ahead.h"
#include "common/sjis.h"
#include "listgen/out1.h"

namespace melodex {
namespace {

constexpr std::string_view kEol = "\r\n";
constexpr std::size_t kTotalSizeWidth = 128;
constexpr std::string_view kFooter = "Created by Melodex";

std::string trimSpaces(std::string_view s)
{
    const auto first = s.find_first_not_of(' ');
    if (first == std::string_view::npos)
        return {};
    return std::string(s.substr(first, s.find_last_not_of(' ') - first + 1));
}

// Text typed by the user or taken from the file system, made safe for the
// page and encoded: escaping comes first, so every "&" ICU writes for a
// character CP932 lacks is a reference and every other one was escaped.
std::string userText(std::string_view utf8, HtmlText kind = HtmlText::Plain)
{
    return sjis::fromUtf8(escapeHtml(utf8, kind));
}

// File names are bytes. Names written by Japanese Windows tools arrive as
// CP932 and are shown as such; bytes that are neither UTF-8 nor CP932 show as
// replacement characters rather than as broken markup.
std::string fileNameText(std::string_view name)
{
    if (!sjis::isUtf8(name) && sjis::isValid(name))
        return escapeHtml(name);
    return userText(name);
}

std::string tagText(std::string_view cp932) { return escapeHtml(cp932, HtmlText::TagField); }

std::string systemError(const std::string& path, int err) { return path + ": " + std::strerror(err); }

// The temporary document: created beside the output so that the final rename
// stays inside one file system, removed unless committed.
class TempDocument {
public:
    explicit TempDocument(std::string target) : target_(std::move(target)) {}
    ~TempDocument()
    {
        if (fd_ >= 0)
            ::close(fd_);
        if (!tempPath_.empty())
            ::unlink(tempPath_.c_str());
    }
    TempDocument(const TempDocument&) = delete;
    TempDocument& operator=(const TempDocument&) = delete;

    bool open()
    {
        const std::filesystem::path target(target_);
        std::string pattern = (target.parent_path() / ("." + target.filename().string() + ".XXXXXX")).string();
        fd_ = ::mkstemp(pattern.data());
        if (fd_ < 0)
            return fail(errno);
        tempPath_ = pattern;
        // mkstemp makes the file private; the document should keep the
        // permissions the replaced one had, or get the usual ones.
        struct stat st {};
        mode_t mode;
        if (::stat(target_.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
            mode = st.st_mode & 07777;
        } else {
            const mode_t mask = ::umask(0);
            ::umask(mask);
            mode = 0666 & ~mask;
        }
        ::fchmod(fd_, mode);
        return true;
    }

    std::string& buffer() { return buffer_; }

    bool flushIfFull() { return buffer_.size() < (1u << 16) || flush(); }

    bool flush()
    {
        const char* p = buffer_.data();
        std::size_t left = buffer_.size();
        while (left > 0) {
            const ssize_t n = ::write(fd_, p, left);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                return fail(errno);
            }
            p += n;
            left -= static_cast<std::size_t>(n);
        }
        buffer_.clear();
        return true;
    }

    bool commit()
    {
        if (!flush())
            return false;
        if (::fsync(fd_) != 0)
            return fail(errno);
        const int fd = fd_;
        fd_ = -1;
        if (::close(fd) != 0)
            return fail(errno);
        if (::rename(tempPath_.c_str(), target_.c_str()) != 0)
            return fail(errno);
        tempPath_.clear();
        return true;
    }

    const std::string& error() const { return error_; }

private:
    bool fail(int err)
    {
        error_ = systemError(target_, err);
        return false;
    }

    std::string target_;
    std::string tempPath_;
    std::string buffer_;
    std::string error_;
    int fd_ = -1;
};

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

void cell(std::string& out, int field, const std::string& escapedFileName, const TrackTag& tag,
          const StreamInfo& info, int sizeUnit)
{
    switch (field) {
    case 0:
        line(out, "<TD NOWRAP ALIGN=\"left\">", escapedFileName, "</TD>");
        break;
    case 1:
        textCell(out, TrimNul(tag.TrackName), "left");
        break;
    case 2:
        textCell(out, TrimNul(tag.ArtistName), "left");
        break;
    case 3:
        textCell(out, TrimNul(tag.AlbumName), "left");
        break;
    case 4:
        textCell(out, TrimNul(tag.Year), "right");
        break;
    case 5:
        textCell(out, TrimNul(tag.Comment), "left");
        break;
    case 6:
        textCell(out, TrimNul(tag.GenreName), "left");
        break;
    case 7:
        line(out, "<TD NOWRAP ALIGN=\"right\">", trimSpaces(SizeText(info.FileBytes, sizeUnit)), "</TD>");
        break;
    case 8:
        line(out, "<TD NOWRAP ALIGN=\"right\">", SecToTime(info.TotalSeconds), "</TD>");
        break;
    case 9:
        line(out, "<TD NOWRAP ALIGN=\"right\">", plainDecimal(info.BitRate), " kbps</TD>");
        break;
    case 10:
        line(out, "<TD NOWRAP ALIGN=\"right\">", plainDecimal(info.SamplingRate), " Hz</TD>");
        break;
    default:
        break;
    }
}

ListResult failed(std::string path, std::string reason)
{
    return { ListResult::Status::Failed, std::move(reason), std::move(path) };
}

ListResult write(const OptionSet& options, const std::string& folder, const std::vector<std::string>& fileNames,
                 TrackTag& tag, StreamInfo& info, const TrackReader& reader, const ListProgress& progress)
{
    const std::string outPath = listDocumentPath(folder, options.outFile);
    if (trimSpaces(options.outFile).empty())
        return failed(outPath, "no output file name");
    const int n = options.enabledColumns;
    if (n < 1 || n > kColumnCount)
        return failed(outPath, "the number of columns must be 1 to 11, not " + std::to_string(n));
    for (int i = 0; i < n; ++i) {
        const int field = options.columns[static_cast<std::size_t>(i)];
        if (field < 0 || field > kFieldNone)
            return failed(outPath, "column " + std::to_string(i + 1) + " has no valid field");
    }

    const std::string title = userText(options.title);
    const std::string pageColor = userText(options.colorText[0]);
    const std::string tableColor = userText(options.colorText[1]);
    const std::string textColor = userText(options.colorText[2]);
    const std::string titleColor = userText(options.colorText[3]);
    const std::string border = userText(options.borderText, HtmlText::UnquotedAttribute);
    const std::string tableLine =
        "<TABLE BORDER=" + border + " CELLPADDING=2 CELLSPACING=1 BGCOLOR=\"" + tableColor + "\" >";

    TempDocument doc(outPath);
    if (!doc.open())
        return failed(outPath, doc.error());
    std::string& out = doc.buffer();

    line(out, "<HTML><HEAD><TITLE>", title, "</TITLE>");
    line(out, "<META HTTP-EQUIV=\"Content-Type\" content=\"text/html; charset=Shift_JIS\"></HEAD>");
    line(out, "<BODY BGCOLOR=\"", pageColor, "\" TEXT=\"", textColor, "\" ><P><P>");
    line(out, tableLine);
    line(out, "<CAPTION ALIGN=\"left\"><FONT COLOR=\"", titleColor, "\">", title, "</FONT></CAPTION><TR>");
    line(out, "<TH NOWRAP ALIGN=\"right\">#</TH>");
    for (int i = 0; i < n; ++i) {
        const int field = options.columns[static_cast<std::size_t>(i)];
        if (field != kFieldNone)
            line(out, "<TH NOWRAP>", sjis::fromUtf8(trimSpaces(kColumnFieldItems[static_cast<std::size_t>(field)])),
                 "</TH>");
    }
    line(out, "</TR>");

    const int count = static_cast<int>(fileNames.size());
    int64_t totalBytes = 0;
    int64_t totalSeconds = 0;
    ReadAhead ahead(folder, fileNames);
    for (int j = 0; j < count; ++j) {
        ahead.reached(static_cast<std::size_t>(j));
        if (progress && !progress(j, count))
            return { ListResult::Status::Cancelled, {}, outPath };
        const std::string& name = fileNames[static_cast<std::size_t>(j)];
        if (reader(joinPath(folder, name), tag, info) == 0) {
            // An unreadable file still gets its row and counts with its
            // size; whatever else a reader left in the records is not its own.
            const int32_t bytes = info.FileBytes;
            tag = TrackTag {};
            info = StreamInfo {};
            info.FileBytes = bytes;
        }
        totalSeconds += info.TotalSeconds;
        totalBytes += info.FileBytes;

        line(out, "<TR>");
        line(out, "<TD NOWRAP ALIGN=\"right\">", spacedDecimal(j + 1), "</TD>");
        const std::string shownName = fileNameText(name);
        for (int i = 0; i < n; ++i)
            cell(out, options.columns[static_cast<std::size_t>(i)], shownName, tag, info, options.sizeUnit);
        line(out, "</TR>");
        if (!doc.flushIfFull())
            return failed(outPath, doc.error());
    }

    std::string totalSize = TotalSizeText(totalBytes);
    if (totalSize.size() < kTotalSizeWidth)
        totalSize.append(kTotalSizeWidth - totalSize.size(), ' ');
    const std::string totalsCell = "</TD><TD NOWRAP WIDTH=100 ALIGN=\"center\">";
    line(out, "</TABLE><P><P><HR><P>");
    line(out, tableLine);
    line(out, "<TR><TD NOWRAP WIDTH=150>", sjis::fromUtf8("ファイル総数"), totalsCell, spacedDecimal(count), "</TD></TR>");
    line(out, "<TR><TD NOWRAP WIDTH=150>", sjis::fromUtf8("総ファイル容量"), totalsCell, totalSize, "</TD></TR>");
    line(out, "<TR><TD NOWRAP WIDTH=150>", sjis::fromUtf8("総演奏時間"), totalsCell, SecToTime(totalSeconds),
         "</TD></TR>");
    line(out, "</TABLE>");
    line(out, "<P><P><P><FONT COLOR=\"", titleColor, "\" >");
    line(out, kFooter);
    line(out, "</FONT></BODY></HTML>");

    if (progress && !progress(count, count))
        return { ListResult::Status::Cancelled, {}, outPath };
    if (!doc.commit())
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
    return joinPath(folder, trimSpaces(outFile));
}

std::string escapeHtml(std::string_view text, HtmlText kind)
{
    const bool keepAmpersands = kind == HtmlText::TagField;
    const bool unquoted = kind == HtmlText::UnquotedAttribute;
    const auto special = [unquoted](char c) {
        switch (c) {
        case '&':
        case '<':
        case '>':
        case '"':
            return true;
        case ' ':
        case '\t':
        case '\n':
        case '\f':
        case '\r':
            return unquoted;
        default:
            return false;
        }
    };
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
        out.append(text.substr(done, pos - done));
        done = pos + 1;
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
        default: // white space, in an unquoted attribute value only
            out += "&#" + std::to_string(static_cast<int>(c)) + ";";
            break;
        }
    }
    out.append(text.substr(done));
    return out;
}

ListResult writeListDocument(const OptionSet& options, const std::string& folder,
                             const std::vector<std::string>& fileNames, TrackTag& tag, StreamInfo& info,
                             const TrackReader& reader, const ListProgress& progress)
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
