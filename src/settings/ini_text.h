#pragma once
// Text as the INI file holds it: one encoder and its inverse, used for every
// value and section name the program writes or reads, and for the names
// `presets` prints, so that what is saved loads back exactly.
//
// The file stays CP932, so presets carry over to and from the Windows program
// it replaces. A character CP932 cannot hold is written as "&#N;", and "&"
// itself as "&amp;": in what we write, every "&" begins a reference. That
// program never escaped "&", so its files hold texts such as "AT&T"; those
// still read as written, because only well-formed references are resolved.

#include <string>
#include <string_view>

namespace melodex::initext {

// UTF-8 to the file's bytes. Bytes that are not UTF-8 become U+FFFD first.
std::string encode(std::string_view utf8);

// The file's bytes to UTF-8: the exact inverse of encode on what encode
// wrote. "&amp;", "&#N;" and "&#xH;" are resolved; any other "&" stays. A
// reference to a control character (U+0000-U+001F, U+007F), a surrogate or
// a number beyond U+10FFFF stays as written, so that no file can put a NUL
// or a line break into a title.
std::string decode(std::string_view cp932);

// A section name: as encode, with "]" written as "&#93;" because the first
// "]" of a header line ends the name.
std::string encodeSectionName(std::string_view utf8);

// What two section names are compared by, the name as the user sees it:
// decoded, ASCII letters in lower case, every other character exact (so the
// trail byte of a double-byte character never matches a letter). "[A]" and
// "[&#65;]" are one name.
std::string sectionKey(std::string_view cp932);

// The profile functions trim blanks around a value and take off a pair of
// quotes that encloses it. A text that would lose either is put in quotes,
// which those functions (and the Windows program's) take off again.
std::string quoteIfNeeded(std::string_view text);

} // namespace melodex::initext
