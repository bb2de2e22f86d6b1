#pragma once
// The readers of the formats beside MP3, one per container family. Each is
// handed a file whose content (after an ID3v2 tag at its very start, which
// FLAC and WAV files sometimes carry) begins with its family's signature,
// and fills the details: the format the content holds, the texts, the
// stream values, readable or the problem that keeps it from being read.
// Each reads within bounds it checks against the file's size.

namespace melodex {
class BufferedStream;
}

namespace melodex::trackinfo {

class TagLayout;
struct TrackDetails;

void readFlacFile(BufferedStream& stream, TagLayout& layout, TrackDetails& details); // "fLaC"
void readOggFile(
    BufferedStream& stream, TagLayout& layout, TrackDetails& details); // "OggS": Vorbis, Opus, FLAC
void readMp4File(BufferedStream& stream, TagLayout& layout, TrackDetails& details); // "ftyp" boxes
void readIffFile(BufferedStream& stream, TagLayout& layout, TrackDetails& details); // RIFF, RF64, RIFX, FORM

} // namespace melodex::trackinfo
