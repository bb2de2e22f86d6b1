#pragma once
// What the classic and the modern page share beyond their numbers (out1.h):
// the totals' labels, the footer, the checks an Option set and an output
// file pass before anything is read. Inside listgen only.

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "common/option_set.h"
#include "listgen/list_document.h"

namespace melodex {

class AtomicFile;

inline constexpr std::string_view kPageFooter = "Created by Melodex";
// File count, total size, total playing time, in the totals table's order.
inline constexpr std::array<std::string_view, 3> kTotalLabels { "ファイル総数", "総ファイル容量",
    "総演奏時間" };

ListResult failedList(std::string path, std::string reason);

// Why the Option set cannot make a page of this kind (kOnClassicPage or
// kOnModernPage), or nothing.
std::optional<std::string> unusableOptions(const OptionSet& options, FieldPlace page);

// Opens the document's temporary file and refuses an output that a link
// turns into one of the listed audio files; the reason, or nothing.
std::optional<std::string> openPageFile(
    AtomicFile& doc, const std::string& outPath, const FormatSet& formats);

} // namespace melodex
