#include "common/text_rules.h"

namespace melodex {

std::string asciiLower(std::string s)
{
    for (char& c : s)
        c = asciiLower(c);
    return s;
}

std::size_t displayControlLength(std::string_view utf8, std::size_t i)
{
    const auto at
        = [&](std::size_t k) { return i + k < utf8.size() ? static_cast<unsigned char>(utf8[i + k]) : 0; };
    // C2 80-9F, E2 80 AA-AE and E2 81 A6-A9: the only encodings of these.
    if (at(0) == 0xC2)
        return at(1) >= 0x80 && at(1) <= 0x9F ? 2 : 0;
    if (at(0) != 0xE2 || (at(1) != 0x80 && at(1) != 0x81))
        return 0;
    const uint32_t cp = 0x2000 | (at(1) & 0x3Fu) << 6 | (at(2) & 0x3Fu);
    return (at(2) & 0xC0) == 0x80 && isDisplayControl(cp) ? 3 : 0;
}

std::string spacedDecimal(int64_t value)
{
    std::string text = std::to_string(value);
    if (value >= 0)
        text.insert(0, 1, ' ');
    return text;
}

} // namespace melodex
