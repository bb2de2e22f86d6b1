#pragma once
// A path walked one name at a time on descriptors, each link followed only
// where nobody can have planted it to make us write what is not theirs.
//
// A link is followed when the caller or root owns it, or when the link's
// owner also owns what it leads to (for a name that does not exist yet: the
// folder it would be made in). User A's "list.htm -> /etc/some.conf", or a
// folder of A's that leads into /etc/cron.d, is refused when root or user B
// writes there; A's link to A's own file is followed for anyone. In a sticky,
// world-writable folder (/tmp) the kernel's own rule holds as well: a link
// is followed only when it is the caller's or the folder owner's. The
// kernel applies that rule only to the links it follows itself, and we
// follow them here.
//
// What is found is held as an open folder and a name in it, so that the
// folder checked is the folder written: renaming another file into its
// place, or swapping a folder of the path for a link, changes nothing.

#include <optional>
#include <string>

#include "common/unique_fd.h"

namespace melodex {

struct PathEntry {
    UniqueFd folder; // opened with O_PATH: for the *at() calls
    std::string folderPath; // the folder as a person reads it, links followed
    std::string name; // the entry in it, never a link; it may not exist yet
};

// Where path leads. Nothing, and reason says why, when a link is refused, a
// folder on the way is missing or cannot be searched, or there are too many
// links.
std::optional<PathEntry> resolveTrusted(const std::string& path, std::string& reason);

} // namespace melodex
