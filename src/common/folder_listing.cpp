#include "common/folder_listing.h"

#include "common/text_rules.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace melodex {
namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

struct DirCloser {
    void operator()(DIR* d) const { closedir(d); }
};

// The natural order as a byte string that memcmp orders: naturalLess compares
// two keys, and a folder of many names is sorted with one key per name
// instead of a character walk per comparison. A letter stands as its lower
// case; a digit run as "0" (every digit orders alike against a non-digit),
// its length without leading zeros and those digits. Equal keys fall back to
// the names' bytes.
std::string naturalKey(std::string_view name)
{
    std::string key;
    key.reserve(name.size() + 4);
    for (std::size_t i = 0; i < name.size();) {
        if (!isDigit(name[i])) {
            key += asciiLower(name[i]);
            ++i;
            continue;
        }
        std::size_t end = i;
        while (end < name.size() && isDigit(name[end]))
            ++end;
        std::size_t first = i;
        while (first < end && name[first] == '0')
            ++first;
        // The run's length in four bytes, most significant first: a longer
        // number orders after a shorter one whatever its digits.
        const auto length = static_cast<uint32_t>(end - first);
        const char run[5] = { '0', static_cast<char>(length >> 24), static_cast<char>(length >> 16 & 0xFF),
            static_cast<char>(length >> 8 & 0xFF), static_cast<char>(length & 0xFF) };
        key.append(run, sizeof run);
        key.append(name.substr(first, end - first));
        i = end;
    }
    return key;
}

} // namespace

bool hasMp3Extension(std::string_view name)
{
    if (name.size() < 4)
        return false;
    const std::string_view ext = name.substr(name.size() - 4);
    return ext[0] == '.' && asciiLower(ext[1]) == 'm' && asciiLower(ext[2]) == 'p' && ext[3] == '3';
}

bool naturalLess(std::string_view a, std::string_view b)
{
    const int c = naturalKey(a).compare(naturalKey(b));
    return c != 0 ? c < 0 : a < b;
}

void sortNaturally(std::vector<std::string>& names)
{
    struct Entry {
        std::string key;
        std::string name;
    };
    std::vector<Entry> entries;
    entries.reserve(names.size());
    for (std::string& name : names) {
        std::string key = naturalKey(name);
        entries.push_back({ std::move(key), std::move(name) });
    }
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        const int c = a.key.compare(b.key);
        return c != 0 ? c < 0 : a.name < b.name;
    });
    for (std::size_t i = 0; i < names.size(); ++i)
        names[i] = std::move(entries[i].name);
}

std::string joinPath(std::string_view folder, std::string_view name)
{
    std::string path(folder);
    if (path.empty() || path.back() != '/')
        path += '/';
    path += name;
    return path;
}

namespace {

// One read of the folder: the names that pass `keep`, in natural order. The
// entry type from readdir spares a stat per entry; only links and file systems
// that do not report types pay for one.
template <typename Keep>
FolderListing listEntries(const std::string& folder, mode_t type, bool followLinks, Keep keep)
{
    FolderListing result;
    const std::string dirPath = folder.empty() ? std::string("/") : folder;
    std::unique_ptr<DIR, DirCloser> dir(opendir(dirPath.c_str()));
    if (!dir) {
        result.error = dirPath + ": " + std::strerror(errno);
        return result;
    }
    const int dfd = dirfd(dir.get());
    const unsigned char direntType = type == S_IFDIR ? DT_DIR : DT_REG;
    errno = 0;
    while (const dirent* entry = readdir(dir.get())) {
        const std::string_view name(entry->d_name);
        if (name.empty() || name.front() == '.' || !keep(name))
            continue;
        bool wanted = entry->d_type == direntType;
        if ((entry->d_type == DT_LNK && followLinks) || entry->d_type == DT_UNKNOWN) {
            struct stat st { };
            wanted = fstatat(dfd, entry->d_name, &st, followLinks ? 0 : AT_SYMLINK_NOFOLLOW) == 0
                && (st.st_mode & S_IFMT) == type;
        }
        if (wanted)
            result.names.emplace_back(name);
        errno = 0;
    }
    if (errno != 0) {
        result.error = dirPath + ": " + std::strerror(errno);
        result.names.clear();
        return result;
    }
    sortNaturally(result.names);
    result.ok = true;
    return result;
}

} // namespace

FolderListing listMp3Files(const std::string& folder)
{
    return listEntries(folder, S_IFREG, true, hasMp3Extension);
}

FolderListing listAudioFiles(const std::string& folder, const FormatSet& formats)
{
    if (formats.isMp3Only())
        return listMp3Files(folder);
    return listEntries(
        folder, S_IFREG, true, [&formats](std::string_view name) { return formats.lists(name); });
}

FolderListing listSubfolders(const std::string& folder)
{
    return listEntries(folder, S_IFDIR, true, [](std::string_view) { return true; });
}

FolderListing foldersBelow(const std::string& root)
{
    FolderListing result;
    result.ok = true;
    result.names.push_back(root);
    for (std::size_t next = 0; next < result.names.size(); ++next) {
        const std::string folder = result.names[next];
        FolderListing below = listEntries(folder, S_IFDIR, false, [](std::string_view) { return true; });
        if (!below.ok && next == 0) {
            result.ok = false;
            result.error = below.error;
        }
        for (const std::string& name : below.names)
            result.names.push_back(joinPath(folder, name));
    }
    std::vector<std::string> below(
        std::make_move_iterator(result.names.begin() + 1), std::make_move_iterator(result.names.end()));
    sortNaturally(below);
    std::move(below.begin(), below.end(), result.names.begin() + 1);
    return result;
}

} // namespace melodex
