#pragma once
// An extended M3U8 playlist of the files a folder lists (and, for a tree, of
// the folders below it): UTF-8, "#EXTINF:seconds,Artist - Title" before each
// path, paths relative to the playlist so the folder can move as a whole.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "common/audio_format.h"
#include "trackinfo/track_details.h"

namespace melodex {

inline constexpr std::string_view kPlaylistStart = "#EXTM3U\n";

// The "#EXTINF" line of one file (with its line end). Unreadable files say
// -1, the format's "length unknown". The text is "Artist - Title", either
// alone when the other is missing, else the file name without its extension;
// control characters, display controls and bytes that are not UTF-8 become
// U+FFFD, as a line break there would end the entry early.
std::string extinfLine(const trackinfo::TrackDetails& details, std::string_view fileName);

// The line that names the file (with its line end): the path's bytes as they
// are, so that a name that is not UTF-8 still finds its file, and "./" before
// a path that would otherwise read as a comment or directive. Empty for a path
// no line can hold (one with a line break in it).
std::string pathLine(std::string_view relativePath);

using DetailsReader = std::function<trackinfo::TrackDetails(const std::string& path)>;
trackinfo::TrackDetails readDetailsOf(const std::string& path);

struct PlaylistRequest {
    std::string top; // where the playlist goes ("" for "/")
    std::vector<std::string> folders; // the listed folders, `top` or below it, in the order wanted
    std::string outFile = "playlist.m3u8";
    FormatSet formats = FormatSet::mp3Only();
    DetailsReader reader = readDetailsOf;
    std::function<bool()> cancelled; // looked at between files
};

struct PlaylistResult {
    enum class Status { Success, NoFiles, Failed, Cancelled };
    Status status = Status::Failed;
    std::string path; // the playlist's
    std::string reason; // for Failed
    int entries = 0;
    // Folders that could not be read and files no line could name: the
    // playlist was written without them, and the user is told.
    std::vector<std::string> leftOut;
};

// Reads every listed file of the folders and replaces the playlist in one
// step; nothing is written when no folder lists a file.
PlaylistResult writePlaylist(const PlaylistRequest& request);

} // namespace melodex
