#pragma once
// The profile file: an INI file read and written one value at a time, the way
// the profile functions of the system the presets come from behave. All
// strings here are bytes as they stand in the file (CP932); ini_utl converts.
//
// Lines are the unit: a write changes or inserts exactly one line and keeps
// every other byte of the file, so comments, blank lines, other sections and
// the " 3" form of values survive any number of writes.

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace melodex::profile {

struct WriteError {
    std::filesystem::path path;
    std::string reason; // the system's error text, or why the value cannot be stored
};

// The value of key in section, as a decimal integer. An absent file, section or
// key, and a value that is not a whole decimal number fitting in 32 bits
// ("abc", "12abc", "") yield defaultValue.
int getProfileInt(std::string_view section, std::string_view key, int defaultValue,
                  const std::filesystem::path& file);

// The value of key in section, or defaultValue when the file, the section or the
// key is absent; either is cut to at most size - 1 bytes, never inside a
// double-byte character.
std::string getProfileString(std::string_view section, std::string_view key, std::string_view defaultValue,
                             std::size_t size, const std::filesystem::path& file);

// Creates the file (and its folder), the section and the key as needed, or
// replaces the value of the key. The file is replaced as a whole through a
// temporary file beside it, so a failure leaves the previous file untouched.
bool writeProfileString(std::string_view section, std::string_view key, std::string_view value,
                        const std::filesystem::path& file, WriteError* error = nullptr);

// The section names in file order, each once (the first spelling); empty when
// the file cannot be read.
std::vector<std::string> getProfileSectionNames(const std::filesystem::path& file);

// ASCII letters compared without regard to case; double-byte characters, whose
// trail bytes may look like ASCII letters, compared exactly.
bool sameName(std::string_view a, std::string_view b);

} // namespace melodex::profile
