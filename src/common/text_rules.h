#pragma once
// Text rules several modules share, on ASCII alone: names compared without
// regard to letter case (file names, INI keys, option words), blanks trimmed,
// and the spaced decimal form of whole numbers. Never the C library's
// tolower or isspace: they follow the locale, and a name must compare the
// same for every user.

#include <cstdint>
#include <string>
#include <string_view>

namespace melodex {

// Space and tab, the blanks of INI lines and of option lists.
inline constexpr std::string_view kBlanks = " \t";

// "A"-"Z" to "a"-"z", byte by byte; every other byte as it is. UTF-8 has no
// ASCII byte inside a character, but a CP932 trail byte may be one ("ア" is
// 83 41): CP932 names must step over double-byte characters themselves.
constexpr char asciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
std::string asciiLower(std::string s);

// s without the leading and trailing characters found in `blanks`.
constexpr std::string_view trim(std::string_view s, std::string_view blanks = " ")
{
    const auto first = s.find_first_not_of(blanks);
    if (first == std::string_view::npos)
        return {};
    return s.substr(first, s.find_last_not_of(blanks) - first + 1);
}

// Characters that change how the text around them shows without showing
// themselves: the C1 controls (U+0080 to U+009F), which terminals take as
// commands and browsers show as Windows-1252 letters ("&#133;" as "…"), and
// the bidirectional embeddings, overrides and isolates (U+202A to U+202E,
// U+2066 to U+2069), which make what follows display reversed.
constexpr bool isDisplayControl(uint32_t cp)
{
    return (cp >= 0x80 && cp <= 0x9F) || (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069);
}

// The length of the UTF-8 sequence at utf8[i] when it is a display control,
// else 0.
std::size_t displayControlLength(std::string_view utf8, std::size_t i);

// Decimal digits after a blank, or after "-" when negative: " 3", " 0", "-1".
// The form of row numbers and the file count on the page and of the list
// positions a preset stores.
std::string spacedDecimal(int64_t value);

} // namespace melodex
