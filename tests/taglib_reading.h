#pragma once
// TagLib's reading of a file's tags: the second opinion the tests and the
// fuzzer hold the plain tag reader to, on the shapes TagLib reads right and
// survives (PlainTags::tagLibAlike). It never runs in the program: nothing
// bounds what TagLib does with a hostile file.

#include "trackinfo/vbmp3.h"

#include <cstdint>

namespace melodex::test {

// The records as vbmp3_getFileInfo fills them, but with the tags as TagLib
// reads and merges them (ID3v2, APE, ID3v1), decoding texts that name no
// code page as the program does.
int32_t tagLibFileInfo(const char* path, TrackTag* tag, StreamInfo* info);

// The plain reader's verdict on the file: TagLib reads its tags alike.
// True for a file whose tags are not read at all (no audio in it).
bool tagLibReadsAlike(const char* path);

} // namespace melodex::test
