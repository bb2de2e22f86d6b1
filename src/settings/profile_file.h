#pragma once
// The profile file: an INI file read and written the way the profile
// functions of the system the presets come from behave. All strings here are
// bytes as they stand in the file (CP932); ini_utl converts.
//
// Lines are the unit: a write changes or inserts only the lines of the keys it
// sets and keeps every other byte of the file, so comments, blank lines, other
// sections, a UTF-8 BOM an editor put in front and the " 3" form of values
// survive any number of writes.
//
// Section names are compared as the user sees them (initext::sectionKey):
// decoded, ASCII letters without regard to case. Key names are compared
// byte for byte but for the case of ASCII letters.
//
// Several programs share the file (two windows, a script running melodex-cli),
// so a write is one read-modify-replace under an exclusive flock of the file.
// A read takes no lock: every write renames a whole file into place.
//
// The file is CP932, or what decodeProfile reads (UTF-16 with a BOM, as
// Notepad writes it), and is written back in the encoding it had.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "settings/ini_types.h"
#include "settings/lock_wait.h"

namespace melodex::profile {

// The file's text as CP932, whatever encoding the file holds.
struct ProfileText {
    bool exists = false; // false: there is no file, which is no error
    std::string text;
};

// Reads the whole file at once. Nothing (and error says why) when something is
// there that is not a readable regular file: a folder, a FIFO (never waited
// on), a link to nothing, a loop of links, a link resolveTrusted refuses.
std::optional<ProfileText> readProfile(const std::filesystem::path& file, IniError* error = nullptr);

// The keys of the first section of that name in text, each once (the first
// line of a key wins, as in the profile functions), values with the blanks and
// the enclosing quotes the profile functions take off; nothing when no section
// has that name.
std::optional<IniValues> findProfileSection(std::string_view text, std::string_view section);

// The section names of text in file order, each once (the first spelling).
std::vector<std::string> profileSectionNames(std::string_view text);

// A value as a decimal integer; a value that is not a whole decimal number
// fitting in 32 bits ("abc", "12abc", "") yields defaultValue.
int parseProfileInt(std::string_view value, int defaultValue);

// Sets every key of values in section in one locked read-modify-replace:
// creates the file (and its folder) and the section as needed, replaces the
// value of each key that exists and adds the others, in the order given,
// after the section's last key. The file is replaced as a whole through a
// temporary file beside it (AtomicFile: a link stays a link and the file it
// names is replaced, permissions kept), so a failure leaves the previous file
// untouched; nothing is written when any name or value cannot be stored.
// While another program holds the lock, wait is called (see LockWait).
// The keys of ifPresent are set only where the section holds them already and
// never added: a value that reads the same as the key's absence, so that a
// file gains no line that files written before the key existed lack, yet a
// value stored before is not left standing.
bool writeProfileSection(std::string_view section, const IniValues& values, const std::filesystem::path& file,
    IniError* error = nullptr, const LockWait& wait = {}, const IniValues& ifPresent = {});

// ASCII letters compared without regard to case; double-byte characters, whose
// trail bytes may look like ASCII letters, compared exactly.
bool sameName(std::string_view a, std::string_view b);

} // namespace melodex::profile
