#pragma once
// The program's INI file, one value at a time. Strings are UTF-8; the file
// holds CP932, so preset files carry over from the system they were made on.
//
// Where the file is: beside the executable, named after its base name in
// lower case plus ".ini" ("melodex.ini"), found whatever the letter case of
// the name on disk. An installed program cannot write beside itself, so when
// no such file is there and the executable's folder is not writable, the file
// is "$XDG_CONFIG_HOME/melodex/" (else "~/.config/melodex/") plus that name.
// Every call works the path out anew: nothing is cached between calls.

#include <filesystem>
#include <string>
#include <vector>

namespace melodex {

struct IniWriteError {
    std::filesystem::path path;
    std::string reason;
};

// The executable whose INI file is meant. Empty (the default) means the running
// one. melodex-cli names the window's executable so both share one file.
void setIniProgram(const std::filesystem::path& executable);
// A file to use instead of the one the rule above finds; empty restores the rule.
void setIniFile(const std::filesystem::path& file);

// Where the INI file is, or would be created.
std::filesystem::path IniFilePath();

// A value written as " 5", "-1" or "11" reads back as its number; absent, or
// not a whole decimal number, gives defaultValue.
int IniGetInt(const std::string& section, const std::string& key, int defaultValue);
// At most 127 bytes of CP932 are read, cut at a character boundary: an
// all-kanji title comes back with 63 characters at most.
std::string IniGetString(const std::string& section, const std::string& key, const std::string& defaultValue);
// False when the value could not be written; error then says where and why.
bool IniPutString(const std::string& section, const std::string& key, const std::string& value,
                  IniWriteError* error = nullptr);

// The section names of the INI file, in file order.
std::vector<std::string> IniSectionNames();

} // namespace melodex
