#pragma once
// The track information source: one MP3 file's tags and stream data, in two
// fixed records. Text fields hold CP932 bytes, NUL-terminated when shorter
// than the field; a character CP932 cannot hold is a decimal numeric
// character reference ("&#233;") and a literal "&" is "&amp;", so in a field
// "&" always begins a reference.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

struct TrackTag {
    char TrackName[128];
    char ArtistName[128];
    char AlbumName[128];
    char Year[5];
    char Comment[128];
    char Reserved[3];
    int32_t Number; // passed along, never read
    char GenreName[128];
};

struct StreamInfo {
    unsigned char Reserved0[36];
    int32_t BitRate; // kbps; for VBR the average over the stream
    int32_t SamplingRate; // Hz
    int32_t FileBytes; // the file's size
    int32_t Reserved48;
    int32_t TotalSeconds; // playing time, whole seconds rounded down
};

static_assert(sizeof(TrackTag) == 652);
static_assert(offsetof(TrackTag, TrackName) == 0);
static_assert(offsetof(TrackTag, ArtistName) == 128);
static_assert(offsetof(TrackTag, AlbumName) == 256);
static_assert(offsetof(TrackTag, Year) == 384);
static_assert(offsetof(TrackTag, Comment) == 389);
static_assert(offsetof(TrackTag, Number) == 520);
static_assert(offsetof(TrackTag, GenreName) == 524);
static_assert(sizeof(StreamInfo) == 56);
static_assert(offsetof(StreamInfo, BitRate) == 36);
static_assert(offsetof(StreamInfo, SamplingRate) == 40);
static_assert(offsetof(StreamInfo, FileBytes) == 44);
static_assert(offsetof(StreamInfo, TotalSeconds) == 52);

// Returns 1.
int32_t vbmp3_init();

// Clears both records, then fills them from the file at path (a native
// file-system path: bytes as the file system holds them). Returns 1 when the
// file holds an MPEG audio stream; 0 otherwise, with zeros but FileBytes,
// which still holds the file's size when it can be known, and the texts of
// a tag the file holds without its audio (a download stopped early).
int32_t vbmp3_getFileInfo(const char* path, TrackTag* tag, StreamInfo* info);

// Returns 1.
int32_t vbmp3_free();

// The text before the first NUL, or all of s when it holds none. Nothing
// else is removed: trailing spaces stay.
std::string TrimNul(std::string_view s);

// A fixed-width field as a text, cut at its first NUL.
template <std::size_t N>
std::string TrimNul(const char (&field)[N])
{
    return TrimNul(std::string_view(field, N));
}
