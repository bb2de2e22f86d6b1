#pragma once
// The make-list command ("リスト作成") apart from the window: it takes what
// the controls held when the user pressed the button and knows no control.

#include <optional>
#include <string>
#include <vector>

#include "common/option_set.h"
#include "window/notice.h"
#include "window/track_library.h"

class QWidget;

namespace melodex {

// Writes the List document of fileNames (as the file system holds them) into
// folder, with a progress dialog over progressParent once the run takes a
// while. The records are the window's, reused for every file. Returns the box
// to show: the outcome, or nothing when the user cancelled.
std::optional<Notice> MakeList(const OptionSet& options, const std::string& folder,
    const std::vector<std::string>& fileNames, const TrackLibrary& library, TrackTag& tag, StreamInfo& info,
    QWidget* progressParent);

} // namespace melodex
