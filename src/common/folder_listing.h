#pragma once
// The folder's MP3 files as the window's file list and the command line show
// them: one rule for both, so the page's rows follow what the user saw.

#include "common/audio_format.h"

#include <string>
#include <string_view>
#include <vector>

namespace melodex {

struct FolderListing {
    bool ok = false;
    std::string error; // why the folder could not be read (path and the system's reason)
    std::vector<std::string> names; // file names as the file system holds them (bytes), in natural order
};

// Plain files (or links to them) whose name ends in ".mp3" in any letter case
// and does not start with "." (hidden), in natural order.
FolderListing listMp3Files(const std::string& folder);

// The same rule for every format of `formats` (FormatSet::lists).
FolderListing listAudioFiles(const std::string& folder, const FormatSet& formats);

// Folders (or links to them) whose name does not start with ".", in natural
// order: what the folder list offers below a folder.
FolderListing listSubfolders(const std::string& folder);

// `root` (a listed folder: "" for "/") and every folder below it, parents
// before children, the rest in natural order of their paths. Hidden folders
// and links to folders are passed over: the listing skips hidden files too,
// and a link could lead in a circle. A folder below that cannot be read is
// listed but not entered; when `root` cannot be read, ok is false and error
// says why, and the list holds `root` alone.
FolderListing foldersBelow(const std::string& root);

// True when the name ends in ".mp3", letter case ignored.
bool hasMp3Extension(std::string_view name);

// Natural order: letter case ignored, digit runs compared as numbers
// ("2 x.mp3" before "10 x.mp3"); names equal under that rule fall back to
// their bytes, so the order is total and stable.
bool naturalLess(std::string_view a, std::string_view b);

// Sorts names into natural order (the order naturalLess gives), faster than
// sorting with it.
void sortNaturally(std::vector<std::string>& names);

// The folder and a name joined by "/", without doubling a trailing "/".
std::string joinPath(std::string_view folder, std::string_view name);

} // namespace melodex
