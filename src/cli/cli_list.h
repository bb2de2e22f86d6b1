#pragma once
// The options of `melodex-cli list` and how they make an Option set. Kept
// apart from the command so that other sources of an Option set (a preset)
// can be laid under the command-line options.

#include <optional>
#include <string>

#include "common/option_set.h"

namespace melodex::cli {

// What was given on the command line; an option not given stays empty and
// leaves the base Option set's value alone.
struct ListOptions {
    std::optional<std::string> title;
    std::optional<std::string> output;
    std::optional<std::string> columns; // "file,time,none"
    std::optional<std::string> colors; // four palette names
    std::optional<int> border;
    std::optional<std::string> unit; // byte, kb, mb
    std::optional<std::string> style; // classic, modern
    std::optional<std::string> group; // album
    std::optional<std::string> formats; // "flac,opus", "all": over the preset's Formats=
    std::optional<std::string> index; // list -r --index: the index page's name
};

// Applies the given options over base. Returns an error message for a value
// that names nothing the window could hold; base is then unchanged.
std::optional<std::string> applyListOptions(const ListOptions& given, OptionSet& base);

} // namespace melodex::cli
