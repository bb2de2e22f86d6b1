#include "listgen/playlist.h"

#include <exception>

#include "common/folder_listing.h"
#include "common/sjis.h"
#include "common/text_rules.h"
#include "listgen/export_file.h"
#include "listgen/list_document.h"
#include "trackinfo/read_ahead.h"

namespace melodex {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// Players read the text up to the line end, so nothing in it may end the
// line or hide what follows; a stray byte becomes one replacement as well.
std::string cleanText(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto b = static_cast<unsigned char>(text[i]);
        if (b < 0x20 || b == 0x7F) {
            out += kReplacement;
            ++i;
            continue;
        }
        if (const std::size_t hidden = displayControlLength(text, i); hidden > 0) {
            out += kReplacement;
            i += hidden;
            continue;
        }
        const std::size_t n = sjis::utf8SequenceLength(text, i);
        if (n == 0) {
            out += kReplacement;
            ++i;
            continue;
        }
        out.append(text.substr(i, n));
        i += n;
    }
    return out;
}

std::string_view withoutExtension(std::string_view name)
{
    const std::size_t dot = name.rfind('.');
    return dot == 0 || dot == std::string_view::npos ? name : name.substr(0, dot);
}

// The path of `folder`/`name` as seen from `top`.
std::string relativePath(const std::string& top, const std::string& folder, const std::string& name)
{
    const std::string full = joinPath(folder, name);
    const std::string prefix = joinPath(top, "");
    return full.compare(0, prefix.size(), prefix) == 0 ? full.substr(prefix.size()) : full;
}

struct Collected {
    std::string text { kPlaylistStart };
    int entries = 0;
    bool cancelled = false;
};

void addFolder(const PlaylistRequest& request, const std::string& folder, Collected& c,
    std::vector<std::string>& leftOut)
{
    const FolderListing listing = listAudioFiles(folder, request.formats);
    if (!listing.ok) {
        leftOut.push_back("cannot read folder: " + listing.error);
        return;
    }
    for (const auto& [i, name] : FolderWalk(folder, listing.names)) {
        if (request.cancelled && request.cancelled()) {
            c.cancelled = true;
            return;
        }
        const std::string relative = relativePath(request.top, folder, name);
        const std::string target = pathLine(relative);
        if (target.empty()) {
            leftOut.push_back(
                joinPath(folder, name) + ": a name with a line break cannot stand in a playlist");
            continue;
        }
        c.text += extinfLine(request.reader(joinPath(folder, name)), name);
        c.text += target;
        ++c.entries;
    }
}

PlaylistResult write(const PlaylistRequest& request)
{
    PlaylistResult result;
    result.path = listDocumentPath(request.top, request.outFile);
    if (auto why = checkOutputName(request.outFile, request.formats)) {
        result.reason = *why;
        return result;
    }
    Collected c;
    for (const std::string& folder : request.folders) {
        addFolder(request, folder, c, result.leftOut);
        if (c.cancelled) {
            result.status = PlaylistResult::Status::Cancelled;
            return result;
        }
    }
    result.entries = c.entries;
    if (c.entries == 0) {
        result.status = PlaylistResult::Status::NoFiles;
        return result;
    }
    if (auto error = replaceExportFile(result.path, c.text, kPlaylistStart, request.formats)) {
        result.reason = *error;
        return result;
    }
    result.status = PlaylistResult::Status::Success;
    return result;
}

} // namespace

std::string extinfLine(const trackinfo::TrackDetails& details, std::string_view fileName)
{
    const std::string& artist = details.texts.artist;
    const std::string& title = details.texts.title;
    std::string text;
    if (!artist.empty() && !title.empty())
        text = artist + " - " + title;
    else if (!title.empty() || !artist.empty())
        text = title.empty() ? artist : title;
    else
        text = sjis::legacyToUtf8(withoutExtension(fileName));
    const int64_t seconds = details.readable ? details.seconds : -1;
    return "#EXTINF:" + std::to_string(seconds) + "," + cleanText(text) + "\n";
}

std::string pathLine(std::string_view relativePath)
{
    if (relativePath.find_first_of("\r\n") != std::string_view::npos)
        return {};
    // Players skip lines that begin with "#"; leading blanks some of them trim.
    const bool guarded = !relativePath.empty() && (relativePath[0] == '#' || relativePath[0] == ' ');
    return (guarded ? "./" : "") + std::string(relativePath) + "\n";
}

trackinfo::TrackDetails readDetailsOf(const std::string& path)
{
    return trackinfo::readTrackDetails(path.c_str());
}

PlaylistResult writePlaylist(const PlaylistRequest& request)
{
    try {
        return write(request);
    } catch (const std::exception& e) {
        PlaylistResult result;
        result.path = listDocumentPath(request.top, request.outFile);
        result.reason = e.what();
        return result;
    }
}

} // namespace melodex
