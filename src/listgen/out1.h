#pragma once
// Numbers as the List document shows them: counts, sizes and playing times.
// Every function here is pure and gives every input a text.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/option_set.h"

namespace melodex {

// The two number patterns. Each rounds to its number of decimals, a half
// away from zero, and writes "-" before a negative result.
std::string formatGrouped(double value); // "##,##": 1234567 -> "1,234,567", 0 -> ""
std::string formatGroupedFixed2(double value); // "##,##0.00": 2.861 -> "2.86", 0 -> "0.00"

// Whole numbers: "128" and "-3" (the spaced form, " 1", is common's spacedDecimal).
std::string plainDecimal(int64_t value);

// Hours:minutes:seconds, each at least two digits; hours are not wrapped.
// Takes 64 bits so that the playing time of a whole folder never overflows.
std::string SecToTime(int64_t seconds);

// One file's size in the unit the user chose (0 Byte, 1 KB, 2 MB; anything
// else counts as Byte), with the unit word: "1,234,567 Byte", "2 KB", "2.86 MB".
// 64 bits: a single file may be larger than the track record can say.
std::string SizeText(int64_t bytes, int unit);

// A total size in the unit its magnitude selects: above 1 MiB in MB, above
// 1 KiB in KB, otherwise in bytes. 64 bits: a folder may hold more than 2 GiB.
std::string TotalSizeText(int64_t bytes);

inline constexpr std::size_t kColumnHeaderWidth = 32;

// The header text of each column field, the field's chooser text padded with
// spaces to 32 characters, so that a header reads as the item the user
// picked. The entry for "なし" stays empty: no header cell is ever written
// for it.
const std::array<std::string, kFields.size()>& ColumnHeaders();

} // namespace melodex
