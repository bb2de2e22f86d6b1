#pragma once
// CP932 (Windows' Shift_JIS) through ICU. Text inside the program is UTF-8;
// CP932 exists only in the bytes we read from tags and INI files and in the
// bytes we write into the List document and INI files.
//
// Three units share this header, because nearly every caller of one calls
// another: the code-page codec (cp932_codec.cpp), the UTF-8 helpers
// (utf8_text.cpp) and the reading of text that names no code page
// (legacy_text.cpp).

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace melodex::sjis {

// The codec.

// One codec for every text the program stores or writes in CP932 (the track
// records, the INI file, the page) and reads back (`info`, a preset loaded):
// what encode wrote, decode gives back exactly.
enum class Amp {
    Reference, // "&" becomes "&amp;", so that every "&" in the result begins a reference
    Keep, // "&" stays: the text is HTML whose "&" already begin references
};

// UTF-8 to CP932. A character CP932 cannot hold both ways becomes a decimal
// numeric character reference ("&#233;", "&#127925;"); a sequence that is not
// UTF-8 becomes "&#65533;". Throws std::runtime_error if ICU has no CP932
// converter: a page that declares Shift_JIS must never silently be something
// else.
std::string encode(std::string_view utf8, Amp amp = Amp::Reference);

// CP932 to UTF-8, the exact inverse of encode on what encode wrote. "&amp;",
// "&#N;" and "&#xH;" are resolved; any other "&" stays, so "AT&T" in a file
// of the Windows program, which never escaped "&", reads as written. A
// reference to a control character (U+0000-U+001F, U+007F), a surrogate or
// a number beyond U+10FFFF stays as written: no file or tag can put a NUL or
// a line break into a text. Bytes that are not CP932 become U+FFFD.
std::string decode(std::string_view cp932);

// As encode(utf8, Amp::Keep), but each character CP932 cannot hold becomes
// a hexadecimal reference ("&#x2212;"), a form encode never writes: text
// whose decimal references are its own (the lines of a UTF-16 INI file)
// comes back exactly from decodeMarked, and reads as decode reads it.
std::string encodeMarked(std::string_view utf8);

// CP932 to UTF-8 resolving only the references encodeMarked writes: its
// exact inverse. Every other reference stays as written.
std::string decodeMarked(std::string_view cp932);

// CP932 to UTF-8 with no reference resolved; nothing when any byte is not
// CP932. Text that may be in another code page is tried with this.
std::optional<std::string> strictDecode(std::string_view cp932);

// The character of the numeric reference that begins at s[i] ("&#233;",
// "&#xE9;") and the reference's length, as decode resolves it; nothing where
// decode would leave the text as written.
std::optional<std::pair<uint32_t, std::size_t>> numericReference(std::string_view s, std::size_t i);

// True for the first byte of a double-byte character. Its trail byte may look
// like ASCII ("ゾ" is 83 5D, and 5D is "]"), so byte scans must skip it.
bool isLeadByte(unsigned char b);

// The longest prefix of at most maxBytes that ends neither inside a
// double-byte character nor inside a "&...;" reference.
std::size_t cutLength(std::string_view cp932, std::size_t maxBytes);

// Windows-1252 to UTF-8 (Latin-1 with the printable characters Microsoft put
// at 0x80-0x9F; the five bytes it leaves unassigned stay C1 controls).
std::string windows1252ToUtf8(std::string_view bytes);

// UTF-8 helpers.

// Appends code point cp as UTF-8; a surrogate or a number beyond U+10FFFF,
// which no UTF-8 can hold, appends nothing.
inline void appendUtf8(std::string& out, uint32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | cp >> 6);
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        if (cp >= 0xD800 && cp <= 0xDFFF)
            return;
        out += static_cast<char>(0xE0 | cp >> 12);
        out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp <= 0x10FFFF) {
        out += static_cast<char>(0xF0 | cp >> 18);
        out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// UTF-16 to UTF-8; a lone surrogate becomes U+FFFD.
std::string utf16ToUtf8(std::u16string_view utf16);

// Big-endian UTF-16 bytes (MP4 tags, which carry no byte order mark) to
// UTF-8; a lone surrogate becomes U+FFFD, an odd last byte is dropped.
std::string utf16BigEndianToUtf8(std::string_view bytes);

// The length of the valid UTF-8 sequence that starts at s[i], or 0 when none
// does (no overlong forms, no surrogates).
std::size_t utf8SequenceLength(std::string_view s, std::size_t i);

// True when the bytes are valid UTF-8.
bool isUtf8(std::string_view bytes);

// Text that names no code page.

// 8-bit text whose code page nobody recorded (ID3v1 fields, ID3v2 frames
// marked ISO-8859-1, file names), decided by its bytes: ASCII as it is; valid
// UTF-8 with non-ASCII characters as UTF-8; anything else as CP932 or as
// Windows-1252, whichever reading looks more like real text (a tie goes to
// Windows-1252). UTF-8 is tried first because Japanese UTF-8 often also
// parses as CP932, while CP932 text almost never forms valid UTF-8.
enum class LegacyCodePage { Ascii, Utf8, Cp932, Windows1252 };

// How legacyToUtf8 reads these bytes (all of them, NULs included).
LegacyCodePage legacyCodePage(std::string_view bytes);

// The bytes up to their first NUL, read as legacyCodePage decides. With
// dropCutLead, a CP932 lead byte alone at the very end (a tagger cut the
// character in half to fit a fixed field) is left out of the CP932 reading.
std::string legacyToUtf8(std::string_view bytes, bool dropCutLead = false);

} // namespace melodex::sjis
