#include "listgen/out1.h"

#include <cmath>
#include <cstdio>

#include "common/decimal_text.h"
#include "common/option_set.h"

namespace melodex {
namespace {

constexpr double kKiB = 1024.0;
constexpr double kMiB = 1048576.0;

// Digits of a non-negative whole number with "," between groups of three.
std::string groupDigits(std::string digits)
{
    std::string out;
    out.reserve(digits.size() + digits.size() / 3);
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i != 0 && (digits.size() - i) % 3 == 0)
            out += ',';
        out += digits[i];
    }
    return out;
}

// The magnitude (a whole number) as decimal digits. A page holds thousands of
// these, so the common case avoids printf's floating-point path.
std::string wholeDigits(double magnitude)
{
    if (magnitude < 9.2e18)
        return std::to_string(static_cast<uint64_t>(magnitude));
    char buf[400];
    std::snprintf(buf, sizeof buf, "%.0f", magnitude);
    return buf;
}

// Rounds to `decimals` places, a half away from zero (std::round's rule).
// Returns the sign and the rounded magnitude scaled by 10^decimals.
std::pair<bool, double> roundScaled(double value, int decimals)
{
    const double scale = decimals == 2 ? 100.0 : 1.0;
    const double rounded = std::round(value * scale);
    return { rounded < 0, std::fabs(rounded) };
}

} // namespace

std::string formatGrouped(double value)
{
    const auto [negative, magnitude] = roundScaled(value, 0);
    if (magnitude == 0)
        return {};
    return (negative ? "-" : "") + groupDigits(wholeDigits(magnitude));
}

std::string formatGroupedFixed2(double value)
{
    const auto [negative, hundredths] = roundScaled(value, 2);
    const double whole = std::floor(hundredths / 100.0);
    const int cents = static_cast<int>(hundredths - whole * 100.0);
    return (negative ? "-" : "") + groupDigits(wholeDigits(whole)) + "." + twoDigits(cents);
}

std::string plainDecimal(int64_t value) { return std::to_string(value); }

std::string SecToTime(int64_t t)
{
    // Floor division for the hours, remainders with the sign of t for the
    // rest: a negative time still gets a text, if an odd one.
    int64_t hours = t / 3600;
    if (t % 3600 != 0 && t < 0)
        --hours;
    const int64_t seconds = t % 60;
    const int64_t minutes = ((t % 3600) - seconds) / 60;
    return twoDigits(hours) + ":" + twoDigits(minutes) + ":" + twoDigits(seconds);
}

namespace {

std::string sizeInUnit(int64_t bytes, int unit)
{
    switch (unit) {
    case kSizeKB:
        return formatGrouped(static_cast<double>(bytes) / kKiB) + " KB";
    case kSizeMB:
        return formatGroupedFixed2(static_cast<double>(bytes) / kMiB) + " MB";
    default:
        return formatGrouped(static_cast<double>(bytes)) + " Byte";
    }
}

} // namespace

std::string SizeText(int64_t bytes, int unit) { return sizeInUnit(bytes, unit); }

std::string TotalSizeText(int64_t bytes)
{
    if (bytes > 1048576)
        return sizeInUnit(bytes, kSizeMB);
    if (bytes > 1024)
        return sizeInUnit(bytes, kSizeKB);
    return sizeInUnit(bytes, kSizeByte);
}

namespace {

// A fixed text of 32 characters, as a header entry holds it: cut after the
// 32nd character, never inside one, or padded with spaces.
std::string fixedHeaderText(std::string_view utf8)
{
    std::size_t chars = 0;
    std::size_t end = 0;
    for (; end < utf8.size(); ++end) {
        const bool startsCharacter = (static_cast<unsigned char>(utf8[end]) & 0xC0) != 0x80;
        if (startsCharacter && ++chars > kColumnHeaderWidth) {
            --chars;
            break;
        }
    }
    std::string text(utf8.substr(0, end));
    text.append(kColumnHeaderWidth - chars, ' ');
    return text;
}

} // namespace

const std::array<std::string, kFields.size()>& ColumnHeaders()
{
    static const std::array<std::string, kFields.size()> headers = [] {
        std::array<std::string, kFields.size()> h;
        for (const FieldRow& row : kFields) {
            if (row.field != Field::None)
                h[static_cast<std::size_t>(row.field)] = fixedHeaderText(row.chooserText);
        }
        return h;
    }();
    return headers;
}

} // namespace melodex
