#include "cli/cli.h"

#include <CLI/CLI.hpp>

namespace melodex::cli {

void addListCommand(CLI::App& app, Context& ctx)
{
    auto* cmd = app.add_subcommand("list", "(not available yet)");
    cmd->callback([&ctx] { ctx.exitCode = kExitFailure; ctx.err << "list: not implemented yet\n"; });
}

} // namespace melodex::cli
