#include "cli/cli_presets.h"

#include <filesystem>
#include <ostream>

#include <CLI/CLI.hpp>

#include "cli/cli.h"
#include "settings/ini_utl.h"
#include "settings/option_set_store.h"

namespace melodex::cli {
namespace {

// The numbered preset the window's menus call "save2" or "read2", if the
// name is one of those.
std::optional<std::string> menuAlias(const std::string& name)
{
    for (const std::string_view menu : { "save", "read" }) {
        for (int k = 0; k < 4; ++k) {
            if (name == std::string(menu) + std::to_string(k + 1))
                return numberedPresetName(k);
        }
    }
    return std::nullopt;
}

// The presets there are, for an error about one that is not.
std::string presetNames()
{
    const auto names = IniSectionNames();
    if (!names || names->empty())
        return "none";
    std::string list;
    for (const std::string& n : *names)
        list += (list.empty() ? "\"" : ", \"") + n + "\"";
    return list;
}

} // namespace

std::optional<std::string> loadPreset(const std::string& name, OptionSet& options)
{
    if (isBlankPresetName(name))
        return std::string("--preset: a preset name is needed");
    PresetRead read = readPreset(name);
    if (!read.options)
        return "--preset: " + read.error.path.string() + ": " + read.error.reason;
    const std::filesystem::path path = IniFilePath();
    if (!read.fileExists)
        return "--preset: no presets have been saved (" + path.string() + " does not exist)";
    // An exact section name wins; else the window's menu names reach the
    // numbered presets they stand for.
    if (const auto alias = menuAlias(name); !read.found && alias) {
        read = readPreset(*alias);
        if (!read.options)
            return "--preset: " + read.error.path.string() + ": " + read.error.reason;
    }
    if (!read.found)
        return "--preset: no preset \"" + name + "\" in " + path.string() + " (presets: " + presetNames()
            + ")";
    settleNumberBoxes(*read.options, options);
    options = *read.options;
    return std::nullopt;
}

void addPresetsCommand(CLI::App& app, Context& ctx)
{
    auto* cmd
        = app.add_subcommand("presets", "List the names of the presets saved in the window's INI file.");
    auto showPath = std::make_shared<bool>(false);
    cmd->add_flag("--path", *showPath, "Print the INI file's path instead");
    cmd->callback([&ctx, showPath] {
        const std::filesystem::path path = IniFilePath();
        if (*showPath) {
            ctx.out << escapeForTerminal(path.string()) << "\n";
            return;
        }
        // Only nothing at all is "no presets"; a link to nothing is a fault to name.
        std::error_code ec;
        if (!std::filesystem::exists(std::filesystem::symlink_status(path, ec))) {
            ctx.err << "no presets: " << escapeForTerminal(path.string()) << " does not exist\n";
            return;
        }
        IniError error;
        const auto names = IniSectionNames(&error);
        if (!names) {
            melodex::cli::error(ctx) << "presets: "
                                     << escapeForTerminal(error.path.string() + ": " + error.reason) << "\n";
            ctx.exitCode = kExitFailure;
            return;
        }
        for (const auto& name : *names)
            ctx.out << escapeForTerminal(name) << "\n";
    });
}

} // namespace melodex::cli
