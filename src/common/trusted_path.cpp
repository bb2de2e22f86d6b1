#include "common/trusted_path.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <string_view>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace melodex {
namespace {

constexpr int kMaxLinkHops = 40; // as the kernel allows

struct Folder {
    UniqueFd fd;
    std::string path;
};

struct Walk {
    uid_t caller = ::geteuid();
    int hops = 0;
    std::string reason;

    std::nullopt_t fail(std::string why)
    {
        reason = std::move(why);
        return std::nullopt;
    }
    std::nullopt_t failErrno(int err) { return fail(std::strerror(err)); }
};

std::string joined(const std::string& folder, std::string_view name)
{
    if (folder.empty())
        return std::string(name);
    return folder.back() == '/' ? folder + std::string(name) : folder + "/" + std::string(name);
}

std::optional<Folder> start(bool absolute, Walk& w)
{
    UniqueFd fd(::open(absolute ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!fd)
        return w.failErrno(errno);
    return Folder { std::move(fd), absolute ? "/" : "" };
}

// The kernel's rule for sticky, world-writable folders (fs.protected_symlinks).
bool sharedFolderAllows(int folder, const struct stat& link, uid_t caller)
{
    struct stat dir { };
    if (::fstat(folder, &dir) != 0)
        return false;
    const bool shared = (dir.st_mode & S_ISVTX) && (dir.st_mode & S_IWOTH);
    return !shared || link.st_uid == caller || link.st_uid == dir.st_uid;
}

std::optional<PathEntry> followEntry(Folder at, std::string name, Walk& w);

// The folder path names, from `from` (or from "/" when it is absolute).
std::optional<Folder> walkFolder(Folder from, std::string_view path, Walk& w)
{
    std::optional<Folder> here;
    if (path.starts_with('/'))
        here = start(true, w);
    else
        here = std::move(from);
    while (here && !path.empty()) {
        const std::size_t slash = path.find('/');
        const std::string_view part = path.substr(0, slash);
        path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
        if (part.empty() || part == ".")
            continue;
        auto entry = followEntry(std::move(*here), std::string(part), w);
        if (!entry)
            return std::nullopt;
        UniqueFd fd(::openat(
            entry->folder.get(), entry->name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!fd)
            return w.failErrno(errno);
        here = Folder { std::move(fd), joined(entry->folderPath, entry->name) };
    }
    return here;
}

// Who owns what entry stands for: the entry, or for one that does not exist
// yet the folder it would be made in.
std::optional<uid_t> ownerOf(const PathEntry& entry, Walk& w)
{
    struct stat st { };
    if (::fstatat(entry.folder.get(), entry.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
        return st.st_uid;
    if (errno == ENOENT && ::fstat(entry.folder.get(), &st) == 0)
        return st.st_uid;
    return w.failErrno(errno);
}

std::optional<PathEntry> followLink(Folder at, const std::string& name, const struct stat& link, Walk& w)
{
    const std::string linkPath = joined(at.path, name);
    if (++w.hops > kMaxLinkHops)
        return w.failErrno(ELOOP);
    if (!sharedFolderAllows(at.fd.get(), link, w.caller))
        return w.fail(
            "the link " + linkPath + " was placed by another user in a shared folder and is not followed");
    std::array<char, 4096> buf {};
    const ssize_t n = ::readlinkat(at.fd.get(), name.c_str(), buf.data(), buf.size());
    if (n < 0 || static_cast<std::size_t>(n) == buf.size())
        return w.failErrno(n < 0 ? errno : ENAMETOOLONG);
    const std::string_view text(buf.data(), static_cast<std::size_t>(n));
    const std::size_t slash = text.rfind('/');
    const std::string_view folderPart
        = slash == std::string_view::npos ? std::string_view() : text.substr(0, slash + 1);
    const std::string_view last = slash == std::string_view::npos ? text : text.substr(slash + 1);
    auto folder = walkFolder(std::move(at), folderPart, w);
    if (!folder)
        return std::nullopt;
    auto target = followEntry(std::move(*folder), std::string(last), w);
    // Root could write the target itself, so its links plant nothing; a
    // user's folder may hold one an administrator made for them.
    if (!target || link.st_uid == w.caller || link.st_uid == 0)
        return target;
    const auto owner = ownerOf(*target, w);
    if (!owner)
        return std::nullopt;
    if (*owner != link.st_uid)
        return w.fail("the link " + linkPath + " is another user's and leads to "
            + joined(target->folderPath, target->name) + ", which is not theirs: it is not followed");
    return target;
}

// The entry name stands for in folder at, through any links.
std::optional<PathEntry> followEntry(Folder at, std::string name, Walk& w)
{
    if (name.empty())
        name = "."; // "folder/" or a link to "folder/"
    struct stat st { };
    if (name == "." || name == "..")
        return PathEntry { std::move(at.fd), std::move(at.path), std::move(name) };
    if (::fstatat(at.fd.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno != ENOENT)
            return w.failErrno(errno);
        return PathEntry { std::move(at.fd), std::move(at.path), std::move(name) };
    }
    if (!S_ISLNK(st.st_mode))
        return PathEntry { std::move(at.fd), std::move(at.path), std::move(name) };
    return followLink(std::move(at), name, st, w);
}

} // namespace

std::optional<PathEntry> resolveTrusted(const std::string& path, std::string& reason)
{
    Walk w;
    std::optional<PathEntry> entry;
    if (path.empty()) {
        w.failErrno(ENOENT);
    } else {
        const std::size_t slash = path.rfind('/');
        const std::string_view folderPart
            = slash == std::string::npos ? std::string_view() : std::string_view(path).substr(0, slash + 1);
        if (auto from = start(path.starts_with('/'), w))
            if (auto folder = walkFolder(std::move(*from), folderPart, w))
                entry = followEntry(std::move(*folder), path.substr(slash + 1), w);
    }
    if (!entry)
        reason = w.reason;
    return entry;
}

} // namespace melodex
