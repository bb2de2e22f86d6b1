#pragma once
// The tags of an MP3 file, read straight from the bytes: an ID3v2 tag at the
// start (or behind junk before the audio), an APE tag and an ID3v1 tag at
// the end, merged field by field.
//
// TagLib builds a whole object model for every tag: each frame a heap object,
// each text a UTF-16 string, pictures read and copied along. For a catalogue
// of thousands of files that costs several times the reading itself. And
// TagLib 1.13 loses frames or whole tags on shapes real files have: extended
// headers, unsynchronisation, empty frames, a bad frame ID, compressed frames,
// UTF-16 without a byte order mark; on hostile ones it crashes (frames
// nested in chapters until the stack runs out) or takes gigabytes (a zlib
// bomb, an APE tag that claims 4 GiB). This reader reads every tag itself,
// within the bounds tag_layout.h and id3v2_reader.h set; on the shapes
// TagLib reads right it answers exactly what TagLib answers, and the tests
// and the fuzzer hold the two to it (PlainTags::tagLibAlike).
// Pictures and other large frames and items are skipped without being read.

#include <cstdint>
#include <string>
#include <string_view>

#include "trackinfo/track_details.h"

namespace melodex {
class BufferedStream;
}

namespace melodex::trackinfo {

class TagLayout;
struct Id3v2Header;

// A genre as ID3 stores it ("13", "(13)", "(13)Pop", "RX", free text) as
// the name shown; UTF-8 in and out.
std::string genreName(std::string_view text);

// The ID3v1 genre list with Winamp's extensions as taggers show them; ""
// for an unknown index (255: none).
std::string id3v1GenreName(int index);

// The year a year text holds, for every kind of tag: its first four digits
// in a row ("2003-05-01", "Oct 3, 1995" give "2003", "1995"), or "" when it
// holds none ("Oct", "'95"). Full-width digits count and come out as ASCII.
std::string yearOf(std::string_view text);

// A track number as a tag's text holds it ("7", " 07", "7/12"); 0 for none.
unsigned int trackNumberOf(std::string_view text);

struct PlainTags {
    TagTexts texts;
    // Only shapes TagLib reads right, and reads without harm: its reading
    // must be this one. False also where TagLib would crash or balloon.
    bool tagLibAlike = true;
};

// The texts of the ID3v2 tag whose header is at `offset`, wherever a format
// keeps one (an "id3 " chunk of a WAV or AIFF file, before "fLaC"); nothing
// for a version whose frames cannot be read.
TagTexts readId3v2Texts(BufferedStream& stream, int64_t offset, const Id3v2Header& header);

// The tags of the file behind `stream`, whose audio starts at firstFrame:
// a file that starts with neither an ID3v2 tag nor audio may hide its tag
// in the junk before it.
PlainTags readPlainTags(BufferedStream& stream, TagLayout& layout, int64_t firstFrame);

} // namespace melodex::trackinfo
