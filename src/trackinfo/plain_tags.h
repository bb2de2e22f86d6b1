#pragma once
// The tags most MP3 files carry, read straight from the bytes.
//
// TagLib builds a whole object model for every tag: each frame a heap object,
// each text a UTF-16 string, pictures read and copied along. For a catalogue
// of thousands of files that costs several times the reading itself, while
// nearly every file holds one plain ID3v2.3/2.4 tag and perhaps an ID3v1
// block. This reader handles those and answers exactly what the TagLib-based
// reading in vbmp3.cpp answers; for anything else (unsynchronisation,
// extended headers, flagged frames, ID3v2.2, APE tags, a tag not at the start,
// sizes it cannot be sure of) it declines and the caller asks TagLib.
// Pictures and other large frames are skipped without being read.

#include <optional>
#include <string>
#include <string_view>

namespace melodex {
class BufferedStream;
}

namespace melodex::trackinfo {

struct TagTexts {
    std::string title, artist, album, year, comment, genre;
    unsigned int track = 0;
};

// Fills the fields still empty in `into` from `from`: a field missing from
// the first tag comes from the next, as TagLib merges them.
void fillMissing(TagTexts& into, const TagTexts& from);

// A genre as ID3 stores it ("13", "(13)", "(13)Pop", "RX", free text) as
// the name shown; UTF-8 in and out.
std::string genreName(std::string_view text);

// The ID3v1 genre list with Winamp's extensions as taggers show them; ""
// for an unknown index (255: none).
std::string id3v1GenreName(int index);

// TagLib's notion of white space at the ends of a text.
std::string_view stripWhiteSpace(std::string_view text);

// The tags of the file behind `stream`, or nothing when TagLib must read them.
std::optional<TagTexts> readPlainTags(BufferedStream& stream);

} // namespace melodex::trackinfo
