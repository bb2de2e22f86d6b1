#pragma once
// The index page of a tree: one page in the top folder that links the List
// document of every folder below it that lists files, with each folder's
// number of files, size and playing time, and the totals of them all.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/option_set.h"
#include "listgen/list_document.h"

namespace melodex {

// What one folder's page counted: the rows it wrote and the totals under them.
struct FolderTotals {
    int files = 0;
    int64_t bytes = 0;
    int64_t seconds = 0;
};

// A reader that passes each file on to `reader` and adds what the List
// document will count for it to `totals`: an unreadable file with its size
// alone, as the page does.
TrackReader countingReader(TrackReader reader, FolderTotals& totals);

struct IndexedFolder {
    std::string folder; // as the run listed it: the top folder or one below it
    FolderTotals totals;
};

inline constexpr std::string_view kDefaultIndexName = "index.htm";

// Why `name` cannot be the index page's, or nothing: the output-name rules,
// and not the name of the lists themselves, which it would replace in the
// top folder.
std::optional<std::string> checkIndexName(std::string_view name, const OptionSet& options);

// The page itself: classic (Shift_JIS, CR LF, the list page's look) or
// modern (HTML5, UTF-8) as options.style says; links lead to each folder's
// options.outFile, relative to `top`.
std::string indexPage(
    const OptionSet& options, const std::string& top, const std::vector<IndexedFolder>& folders);

// Writes the page into `top` under `name`, replacing the previous one in one
// step. reason names the path when it could not.
ListResult writeIndexPage(const OptionSet& options, const std::string& top, const std::string& name,
    const std::vector<IndexedFolder>& folders);

} // namespace melodex
