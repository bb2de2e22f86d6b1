#include "cli/cli.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ostream>
#include <sstream>

#include <CLI/CLI.hpp>

#include "common/text_rules.h"
#include "common/version.h"
#include "listgen/list_document.h"

namespace melodex::cli {

const char* const kExitCodesHelp = R"(Exit codes:
  0  done
  1  the folder, a preset or the INI file cannot be read; interrupted
  2  bad options or arguments
  3  no files of the listed formats (list)
  4  a list, a file or standard output could not be written
  5  done, but some files could not be opened (each named on stderr)
With list -r the worst outcome counts, in the order 4, 1, 5, 3.)";

std::ostream& error(Context& ctx) { return ctx.err << kErrorPrefix; }

std::optional<std::string> checkCliOutputName(std::string_view name, const FormatSet& formats)
{
    if (trim(name) == "-")
        return std::string("\"-\" is no file name here: the list is written into the folder, not to standard "
                           "output");
    return checkOutputName(name, formats);
}

bool outputStillWritable(Context& ctx)
{
    if (ctx.out.good())
        return true;
    const int why = errno; // before anything else can change it
    if (!ctx.outputFailed) {
        ctx.outputFailed = true;
        error(ctx) << "write error" << (why != 0 ? std::string(": ") + std::strerror(why) : std::string())
                   << "\n";
    }
    ctx.exitCode = kExitWriteFailed;
    return false;
}

namespace {

std::size_t editDistance(std::string_view a, std::string_view b)
{
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({ row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1) });
            diagonal = above;
        }
    }
    return row[b.size()];
}

} // namespace

std::string didYouMean(std::string_view word, const std::vector<std::string_view>& words)
{
    const std::string typed = asciiLower(std::string(word));
    std::string_view best;
    std::size_t bestDistance = std::string::npos;
    for (const std::string_view w : words) {
        const std::size_t d = editDistance(typed, asciiLower(std::string(w)));
        if (d < bestDistance) {
            bestDistance = d;
            best = w;
        }
    }
    // Two slips, or a third of a long word: "blakc" finds BLACK, "xyz" nothing.
    if (!best.empty() && bestDistance > 0 && bestDistance < typed.size()
        && bestDistance <= std::max<std::size_t>(2, typed.size() / 3))
        return " (did you mean " + std::string(best) + "?)";
    // A part of a longer name: "pink" finds DEEPPINK, HOTPINK and LIGHTPINK.
    std::string containing;
    for (const std::string_view w : words) {
        if (typed.size() >= 3 && asciiLower(std::string(w)).find(typed) != std::string::npos)
            containing += (containing.empty() ? "" : ", ") + std::string(w);
    }
    return containing.empty() ? std::string() : " (did you mean " + containing + "?)";
}

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

namespace {

std::string formatNames()
{
    std::string names;
    for (const AudioFormatRow& row : kAudioFormats)
        names += std::string(row.name) + ", ";
    return names + "all";
}

} // namespace

CLI::Option* addFormatsOption(CLI::App& cmd, std::string& formats)
{
    return cmd.add_option("--formats", formats,
        "Comma-separated formats whose files are read: " + formatNames()
            + " (every one but .mp4 files, which are mostly video); extensions are accepted too (default: "
              "mp3)");
}

std::string formatsError(std::string_view badWord)
{
    if (badWord.empty())
        return "a comma-separated list of formats is needed (" + formatNames() + ")";
    std::vector<std::string_view> words { "all" };
    for (const AudioFormatRow& row : kAudioFormats)
        words.push_back(row.name);
    return "unknown format \"" + std::string(badWord) + "\"" + didYouMean(badWord, words) + " ("
        + formatNames() + ")";
}

int runCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool errIsTerminal)
{
    Context ctx { out, err, errIsTerminal, kExitOk };
    CLI::App app { "Melodex: turns a folder of MP3 files into an HTML catalogue page (Shift_JIS).",
        "melodex-cli" };
    app.set_version_flag(
        "--version", std::string("melodex-cli ") + kVersion, "Print the program name and version");
    app.require_subcommand(1);
    app.footer(kExitCodesHelp);
    // A refused argument is repeated as given, and printed as any name is.
    app.failure_message([](const CLI::App* failed, const CLI::Error& e) {
        std::string message;
        std::istringstream lines(CLI::FailureMessage::simple(failed, e));
        for (std::string line; std::getline(lines, line);)
            message += (message.empty() ? kErrorPrefix : "") + escapeForTerminal(line) + "\n";
        return message;
    });
    addInfoCommand(app, ctx);
    addListCommand(app, ctx);
    addPlaylistCommand(app, ctx);
    addPresetsCommand(app, ctx);
    for (CLI::App* sub : app.get_subcommands({}))
        sub->footer(sub->get_footer() + (sub->get_footer().empty() ? "" : "\n\n") + kExitCodesHelp);

    // The app would only say that a subcommand is required: the word given
    // is no option (the program takes none with a value), so it was meant
    // as a command.
    std::string names;
    bool known = false;
    for (CLI::App* sub : app.get_subcommands({})) {
        names += (names.empty() ? "" : ", ") + sub->get_name();
        known = known || (!args.empty() && sub->check_name(args.front()));
    }
    if (!args.empty() && !args.front().starts_with('-') && !known) {
        error(ctx) << "unknown command '" << escapeForTerminal(args.front()) << "' (commands: " << names
                   << ")\n";
        return kExitUsage;
    }

    std::vector<std::string> reversed(args.rbegin(), args.rend()); // CLI11 parses from the back
    try {
        app.parse(reversed);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e, out, err);
        if (code == 0) {
            out.flush();
            outputStillWritable(ctx); // --help into a full disk is no success either
            return ctx.exitCode;
        }
        return kExitUsage;
    }
    out.flush();
    outputStillWritable(ctx);
    return ctx.exitCode;
}

} // namespace melodex::cli
