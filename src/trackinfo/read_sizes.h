#pragma once
// What the track reader reads of a file before it knows where to look next,
// and what the read-ahead asks the kernel for so that those reads never wait:
// one decision, kept here so that the two move together.

namespace melodex {

// The head holds the ID3v2 header, a usual tag's text frames and the first
// audio frames behind a small tag; the tail holds ID3v1 and an APE tag of
// text (the last frames are walked with the rest of the stream, when at all).
// Both are kept small: copying bytes out of the page cache is most of what a
// read costs once the file is cached, and a large tag (a cover picture) is
// skipped rather than read.
inline constexpr long kStreamHeadBytes = 4L * 1024;
inline constexpr long kStreamTailBytes = 1024;

// A first read of 4 KiB of a file that is not cached makes the kernel read
// 16 KiB (its read-ahead window; a larger first read doubles it), and the
// reader's next reads, the frames behind a usual tag, fall inside those 16
// KiB: the read-ahead asks for exactly that much. The tail is asked for in a
// whole page, the least the page cache holds.
inline constexpr long kPrefetchHeadBytes = 4 * kStreamHeadBytes;
inline constexpr long kPrefetchTailBytes = 4L * 1024;

} // namespace melodex
