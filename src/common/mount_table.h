#pragma once
// What the drive list shows on a system without drive letters: the mounted
// file systems a user keeps files on. Paths are bytes as the file system
// holds them.

#include <string>
#include <string_view>
#include <vector>

namespace melodex {

struct MountedVolume {
    std::string path; // the mount point
    std::string label; // the file system's label, empty when it has none
};

// The real file systems of a /proc/self/mountinfo text: "/" first, then the
// others by path; kernel interfaces (proc, sysfs, tmpfs, cgroup ...) left out.
// A path mounted twice appears once. Labels are not looked up here.
std::vector<MountedVolume> parseMountInfo(std::string_view mountinfo);

// The mounted volumes of this system with their labels; "/" at least.
std::vector<MountedVolume> mountedVolumes();

} // namespace melodex
