#pragma once
// The ID3v2 and ID3v1 tags of an MP3 file, read straight from the bytes.
//
// TagLib builds a whole object model for every tag: each frame a heap object,
// each text a UTF-16 string, pictures read and copied along. For a catalogue
// of thousands of files that costs several times the reading itself. And
// TagLib 1.13 loses frames or whole tags on shapes real files have: extended
// headers, unsynchronisation, empty frames, a bad frame ID, compressed frames,
// UTF-16 without a byte order mark. This reader reads every ID3v2.2, 2.3 and
// 2.4 tag at the start of a file itself (see id3v2_reader.h); on the shapes
// TagLib reads right it answers exactly what the TagLib-based reading in
// vbmp3.cpp answers. TagLib still reads APE tags, and files that start with
// neither an ID3v2 tag nor an MPEG frame (it searches them).
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

// The year a year text holds, for every kind of tag: its first four digits
// in a row ("2003-05-01", "Oct 3, 1995" give "2003", "1995"), or "" when it
// holds none ("Oct", "'95"). Full-width digits count and come out as ASCII.
std::string yearOf(std::string_view text);

struct PlainTags {
    TagTexts texts;
    // An APE tag is there too: texts hold the ID3v2 tag alone, and TagLib
    // must read the APE tag and the ID3v1 tag behind it.
    bool apeTag = false;
    // Only shapes TagLib reads right: its reading must be this one.
    bool tagLibAlike = true;
};

// The tags of the file behind `stream`, or nothing when TagLib must read
// them all (no ID3v2 tag or MPEG frame at the start).
std::optional<PlainTags> readPlainTags(BufferedStream& stream);

} // namespace melodex::trackinfo
