#pragma once
// The program's INI file. Strings are UTF-8; the file holds CP932 written by
// sjis::encode, so preset files carry over from the system they were made
// on and every text loads back as it was saved.
//
// Where the file is: beside the executable, named after its base name in
// lower case plus ".ini" ("melodex.ini"), found whatever the letter case of
// the name on disk. An installed program does not write beside itself, so
// when no such file is there and the executable's folder is not writable or
// is a system one (under /usr, /bin, /sbin, /opt or the install prefix's
// bindir, which root could write), the file is "$XDG_CONFIG_HOME/melodex/"
// (else "~/.config/melodex/") plus that name.
// Every call works the path out anew: nothing is cached between calls.

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "settings/ini_types.h"
#include "settings/lock_wait.h"

namespace melodex {

// What IniGetString reads of a value: 127 bytes of the file. A longer value
// would load back as something else than was saved.
inline constexpr std::size_t kIniReadableBytes = 127;

// One section read at once, so that a preset loads from one state of the file
// even while another program saves.
struct IniSection {
    bool fileExists = false;
    bool found = false; // the file holds a section of that name
    IniValues values; // as they stand in the file (CP932)

    // As IniGetInt and IniGetString read the key.
    int getInt(const std::string& key, int defaultValue) const;
    std::string getString(const std::string& key, const std::string& defaultValue) const;
};

// The program running now, as the system names it; empty where it does not.
std::filesystem::path runningExecutable();

// The executable whose INI file is meant. Empty (the default) means the running
// one. melodex-cli names the window's executable so both share one file.
void setIniProgram(const std::filesystem::path& executable);

// Where the INI file is, or would be created.
std::filesystem::path IniFilePath();

// A value written as " 5", "-1" or "11" reads back as its number; absent, or
// not a whole decimal number, gives defaultValue.
int IniGetInt(const std::string& section, const std::string& key, int defaultValue);
// At most 127 bytes of CP932 are read, cut at a character boundary: an
// all-kanji title comes back with 63 characters at most.
std::string IniGetString(const std::string& section, const std::string& key, const std::string& defaultValue);
// False when the value could not be written; error then says where and why.
bool IniPutString(
    const std::string& section, const std::string& key, const std::string& value, IniError* error = nullptr);

// The section, or nothing when a file is there that cannot be read (error says
// why). A missing file is no error: nothing is found in it.
std::optional<IniSection> IniGetSection(const std::string& section, IniError* error = nullptr);

// Sets every key of values in one locked read-modify-write of the file; on
// failure nothing is written. While another program holds the lock, wait is
// called (LockWait: a window's "waiting" box with Cancel). The keys of
// ifPresent are set only where the section holds them already
// (profile::writeProfileSection).
bool IniPutSection(const std::string& section, const IniValues& values, IniError* error = nullptr,
    const LockWait& wait = {}, const IniValues& ifPresent = {});

// The bytes value takes in the file.
std::size_t IniStoredSize(const std::string& value);

// The section names of the INI file, decoded, in file order, each once;
// nothing when a file is there that cannot be read.
std::optional<std::vector<std::string>> IniSectionNames(IniError* error = nullptr);

} // namespace melodex
