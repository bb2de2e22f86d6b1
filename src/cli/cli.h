#pragma once
// melodex-cli: the List document and the track information from the command
// line. runCli is main() without the process, so tests drive it in-process.

#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/audio_format.h"

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
    kExitWriteFailed = 4, // the document, a file or standard output could not be written
    kExitFilesUnopened = 5, // done, but some files could not be opened (each said on stderr)
};

// The exit codes as every subcommand's help gives them.
extern const char* const kExitCodesHelp;

struct Context {
    std::ostream& out;
    std::ostream& err;
    bool errIsTerminal = false; // progress bars only where a person watches
    int exitCode = kExitOk;
    bool outputFailed = false; // said once, however many lines follow
    bool quiet = false; // -q: errors only, for scripts
    bool verbose = false; // also why each file that opened holds no audio
};

// Where every error line starts: a script's log then says which program
// spoke, whatever the subcommand.
inline constexpr const char* kErrorPrefix = "melodex-cli: ";

// Starts an error line on stderr; the caller writes the rest and the "\n".
std::ostream& error(Context& ctx);

// The output name of a file written into the folder: checkOutputName's
// rules for `formats`, and "-", which a script means as standard output
// and would find as a file named "-" instead.
std::optional<std::string> checkCliOutputName(std::string_view name, const FormatSet& formats);

// True when standard output took everything written so far; otherwise says
// why once ("write error: No space left on device") and sets the exit code.
// A closed pipe or a full disk must not pass for success in a script.
bool outputStillWritable(Context& ctx);

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

// --formats on a subcommand, and the message for a word it does not know
// (empty: no word at all).
CLI::Option* addFormatsOption(CLI::App& cmd, std::string& formats);
std::string formatsError(std::string_view badWord);

// " (did you mean PINK?)" when one of `words` is a likely slip of the
// keyboard away from `word` (letter case ignored), else "": a near miss
// should not send the user to the manual.
std::string didYouMean(std::string_view word, const std::vector<std::string_view>& words);

// Each subcommand lives in its own file and registers itself here.
void addInfoCommand(CLI::App& app, Context& ctx);
void addListCommand(CLI::App& app, Context& ctx);
void addPlaylistCommand(CLI::App& app, Context& ctx);
void addPresetsCommand(CLI::App& app, Context& ctx);

} // namespace melodex::cli
