#pragma once
// A Preset: one Option set in one section of the INI file: 20 keys, and two
// more (Formats=, Style=) that files written before they existed lack. The window
// and melodex-cli both read and write presets through here, so a preset saved
// by one loads the same in the other.

#include "common/option_set.h"
#include "settings/ini_utl.h"

#include <optional>
#include <string>

namespace melodex {

// The section of numbered preset index (0 to 3): "save_key_ 0" ... "save_key_ 3".
std::string numberedPresetName(int index);

// True when the name holds nothing but blanks; such a name saves and loads nothing.
bool isBlankPresetName(const std::string& name);

struct PresetRead {
    // The preset's values; each absent or unusable key (a value the controls
    // do not accept, as only a file edited by hand holds) gives its start-up
    // value. The texts of the two number boxes are as stored. colorText
    // follows colorIndex (empty for -1). Nothing for a blank name, and for a
    // file that is there but cannot be read (error says why).
    std::optional<OptionSet> options;
    bool fileExists = false;
    bool found = false; // the file holds a section of that name
    IniError error;
};

// The preset, read from one state of the file.
PresetRead readPreset(const std::string& name);

// What the two number boxes show once their scroll bars have taken the values of
// loaded, starting from before: a scroll bar that moves rewrites its box with
// its value, one that stays put leaves the stored text.
void settleNumberBoxes(OptionSet& loaded, const OptionSet& before);

// Writes the 20 keys in one write of the file: all of them or, on failure,
// none (error says why). Formats= and Style= are added only when they hold
// something else than their absence reads as (MP3 alone, the classic page),
// and rewritten where the section holds them already. A text that would not load back as it is (longer than
// the readers take) is refused. A blank name writes nothing and succeeds.
bool writeOptionSet(
    const std::string& name, const OptionSet& options, IniError* error = nullptr, const LockWait& wait = {});

} // namespace melodex
