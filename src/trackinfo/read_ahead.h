#pragma once
// Warms the page cache for the files a reader is about to read.
//
// Reading a folder file by file on a cold cache makes the disk wait for each
// file in turn: open (its inode), its head, its tail, one after the other.
// A thread a few files ahead opens the next files and asks the kernel for
// their head and tail without waiting for them, so the disk works on several
// requests at once and the reader finds the bytes in memory. Nothing is read
// into this process; on a warm cache it costs a few system calls per file on
// another core. Results cannot change: the reader still reads every byte
// itself.

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace melodex {

class ReadAhead {
public:
    // names: the files in folder in the order they will be read; they must
    // outlive this object.
    ReadAhead(std::string folder, const std::vector<std::string>& names, std::size_t depth = 32);
    ~ReadAhead();
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // The reader is at file i: files up to i + depth may be fetched.
    void reached(std::size_t i);

    // How many files were asked for so far (for tests).
    std::size_t fetched() const;

private:
    void run(const std::stop_token& stop);

    const std::string folder_;
    const std::vector<std::string>& names_;
    const std::size_t depth_;
    mutable std::mutex mutex_;
    std::condition_variable_any moved_;
    std::size_t reached_ = 0;
    std::size_t fetched_ = 0;
    std::jthread thread_;
};

} // namespace melodex
