#pragma once
// Text as the INI file holds it. Values and names are sjis::encode's CP932,
// so that what is saved loads back exactly and the file carries over to and
// from the Windows program it replaces; these are the rules the file's lines
// add on top.

#include <string>
#include <string_view>

namespace melodex::initext {

// A section name: as sjis::encode, with "]" written as "&#93;" because the
// first "]" of a header line ends the name.
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
