#pragma once
// Folder paths as the window and the command line hold them. Paths are bytes
// as the file system holds them.

#include <string>
#include <string_view>
#include <vector>

namespace melodex {

// An absolute folder path without "." or ".." parts, without a trailing "/"
// (the root stays "/"); a relative path is taken from the current folder.
std::string normalFolderPath(const std::string& path);

// "/", "/a", "/a/b" for "/a/b".
std::vector<std::string> folderChain(const std::string& folder);

// The last part of a folder path ("/" for the root).
std::string folderName(const std::string& folder);

// The listed folder as FolderPath holds it: no trailing "/", and the root as
// "", so that the folder, "/" and a file name address the file in any folder.
std::string listedFolder(std::string_view folder);

// A listed folder as a person reads it: "" (the root) as "/".
std::string shownFolder(std::string_view folder);

} // namespace melodex
