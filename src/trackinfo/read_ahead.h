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
#include <utility>
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

// The files of a folder in reading order, with a ReadAhead kept a few files
// ahead of the one being read: every loop over a folder's files walks it, so
// none can forget to tell the thread where it is.
//
//     for (const auto& [i, name] : FolderWalk(folder, names)) ...
class FolderWalk {
public:
    struct File {
        std::size_t index;
        const std::string& name;
    };

    class Iterator {
    public:
        // The reader is about to read this file.
        File operator*() const
        {
            walk_->ahead_.reached(index_);
            return { index_, walk_->names_[index_] };
        }
        Iterator& operator++()
        {
            ++index_;
            return *this;
        }
        bool operator==(const Iterator& other) const { return index_ == other.index_; }

    private:
        friend class FolderWalk;
        Iterator(FolderWalk* walk, std::size_t index)
            : walk_(walk)
            , index_(index)
        {
        }
        FolderWalk* walk_;
        std::size_t index_;
    };

    // names: as for ReadAhead.
    FolderWalk(std::string folder, const std::vector<std::string>& names)
        : names_(names)
        , ahead_(std::move(folder), names)
    {
    }

    Iterator begin() { return { this, 0 }; }
    Iterator end() { return { this, names_.size() }; }

private:
    const std::vector<std::string>& names_;
    ReadAhead ahead_;
};

} // namespace melodex
