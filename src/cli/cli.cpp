#include "cli/cli.h"

#include <ostream>
#include <sstream>

#include <CLI/CLI.hpp>

#include "common/version.h"

namespace melodex::cli {

CLI::Option* addFolderArgument(CLI::App& cmd, std::string& folder, const std::string& description)
{
    const CLI::Validator notEmpty(
        [](const std::string& value) {
            return value.empty() ? std::string("an empty folder name is no folder (for the root, give \"/\")")
                                 : std::string();
        },
        "");
    return cmd.add_option("FOLDER", folder, description)->required()->check(notEmpty);
}

int runCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool errIsTerminal)
{
    Context ctx { out, err, errIsTerminal, kExitOk };
    CLI::App app { "Melodex: turns a folder of MP3 files into an HTML catalogue page (Shift_JIS).",
        "melodex-cli" };
    app.set_version_flag(
        "--version", std::string("melodex-cli ") + kVersion, "Print the program name and version");
    app.require_subcommand(1);
    // A refused argument is repeated as given, and printed as any name is.
    app.failure_message([](const CLI::App* failed, const CLI::Error& e) {
        std::string message;
        std::istringstream lines(CLI::FailureMessage::simple(failed, e));
        for (std::string line; std::getline(lines, line);)
            message += escapeForTerminal(line) + "\n";
        return message;
    });
    addInfoCommand(app, ctx);
    addListCommand(app, ctx);
    addPlaylistCommand(app, ctx);
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
