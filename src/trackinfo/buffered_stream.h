#pragma once
// A read-only view of an MP3 file that reads it with few system calls.
//
// The readers look at a file in many small pieces (a 3-byte identifier, a
// 4-byte frame header, an ID3v1 block); a system call for each would cost
// more than the reading. Nearly all of them fall into the file's head (the
// ID3v2 tag and the first frames) or its tail (ID3v1, APE, the last frames),
// so this stream reads those two regions once, with one pread each (the head
// when it opens, the tail when a read first reaches it), and serves the
// small reads from memory. Anything else is read with pread on demand; a
// walk through a whole stream reads it in one go.
//
// The buffers are kept for the next stream on the same thread, so reading a
// folder allocates them once, not once per file.

#include <cstddef>
#include <memory>
#include <span>

namespace melodex {

class BufferedStream {
public:
    explicit BufferedStream(const char* path);
    ~BufferedStream();
    BufferedStream(const BufferedStream&) = delete;
    BufferedStream& operator=(const BufferedStream&) = delete;

    bool isOpen() const { return fd_ >= 0; }

    // Copies up to n bytes at offset into out; returns how many were copied
    // (fewer only at the end of the file or on a read error).
    std::size_t readAt(long offset, char* out, std::size_t n);

    // The bytes at offset without a copy: at least min(minBytes, bytes left in
    // the file) of them, more up to maxBytes when they are at hand already.
    // Fewer are buffered than asked: they are read first. Valid until the
    // next call that reads through this stream; empty past the end.
    std::span<const unsigned char> view(long offset, std::size_t minBytes, std::size_t maxBytes);

    // The bytes from offset on for a scan that reads them in order to the
    // end (at least 4, up to maxBytes): all of them at once where possible.
    // Valid until the next call that reads through this stream.
    std::span<const unsigned char> scan(long offset, std::size_t maxBytes);

    // The n bytes at offset when the page cache holds all of them, read
    // without waiting for the disk; empty when it does not (or the kernel
    // cannot say), near the end of the file or on an error. For looks that
    // skip most of a file: where they would wait, reading on in order is
    // quicker. Valid until the next call to it.
    std::span<const unsigned char> peekCached(long offset, std::size_t n);

    // Everything from offset to the end of the file will be read: reads what
    // the head does not hold in one go (unless it is more than a scan reads
    // at once), the tail with it.
    void readRest(long offset);

    // The file's size when it was opened (0 when it could not be opened).
    long size() const { return size_; }
    // errno of the failed open, 0 when open.
    int openError() const { return openError_; }

    struct Buffers;

private:
    int fd_ = -1;
    int openError_ = 0;
    long size_ = 0;
    std::unique_ptr<Buffers> buffers_;
    bool tailPending_ = false;

    void loadTailFor(long pos, long n);
};

} // namespace melodex
