#include "common/atomic_file.h"

#include "common/trusted_path.h"

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace melodex {
namespace {

constexpr std::size_t kSuffixLength = 6;
constexpr std::size_t kRandomLength = 4; // and a check of two
constexpr std::string_view kSuffixChars = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

// The last two of the six characters, a check on the first four, so that a
// leftover whose contents nothing marks is still known as ours: a user's
// ".melodex.ini.backup" passes it by a chance of 1 in 3,844.
std::string suffixCheck(std::string_view random)
{
    uint32_t h = 2166136261u; // FNV-1a
    for (char c : random)
        h = (h ^ static_cast<unsigned char>(c)) * 16777619u;
    const std::size_t n = kSuffixChars.size();
    return { kSuffixChars[h % n], kSuffixChars[h / n % n] };
}

// The same six characters mkstemp would pick, so that the leftovers of
// earlier versions, which used mkstemp, match the same pattern.
std::string randomSuffix()
{
    thread_local std::minstd_rand engine { std::random_device {}() ^ static_cast<unsigned>(::getpid()) };
    std::uniform_int_distribution<std::size_t> pick(0, kSuffixChars.size() - 1);
    std::string s(kRandomLength, ' ');
    for (char& c : s)
        c = kSuffixChars[pick(engine)];
    return s + suffixCheck(s);
}

// ".<name>.XXXXXX", with the name cut where the whole would be too long
// for the file system. The cut falls between UTF-8 characters: exFAT and
// FAT store names as UTF-16 and refuse half a character.
std::string temporaryPrefix(const std::string& name)
{
    constexpr std::size_t kNameMax = 255;
    std::size_t keep = std::min(name.size(), kNameMax - kSuffixLength - 2);
    const auto continuation
        = [&](std::size_t i) { return (static_cast<unsigned char>(name[i]) & 0xC0) == 0x80; };
    for (std::size_t back = 0; keep < name.size() && back < 3 && keep > 0 && continuation(keep); ++back)
        --keep;
    return "." + name.substr(0, keep) + ".";
}

bool isTemporaryName(std::string_view entry, std::string_view prefix)
{
    if (entry.size() != prefix.size() + kSuffixLength || !entry.starts_with(prefix))
        return false;
    for (char c : entry.substr(prefix.size())) {
        if (kSuffixChars.find(c) == std::string_view::npos)
            return false;
    }
    return true;
}

bool unnamedFilesLinkable()
{
    // Linking an unnamed file into place goes through /proc/self/fd unless
    // the process may use AT_EMPTY_PATH; without /proc we name it from the start.
    return ::access("/proc/self/fd", X_OK) == 0;
}

struct DirCloser {
    void operator()(DIR* d) const { ::closedir(d); }
};

} // namespace

AtomicFile::AtomicFile(std::string target, Options options)
    : target_(std::move(target))
    , options_(std::move(options))
{
}

AtomicFile::~AtomicFile()
{
    // Unlinked before it is closed: while the name exists the lock on the
    // open file tells the next run's cleanup that we are still here.
    if (!tempName_.empty() && dirFd_ >= 0)
        ::unlinkat(dirFd_, tempName_.c_str(), 0);
    if (fd_ >= 0)
        ::close(fd_);
    if (dirFd_ >= 0)
        ::close(dirFd_);
}

bool AtomicFile::fail(std::string reason)
{
    reason_ = std::move(reason);
    return false;
}

bool AtomicFile::failErrno(int err) { return fail(std::strerror(err)); }

bool AtomicFile::resolveTarget()
{
    std::string why;
    auto entry = resolveTrusted(target_, why);
    if (!entry)
        return fail(std::move(why));
    dir_ = std::move(entry->folderPath);
    name_ = std::move(entry->name);
    struct stat st { };
    if (::fstatat(entry->folder.get(), name_.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno != ENOENT)
            return failErrno(errno);
        existing_ = false; // a new file, or a link to one yet to be made
    } else if (S_ISDIR(st.st_mode)) {
        return failErrno(EISDIR);
    } else if (!S_ISREG(st.st_mode)) {
        return fail("not a regular file");
    } else {
        existing_ = true;
        existingMode_ = st.st_mode & 07777;
        existingUid_ = st.st_uid;
        existingGid_ = st.st_gid;
    }
    // Read access for the cleanup's listing and a descriptor fsync takes.
    dirFd_ = ::openat(entry->folder.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    return dirFd_ >= 0 || failErrno(errno);
}

void AtomicFile::removeStaleTemporaries()
{
    const int listFd = ::openat(dirFd_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listFd < 0)
        return;
    const std::unique_ptr<DIR, DirCloser> dir(::fdopendir(listFd));
    if (!dir) {
        ::close(listFd);
        return;
    }
    const std::string prefix = temporaryPrefix(name_);
    const std::string& signature = options_.staleSignature;
    while (const dirent* entry = ::readdir(dir.get())) {
        if (!isTemporaryName(entry->d_name, prefix))
            continue;
        const int fd = ::openat(dirFd_, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat st { };
        // Ours only when no live writer holds its lock (a killed one holds
        // none) and it holds what our temporaries hold, or its name says so.
        bool stale = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid()
            && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
        const std::string_view suffix = std::string_view(entry->d_name).substr(prefix.size());
        const bool named = options_.leftoversByName
            && suffix.substr(kRandomLength) == suffixCheck(suffix.substr(0, kRandomLength));
        if (stale && st.st_size != 0 && !named) {
            std::string head(signature.size(), '\0');
            stale = !signature.empty()
                && ::pread(fd, head.data(), head.size(), 0) == static_cast<ssize_t>(head.size())
                && head == signature;
        }
        struct stat now { };
        if (stale && ::fstatat(dirFd_, entry->d_name, &now, AT_SYMLINK_NOFOLLOW) == 0
            && now.st_ino == st.st_ino && now.st_dev == st.st_dev)
            ::unlinkat(dirFd_, entry->d_name, 0);
        ::close(fd);
    }
}

bool AtomicFile::createTemporary()
{
    // A new file gets 0666 less the umask from the kernel itself; reading the
    // umask would mean setting it, for every thread at once.
    const mode_t createMode = existing_ ? 0600 : 0666;

    if (options_.unnamed && unnamedFilesLinkable()) {
        fd_ = ::openat(dirFd_, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, createMode);
        isUnnamed_ = fd_ >= 0;
        // Any failure falls through: where the file system lacks unnamed
        // files the named way works, and where the folder cannot be written
        // it fails with the reason the user should see.
    }
    while (fd_ < 0) {
        tempName_ = temporaryPrefix(name_) + randomSuffix();
        fd_ = ::openat(
            dirFd_, tempName_.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC | O_NOFOLLOW, createMode);
        if (fd_ >= 0) {
            ::flock(fd_, LOCK_EX);
            // Another run's cleanup may have taken the empty, not yet locked
            // file between the two calls.
            struct stat mine {
            }, named {};
            if (::fstat(fd_, &mine) == 0
                && ::fstatat(dirFd_, tempName_.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0
                && mine.st_ino == named.st_ino && mine.st_dev == named.st_dev)
                break;
            ::close(fd_);
            fd_ = -1;
            continue;
        }
        const int err = errno;
        tempName_.clear();
        // A writable file in a folder that is not: the new file is made in
        // the folder, and "Permission denied" alone would point at the file.
        if (err == EACCES || err == EPERM)
            return fail("the folder " + (dir_.empty() ? std::string(".") : dir_)
                + " refuses the write: " + std::strerror(err));
        if (err != EEXIST)
            return failErrno(err);
    }
    if (isUnnamed_)
        ::flock(fd_, LOCK_EX); // for the moment it has a name, in commit()

    // Permissions are kept where the file system can hold them; one that
    // cannot (FAT) refusing them is no reason to fail.
    if (existing_ && (existingUid_ != ::geteuid() || existingGid_ != ::getegid())) {
        // root replacing a user's file leaves it the user's
        [[maybe_unused]] const int refused = ::fchown(fd_, existingUid_, existingGid_);
    }
    if (existing_)
        ::fchmod(fd_, existingMode_);
    return true;
}

bool AtomicFile::open()
{
    if (!resolveTarget())
        return false;
    if (existing_) {
        // Renaming over a file needs only the folder's permission, so a
        // read-only file would be replaced, by root even more so. Root passes
        // every access() check: the mode bits decide.
        const bool writable = ::geteuid() == 0 ? (existingMode_ & 0222) != 0
                                               : ::faccessat(dirFd_, name_.c_str(), W_OK, AT_EACCESS) == 0;
        if (!writable) {
            if (::geteuid() != 0 && errno != EACCES)
                return failErrno(errno);
            return (existingMode_ & 0222) == 0 ? fail("the file is read-only") : failErrno(EACCES);
        }
    }
    removeStaleTemporaries();
    return createTemporary();
}

bool AtomicFile::write(std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return failErrno(errno);
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool AtomicFile::linkUnnamed()
{
    const std::string procPath = "/proc/self/fd/" + std::to_string(fd_);
    for (;;) {
        tempName_ = temporaryPrefix(name_) + randomSuffix();
        int r = ::linkat(fd_, "", dirFd_, tempName_.c_str(), AT_EMPTY_PATH);
        if (r != 0 && (errno == ENOENT || errno == EPERM)) // AT_EMPTY_PATH needs a capability
            r = ::linkat(AT_FDCWD, procPath.c_str(), dirFd_, tempName_.c_str(), AT_SYMLINK_FOLLOW);
        if (r == 0)
            return true;
        const int err = errno;
        tempName_.clear();
        if (err != EEXIST)
            return failErrno(err);
    }
}

bool AtomicFile::commit()
{
    if (fd_ < 0)
        return failErrno(EBADF);
    if (::fsync(fd_) != 0)
        return failErrno(errno);
    // An unnamed file cannot replace one that exists; it gets a temporary
    // name for the moment of the rename.
    if (isUnnamed_ && !linkUnnamed())
        return false;
    if (::renameat(dirFd_, tempName_.c_str(), dirFd_, name_.c_str()) != 0)
        return failErrno(errno);
    tempName_.clear();
    ::close(fd_);
    fd_ = -1;
    // The rename itself must reach the disk, or a power cut may bring back
    // the old file, or none. Some file systems cannot sync a folder at all.
    if (::fsync(dirFd_) != 0 && errno != EINVAL && errno != EOPNOTSUPP)
        return failErrno(errno);
    return true;
}

bool replaceFileAtomically(
    const std::string& target, std::string_view bytes, std::string* error, AtomicFile::Options options)
{
    AtomicFile file(target, std::move(options));
    if (file.open() && file.write(bytes) && file.commit())
        return true;
    if (error)
        *error = file.reason();
    return false;
}

} // namespace melodex
