#include "cli/cli.h"

#include <ostream>

#include <CLI/CLI.hpp>

#include "common/version.h"

namespace melodex::cli {

int runCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool errIsTerminal)
{
    Context ctx { out, err, errIsTerminal, kExitOk };
    CLI::App app { "Melodex: turns a folder of MP3 files into an HTML catalogue page (Shift_JIS).",
        "melodex-cli" };
    app.set_version_flag(
        "--version", std::string("melodex-cli ") + kVersion, "Print the program name and version");
    app.require_subcommand(1);
    addInfoCommand(app, ctx);
    addListCommand(app, ctx);
    addPresetsCommand(app, ctx);

    std::vector<std::string> reversed(args.rbegin(), args.rend()); // CLI11 parses from the back
    try {
        app.parse(reversed);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e, out, err);
        return code == 0 ? kExitOk : kExitUsage;
    }
    return ctx.exitCode;
}

} // namespace melodex::cli
