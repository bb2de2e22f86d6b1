#include "cli/cli_presets.h"

#include <filesystem>
#include <ostream>

#include <CLI/CLI.hpp>

#include "cli/cli.h"
#include "settings/ini_utl.h"
#include "settings/option_set_store.h"

namespace melodex::cli {
namespace {

// Section names match as the INI file matches them: ASCII letters without
// regard to case. UTF-8 keeps every other character out of the ASCII range.
bool samePresetName(const std::string& a, const std::string& b)
{
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

} // namespace

std::optional<std::string> loadPreset(const std::string& name, OptionSet& options)
{
    if (isBlankPresetName(name))
        return std::string("--preset: a preset name is needed");
    const std::filesystem::path path = IniFilePath();
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec))
        return "--preset: no presets have been saved (" + path.string() + " does not exist)";
    bool found = false;
    for (const auto& section : IniSectionNames())
        found = found || samePresetName(section, name);
    if (!found)
        return "--preset: no preset \"" + name + "\" in " + path.string();
    auto loaded = readOptionSet(name);
    settleNumberBoxes(*loaded, options);
    options = *loaded;
    return std::nullopt;
}

void addPresetsCommand(CLI::App& app, Context& ctx)
{
    auto* cmd = app.add_subcommand("presets", "List the names of the presets saved in the window's INI file.");
    auto showPath = std::make_shared<bool>(false);
    cmd->add_flag("--path", *showPath, "Print the INI file's path instead");
    cmd->callback([&ctx, showPath] {
        const std::filesystem::path path = IniFilePath();
        if (*showPath) {
            ctx.out << path.string() << "\n";
            return;
        }
        std::error_code ec;
        if (!std::filesystem::exists(path, ec)) {
            ctx.err << "no presets: " << path.string() << " does not exist\n";
            return;
        }
        for (const auto& name : IniSectionNames())
            ctx.out << name << "\n";
    });
}

} // namespace melodex::cli
