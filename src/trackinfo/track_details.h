#pragma once
// One audio file as the catalogue knows it: its tag texts whole, in UTF-8,
// and its stream values at full width. The fixed records of vbmp3.h are cut
// from it (texts to their CP932 fields, numbers to 32 bits); outputs that
// are not bound to those widths (info, JSON, the pages of later styles)
// take the details themselves.

#include <cstdint>
#include <string>
#include <string_view>

#include "common/audio_format.h"

struct TrackTag;
struct StreamInfo;

namespace melodex::trackinfo {

struct TagTexts {
    std::string title, artist, album, year, comment, genre;
    unsigned int track = 0;
    // Not in the fixed record: only outputs that take the details show it.
    std::string albumArtist;
};

// Several values of one field (two ARTIST comments, an ID3v2.4 list, MP4
// atoms with two data children) are shown joined by this, in every format.
inline constexpr std::string_view kValueJoiner = "; ";

// Adds a value to a field of several: after kValueJoiner, unless it is empty
// or already one of the field's values (a tag that repeats a frame says it
// once), and only up to what one tag value may take, however many values a
// hostile tag repeats.
void appendValue(std::string& field, std::string_view value);

// Fills the fields still empty in `into` from `from`: a field missing from
// the first tag comes from the next, as TagLib merges them.
void fillMissing(TagTexts& into, const TagTexts& from);

struct TrackDetails {
    AudioFormat format = AudioFormat::Mp3; // what the content holds (MP3 when unknown)
    TagTexts texts;
    int64_t fileBytes = 0; // the real size, also past 2 GiB
    int bitrateKbps = 0; // for VBR the average over the stream
    int sampleRate = 0; // Hz
    int64_t seconds = 0; // playing time, whole seconds rounded down
    bool readable = false; // audio was found
    // errno of a file that could not be opened (0 when it could): a file the
    // user cannot read is not the same as a file that holds no audio.
    int openError = 0;
    // Why a file that opened holds no audio the reader can use ("no MPEG
    // audio found", "FLAC STREAMINFO missing"), for --verbose and JSON.
    std::string problem;
};

// The bit rate of audioBytes played in `ticks` of which `ticksPerSecond`
// make a second (samples at the sampling rate, an MP4 track's time units),
// in kbps, rounded once from the exact time: rounding the seconds first
// would make a 1.9 s file a 1 s one of twice the rate. 0 without a time.
int averageKbps(uint64_t audioBytes, uint64_t ticks, uint64_t ticksPerSecond);

// The file at path (a native path, bytes as the file system holds them).
// Never throws: a file that cannot be opened or holds no audio comes back
// unreadable, with zeros but its size where it can be known, and the texts
// of whatever tag it holds.
TrackDetails readTrackDetails(const char* path);

// The texts into the record's fields as CP932, each cut where a whole
// character or reference ends; the track number clamped to the field.
void putTexts(TrackTag& tag, const TagTexts& texts);

// The fixed records cut from the details: both cleared first, texts in CP932
// (an unreadable file's too: its tag may be whole where its audio is not)
// cut where a whole character or reference ends, numbers held to 32 bits.
void putDetails(const TrackDetails& details, TrackTag& tag, StreamInfo& info);

} // namespace melodex::trackinfo
