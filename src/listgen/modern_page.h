#pragma once
// The modern page: one HTML5 file in UTF-8 made from the same Option set as
// the classic one, with the whole texts of each file, that sorts, filters
// and groups in the browser and stays a complete table without a script.

#include <string>
#include <vector>

#include "listgen/list_document.h"

namespace melodex {

// Called by writeListDocument for PageStyle::Modern; the same promises hold
// (a failed or cancelled run leaves the previous document as it was).
ListResult writeModernPage(const OptionSet& options, const std::string& folder,
    const std::vector<std::string>& fileNames, const DetailsReader& details, const ListProgress& progress);

} // namespace melodex
