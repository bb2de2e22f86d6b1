#include "trackinfo/read_ahead.h"

#include "common/folder_listing.h"
#include "trackinfo/read_sizes.h"

#include <algorithm>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

namespace melodex {
namespace {

constexpr off_t kHeadBytes = kPrefetchHeadBytes;
constexpr off_t kTailBytes = kPrefetchTailBytes;

// True when a byte is already in memory: a read that must not wait.
bool cached(int fd, off_t offset)
{
    char byte;
    iovec io { &byte, 1 };
    return ::preadv2(fd, &io, 1, offset, RWF_NOWAIT) == 1;
}

enum class Fetch { Asked, Cached, Skipped };

Fetch fetch(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return Fetch::Skipped;
    Fetch result = Fetch::Skipped;
    struct stat st { };
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
        if (cached(fd, 0) && cached(fd, st.st_size - 1)) {
            result = Fetch::Cached;
        } else {
            ::posix_fadvise(fd, 0, std::min<off_t>(st.st_size, kHeadBytes), POSIX_FADV_WILLNEED);
            if (st.st_size > kHeadBytes)
                ::posix_fadvise(fd, std::max<off_t>(kHeadBytes, st.st_size - kTailBytes), kTailBytes,
                    POSIX_FADV_WILLNEED);
            result = Fetch::Asked;
        }
    }
    ::close(fd);
    return result;
}

// Files found in memory in a row after which the folder counts as cached
// and the thread stops spending system calls on it.
constexpr int kCachedRunToStop = 32;

} // namespace

ReadAhead::ReadAhead(std::string folder, const std::vector<std::string>& names, std::size_t depth)
    : folder_(std::move(folder))
    , names_(names)
    , depth_(depth)
    , thread_([this](const std::stop_token& stop) { run(stop); })
{
}

ReadAhead::~ReadAhead()
{
    thread_.request_stop();
    moved_.notify_all();
}

void ReadAhead::reached(std::size_t i)
{
    {
        std::lock_guard lock(mutex_);
        if (i <= reached_)
            return;
        reached_ = i;
    }
    moved_.notify_one();
}

std::size_t ReadAhead::fetched() const
{
    std::lock_guard lock(mutex_);
    return fetched_;
}

void ReadAhead::run(const std::stop_token& stop)
{
    int cachedRun = 0;
    for (std::size_t next = 0; next < names_.size(); ++next) {
        {
            std::unique_lock lock(mutex_);
            // Far enough ahead: the page cache is not to be filled with a
            // whole folder before its first files are read.
            if (!moved_.wait(lock, stop, [&] { return next < reached_ + depth_; }))
                return;
        }
        const Fetch f = fetch(joinPath(folder_, names_[next]));
        cachedRun = f == Fetch::Cached ? cachedRun + 1 : (f == Fetch::Asked ? 0 : cachedRun);
        std::lock_guard lock(mutex_);
        ++fetched_;
        if (cachedRun >= kCachedRunToStop)
            return;
    }
}

} // namespace melodex
