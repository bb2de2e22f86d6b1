#include "common/text_rules.h"

namespace melodex {

std::string asciiLower(std::string s)
{
    for (char& c : s)
        c = asciiLower(c);
    return s;
}

std::string spacedDecimal(int64_t value)
{
    std::string text = std::to_string(value);
    if (value >= 0)
        text.insert(0, 1, ' ');
    return text;
}

} // namespace melodex
