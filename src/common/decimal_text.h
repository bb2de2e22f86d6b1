#pragma once
// Whole numbers padded to two digits: the hours, minutes and seconds of a
// playing time, the hundredths of a size in MB and the numbers in preset keys
// ("Combo_03") all take this one form.

#include <cstdint>
#include <string>

namespace melodex {

// At least two digits, "-" before a negative number: "05", "100", "-01".
inline std::string twoDigits(int64_t value)
{
    const uint64_t magnitude = value < 0 ? -static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    std::string digits = std::to_string(magnitude);
    if (digits.size() < 2)
        digits.insert(0, 1, '0');
    return value < 0 ? "-" + digits : digits;
}

} // namespace melodex
