#include "cli/cli.h"

#include <CLI/CLI.hpp>

namespace melodex::cli {

void addInfoCommand(CLI::App& app, Context& ctx)
{
    auto* cmd = app.add_subcommand("info", "Print each MP3 file's tags and stream data, one tab-separated line per file.");
    auto folder = std::make_shared<std::string>();
    cmd->add_option("FOLDER", *folder, "Folder whose MP3 files are read")->required();
    cmd->callback([&ctx, folder] { ctx.exitCode = kExitFailure; ctx.err << "info: not implemented yet\n"; });
}

} // namespace melodex::cli
