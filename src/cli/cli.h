#pragma once
// melodex-cli: the List document and the track information from the command
// line. runCli is main() without the process, so tests drive it in-process.

#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace CLI {
class App;
class Option;
}

namespace melodex::cli {

enum ExitCode : int {
    kExitOk = 0,
    kExitFailure = 1, // a folder or preset file that cannot be read
    kExitUsage = 2, // bad options or arguments
    kExitNoMp3Files = 3, // nothing to list
    kExitWriteFailed = 4, // the document (or a file) could not be written
};

struct Context {
    std::ostream& out;
    std::ostream& err;
    bool errIsTerminal = false; // progress bars only where a person watches
    int exitCode = kExitOk;
};

// args: the arguments after the program name.
int runCli(
    const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool errIsTerminal = false);

// Text as melodex-cli prints it, so that nothing printed can clear the
// screen, reverse a line or break it into more: bytes that are not UTF-8,
// control characters and display controls (isDisplayControl: C1,
// bidirectional overrides) as \xNN. A value of `info` also writes tab, CR,
// LF and backslash as \t, \r, \n and \\, so that every byte of a column
// can be told back; a message keeps its backslashes.
enum class Printed { Message, InfoValue };
std::string escapeForTerminal(std::string_view s, Printed form = Printed::Message);
inline std::string escapeInfoValue(std::string_view s) { return escapeForTerminal(s, Printed::InfoValue); }

// The FOLDER of a subcommand, required and never empty: the root folder is
// held as "", so an empty argument (an unset variable) would mean "/".
CLI::Option* addFolderArgument(CLI::App& cmd, std::string& folder, const std::string& description);

// Each subcommand lives in its own file and registers itself here.
void addInfoCommand(CLI::App& app, Context& ctx);
void addListCommand(CLI::App& app, Context& ctx);
void addPlaylistCommand(CLI::App& app, Context& ctx);
void addPresetsCommand(CLI::App& app, Context& ctx);

} // namespace melodex::cli
