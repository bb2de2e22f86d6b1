#pragma once
// What the INI file's layers hand each other: a section's keys with their
// values, and why the file could not be read or written.

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace melodex {

// In file order. Whether the strings are UTF-8 or the file's CP932 bytes is
// said where a function takes or gives them.
using IniValues = std::vector<std::pair<std::string, std::string>>;

struct IniError {
    std::filesystem::path path;
    std::string reason; // the system's error text, or why the value cannot be stored
};

} // namespace melodex
