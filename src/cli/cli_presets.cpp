#include "cli/cli_presets.h"

#include <filesystem>
#include <ostream>

#include <CLI/CLI.hpp>

#include "cli/cli.h"
#include "settings/ini_utl.h"
#include "settings/option_set_store.h"

namespace melodex::cli {

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
    if (!read.found)
        return "--preset: no preset \"" + name + "\" in " + path.string();
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
            ctx.err << "presets: " << escapeForTerminal(error.path.string() + ": " + error.reason) << "\n";
            ctx.exitCode = kExitFailure;
            return;
        }
        for (const auto& name : *names)
            ctx.out << escapeForTerminal(name) << "\n";
    });
}

} // namespace melodex::cli
