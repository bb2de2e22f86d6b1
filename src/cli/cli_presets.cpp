#include "cli/cli.h"

#include <CLI/CLI.hpp>

namespace melodex::cli {

void addPresetsCommand(CLI::App& app, Context& ctx)
{
    auto* cmd = app.add_subcommand("presets", "(not available yet)");
    cmd->callback([&ctx] { ctx.exitCode = kExitFailure; ctx.err << "presets: not implemented yet\n"; });
}

} // namespace melodex::cli
