#pragma once
// The preset menus ("設定保存", "設定読込") apart from the window: they take
// the Option set the controls held when the user picked the item, ask through
// Dialogs for what they must, and hand back what the window is to show.

#include <optional>

#include "common/option_set.h"
#include "window/dialogs.h"
#include "window/notice.h"

namespace melodex {

// The numbered menu items are presets 0 to 3; the custom item asks the user
// for a name.
inline constexpr int kCustomPreset = -1;

// Saves controls as the preset. Returns the box to show, if any.
std::optional<Notice> SaveOptionSet(int preset, const OptionSet& controls, Dialogs& dialogs);

struct PresetLoad {
    std::optional<OptionSet> options; // what the controls show from now on
    std::optional<Notice> notice;
};

// Reads the preset, and how the controls end up once they took it, starting
// from controls: a scroll bar that moves rewrites its number box.
PresetLoad LoadOptionSet(int preset, const OptionSet& controls, Dialogs& dialogs);

} // namespace melodex
