#include "common/mount_table.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <set>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/folder_listing.h"

namespace melodex {
namespace {

// File systems that hold no user files: kernel interfaces, memory-backed
// scratch space, container plumbing and packaged read-only images.
const std::set<std::string, std::less<>> kPseudoTypes = {
    "autofs",
    "binfmt_misc",
    "bpf",
    "cgroup",
    "cgroup2",
    "configfs",
    "debugfs",
    "devpts",
    "devtmpfs",
    "efivarfs",
    "fuse.gvfsd-fuse",
    "fuse.portal",
    "fusectl",
    "hugetlbfs",
    "mqueue",
    "nsfs",
    "proc",
    "pstore",
    "ramfs",
    "rpc_pipefs",
    "securityfs",
    "selinuxfs",
    "squashfs",
    "sysfs",
    "tmpfs",
    "tracefs",
};

bool isUnder(std::string_view path, std::string_view folder)
{
    return path == folder
        || (path.size() > folder.size() && path.substr(0, folder.size()) == folder
            && path[folder.size()] == '/');
}

// mountinfo writes space, tab, newline and backslash in paths as \ooo.
std::string unescapeOctal(std::string_view s)
{
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size()) {
            const std::string_view digits = s.substr(i + 1, 3);
            if (std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '7'; })) {
                out += static_cast<char>(
                    ((digits[0] - '0') << 6) | ((digits[1] - '0') << 3) | (digits[2] - '0'));
                i += 3;
                continue;
            }
        }
        out += s[i];
    }
    return out;
}

// udev writes unsafe characters of a label link's name as \xHH.
std::string unescapeHex(std::string_view s)
{
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] == 'x'
            && std::isxdigit(static_cast<unsigned char>(s[i + 2]))
            && std::isxdigit(static_cast<unsigned char>(s[i + 3]))) {
            out += static_cast<char>(std::stoi(std::string(s.substr(i + 2, 2)), nullptr, 16));
            i += 3;
            continue;
        }
        out += s[i];
    }
    return out;
}

std::vector<std::string_view> splitFields(std::string_view line)
{
    std::vector<std::string_view> fields;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && line[i] == ' ')
            ++i;
        const std::size_t start = i;
        while (i < line.size() && line[i] != ' ')
            ++i;
        if (i > start)
            fields.push_back(line.substr(start, i - start));
    }
    return fields;
}

struct MountLine {
    std::string path;
    std::string source;
};

std::vector<MountLine> parseLines(std::string_view text)
{
    std::vector<MountLine> lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos)
            end = text.size();
        const auto fields = splitFields(text.substr(pos, end - pos));
        pos = end + 1;
        // id parent major:minor root mountpoint options [optional...] - type source superoptions
        const auto dash = std::find(fields.begin(), fields.end(), std::string_view("-"));
        if (fields.size() < 5 || dash == fields.end() || std::distance(dash, fields.end()) < 3)
            continue;
        const std::string_view type = *(dash + 1);
        const std::string path = unescapeOctal(fields[4]);
        if (path.empty() || path.front() != '/' || kPseudoTypes.count(type) != 0)
            continue;
        if (isUnder(path, "/proc") || isUnder(path, "/sys") || isUnder(path, "/dev")
            || (isUnder(path, "/run") && !isUnder(path, "/run/media")))
            continue;
        lines.push_back({ path, unescapeOctal(*(dash + 2)) });
    }
    return lines;
}

std::vector<MountedVolume> orderVolumes(
    const std::vector<MountLine>& lines, const std::map<std::string, std::string>& labelOf)
{
    std::map<std::string, std::string> byPath; // a later mount on the same path hides the earlier
    for (const auto& line : lines) {
        auto it = labelOf.find(line.source);
        byPath[line.path] = it == labelOf.end() ? std::string() : it->second;
    }
    std::vector<MountedVolume> volumes;
    volumes.push_back({ "/", byPath.count("/") ? byPath["/"] : std::string() });
    std::vector<MountedVolume> others;
    for (const auto& [path, label] : byPath)
        if (path != "/")
            others.push_back({ path, label });
    std::sort(others.begin(), others.end(),
        [](const MountedVolume& a, const MountedVolume& b) { return naturalLess(a.path, b.path); });
    volumes.insert(volumes.end(), others.begin(), others.end());
    return volumes;
}

std::string realPath(const std::string& path)
{
    std::unique_ptr<char, decltype(&std::free)> resolved(realpath(path.c_str(), nullptr), &std::free);
    return resolved ? std::string(resolved.get()) : path;
}

} // namespace

std::vector<MountedVolume> parseMountInfo(std::string_view mountinfo)
{
    return orderVolumes(parseLines(mountinfo), {});
}

std::vector<MountedVolume> mountedVolumes()
{
    std::ifstream in("/proc/self/mountinfo", std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), {});
    auto lines = parseLines(text);

    // A bind mount of a single file (containers do this for /etc/hosts) is
    // not a place to browse.
    std::erase_if(lines, [](const MountLine& line) {
        struct stat st { };
        return line.path != "/" && (stat(line.path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode));
    });

    std::map<std::string, std::string> labelOf;
    std::error_code ec;
    for (std::filesystem::directory_iterator it("/dev/disk/by-label", ec), end; !ec && it != end;
         it.increment(ec))
        labelOf[realPath(it->path().native())] = unescapeHex(it->path().filename().native());
    for (auto& line : lines)
        if (!line.source.empty() && line.source.front() == '/')
            line.source = realPath(line.source);
    return orderVolumes(lines, labelOf);
}

} // namespace melodex
