#pragma once
// A read-only TagLib stream that reads an MP3 file with few system calls.
//
// TagLib reads a file in many small pieces (a 3-byte identifier, a 4-byte
// frame header, 1 KiB scans) with a seek before each and the file's length
// asked again and again; on a plain file stream each of those is a system
// call. Nearly all of them fall into the file's head (the ID3v2 tag and the
// first frames) or its tail (ID3v1, APE, Lyrics3, the last frames), so this
// stream reads those two regions once, with one pread each (the head when it
// opens, the tail when a read first reaches it), and serves the small reads
// from memory. Anything else is read with pread on demand; a walk through a
// whole stream reads it in one go.
//
// The buffers are kept for the next stream on the same thread, so reading a
// folder allocates them once, not once per file.

#include <taglib/tiostream.h>

#include <cstddef>
#include <memory>
#include <span>
#include <string>

namespace melodex {

class BufferedStream final : public TagLib::IOStream {
public:
    explicit BufferedStream(const char* path);
    ~BufferedStream() override;
    BufferedStream(const BufferedStream&) = delete;
    BufferedStream& operator=(const BufferedStream&) = delete;

    TagLib::FileName name() const override { return path_.c_str(); }
    TagLib::ByteVector readBlock(unsigned long length) override;
    // Read-only: writes are ignored, as on a plain stream opened read-only.
    void writeBlock(const TagLib::ByteVector&) override { }
    void insert(const TagLib::ByteVector&, unsigned long = 0, unsigned long = 0) override { }
    void removeBlock(unsigned long = 0, unsigned long = 0) override { }
    void truncate(long) override { }
    bool readOnly() const override { return true; }
    bool isOpen() const override { return fd_ >= 0; }
    // A position before the start is refused and leaves the position as it
    // was; one past the end is allowed and reads nothing.
    void seek(long offset, Position p = Beginning) override;
    long tell() const override { return pos_; }
    long length() override { return size_; }

    // Copies up to n bytes at offset into out without moving the position;
    // returns how many were copied.
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
    std::string path_;
    int fd_ = -1;
    int openError_ = 0;
    long size_ = 0;
    long pos_ = 0;
    std::unique_ptr<Buffers> buffers_;
    bool tailPending_ = false;

    void loadTailFor(long pos, long n);
};

} // namespace melodex
