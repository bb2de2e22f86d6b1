#pragma once
// Presets from the command line: the same INI file, names, defaults and ranges
// as the window's preset menus.

#include <optional>
#include <string>

#include "common/option_set.h"

namespace melodex::cli {

// Lays the preset over options as the window shows it once loaded from its
// start-up state. An error for a blank name, a missing file, a file that cannot
// be read or a name the file does not hold: a script should know.
std::optional<std::string> loadPreset(const std::string& name, OptionSet& options);

} // namespace melodex::cli
