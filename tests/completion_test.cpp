// The bash completion keeps its words by hand, apart from the options CLI11
// knows. These tests hold it to --help both ways, so that a command or an
// option added to one and not the other fails here, naming the word, the
// script and the place in it.

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "cli/cli.h"
#include "test_support.h"

using namespace melodex;
using melodex::test::TempDir;
namespace fs = std::filesystem;

namespace {

using Words = std::set<std::string>;
constexpr const char* kScript = MELODEX_BASH_COMPLETION;

// What one --help names. CLI11 writes a section header ("Options:"), then one
// line a name: two spaces, the names ("-o,--output"), a type where the
// option takes a value ("TEXT", "INT:INT in [0 - 15]"), two spaces or more
// and the description.
struct Help {
    Words commands;
    Words options; // each spelling alone: "-o" and "--output"
    Words valued; // the spellings that take the next word as their value
    bool positional = false;
};

Help help(const std::vector<std::string>& args)
{
    Help help;
    std::istringstream text(test::runCli(args).out);
    std::string section;
    for (std::string line; std::getline(text, line);) {
        if (line.empty()) {
            section.clear();
        } else if (line.back() == ':' && !line.starts_with(' ')) {
            section = line;
        } else if (!section.empty() && line.starts_with("  ")) {
            std::istringstream column(line.substr(2, line.find("  ", 2) - 2));
            std::string names, type;
            column >> names >> type;
            const bool valued = type.size() >= 2 && std::isupper(static_cast<unsigned char>(type[0]))
                && std::isupper(static_cast<unsigned char>(type[1]));
            if (section == "Subcommands:")
                help.commands.insert(names);
            else if (section == "Positionals:")
                help.positional = true;
            else if (names.starts_with("-")) {
                std::istringstream spellings(names);
                for (std::string name; std::getline(spellings, name, ',');) {
                    help.options.insert(name);
                    if (valued)
                        help.valued.insert(name);
                }
            }
        }
    }
    return help;
}

std::string quoted(const std::string& word)
{
    std::string result = "'";
    for (const char c : word)
        result += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return result + "'";
}

// Presses Tab after `words` (the last one is the word being completed) in a
// bash that has sourced the script, found its function through `complete
// -p` and run it there as readline would. compopt works only in a completion
// readline started, so here it does nothing.
constexpr const char* kPressTab = R"(compopt() { :; }
source "$1" || exit 1
shift
COMP_WORDS=("$@") COMP_CWORD=$(($# - 1)) COMP_LINE="$*" COMP_POINT=${#COMP_LINE}
registered=$(complete -p melodex-cli) || exit 1
fn=${registered#*-F } fn=${fn%% *}
"$fn" "$1" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
printf '%s\n' "${COMPREPLY[@]}")";

Words offered(const std::vector<std::string>& words, const fs::path& folder = fs::temp_directory_path())
{
    std::string command
        = "cd " + quoted(folder) + " && bash -c " + quoted(kPressTab) + " bash " + quoted(kScript);
    for (const auto& word : words)
        command += " " + quoted(word);
    Words result;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        ADD_FAILURE() << "cannot start bash";
        return result;
    }
    std::string output;
    for (int c; (c = std::fgetc(pipe)) != EOF;)
        output += static_cast<char>(c);
    EXPECT_EQ(pclose(pipe), 0) << "bash with " << kScript << " failed for: " << command;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);)
        if (!line.empty())
            result.insert(line);
    return result;
}

std::string joined(const std::vector<std::string>& words)
{
    std::string text;
    for (const auto& word : words)
        text += (text.empty() ? "" : " ") + word;
    return text;
}

// One failure per word that only one side has, saying where to add it:
// `place` names the list in the script.
void expectSameWords(const std::string& what, const Words& named, const std::vector<std::string>& helpArgs,
    const std::vector<std::string>& tab, const std::string& place)
{
    const std::string helpCall = "`melodex-cli " + joined(helpArgs) + "`";
    const std::string tabCall = "`" + joined(tab) + "<Tab>`";
    const Words completed = offered(tab);
    for (const auto& word : named)
        if (!completed.contains(word))
            ADD_FAILURE() << helpCall << " names the " << what << " " << word << ", which " << kScript
                          << " does not offer for " << tabCall << ": add it to " << place << ".";
    for (const auto& word : completed)
        if (!named.contains(word))
            ADD_FAILURE() << kScript << " offers the " << what << " " << word << " for " << tabCall
                          << ", which " << helpCall << " does not name: take it out of " << place << ".";
}

} // namespace

TEST(BashCompletion, OffersEachCommandAndOptionThatHelpNamesAndNoOther)
{
    const Help top = help({ "--help" });
    ASSERT_FALSE(top.commands.empty()) << "no subcommands found in `melodex-cli --help`";
    expectSameWords("command", top.commands, { "--help" }, { "melodex-cli", "" },
        "the commands the `\"\")` case offers, and add a case for a new command");
    expectSameWords(
        "option", top.options, { "--help" }, { "melodex-cli", "-" }, "`options` of the `\"\")` case");
    for (const auto& command : top.commands)
        expectSameWords("option", help({ command, "--help" }).options, { command, "--help" },
            { "melodex-cli", command, "-" }, "`options` of the `" + command + ")` case");
}

// An option the script takes for a flag lets the next word be completed as
// the folder; one it takes for valued swallows the folder.
TEST(BashCompletion, KnowsWhichOptionsTakeAValue)
{
    const TempDir dir;
    fs::create_directory(dir.path() / "below");
    for (const auto& command : help({ "--help" }).commands) {
        const Help h = help({ command, "--help" });
        if (!h.positional)
            continue;
        for (const auto& option : h.options) {
            const bool valued = h.valued.contains(option);
            const bool folderOffered
                = offered({ "melodex-cli", command, option, "" }, dir.path()).contains("below");
            EXPECT_NE(folderOffered, valued)
                << "`melodex-cli " << command << " --help` shows " << option
                << (valued ? " taking a value, but " : " as a flag, but ") << kScript
                << (valued ? " completes the word after it as the folder: add it to"
                           : " completes no folder after it: take it out of")
                << " `valued` of the `" << command << ")` case.";
        }
    }
}

TEST(BashCompletion, CompletesValuesFoldersAndPresetNames)
{
    const TempDir dir;
    fs::create_directory(dir.path() / "below");
    dir.write("b.mp3");
    // Stands in for the installed program: the script asks it for the names.
    const fs::path fake
        = dir.write("fake-cli", "#!/bin/sh\n[ \"$1\" = presets ] && printf 'save_key_ 0\\nmy preset\\n'\n");
    ::chmod(fake.c_str(), 0755);
    struct Case {
        std::vector<std::string> words;
        Words expected;
    };
    const Case cases[] = {
        { { "melodex-cli", "-h", "l" }, { "list" } },
        { { "melodex-cli", "list", "--unit", "" }, { "byte", "kb", "mb" } },
        { { "melodex-cli", "list", "--unit", "=", "k" }, { "kb" } },
        { { "melodex-cli", "list", "--columns", "file,t" }, { "file,time", "file,track" } },
        { { "melodex-cli", "list", "--style", "modern", "--columns", "file,t" },
            { "file,time", "file,track", "file,tracknumber" } },
        { { "melodex-cli", "list", "--style", "modern", "--group", "" }, { "album" } },
        { { "melodex-cli", "list", "--border", "1" }, { "1", "10", "11", "12", "13", "14", "15" } },
        { { "melodex-cli", "list", "--title", "" }, {} },
        { { "melodex-cli", "list", "-r", "--title", "x", "" }, { "below" } },
        { { "melodex-cli", "info", "b" }, { "below" } },
        { { fake.string(), "list", "--preset", "" }, { "save_key_\\ 0", "my\\ preset" } },
        { { fake.string(), "list", "--preset", "save_key_\\ " }, { "save_key_\\ 0" } },
        { { fake.string(), "list", "--preset", "\"my" }, { "my\\ preset" } },
    };
    for (const auto& c : cases)
        EXPECT_EQ(offered(c.words, dir.path()), c.expected) << joined(c.words) << "<Tab>";
}

TEST(BashCompletion, OffersOnlyValuesTheCliAccepts)
{
    const TempDir empty;
    using Line = std::vector<std::string>;
    const Line classic, modern { "--style", "modern" };
    for (const auto& [style, option] : { std::pair(classic, "--unit"), std::pair(classic, "--columns"),
             std::pair(classic, "--border"), std::pair(classic, "--style"), std::pair(modern, "--columns"),
             std::pair(modern, "--group"), std::pair(classic, "--formats") }) {
        Line line { "melodex-cli", "list" };
        line.insert(line.end(), style.begin(), style.end());
        line.insert(line.end(), { option, "" });
        const Words values = offered(line, empty.path());
        EXPECT_FALSE(values.empty()) << option;
        for (const auto& value : values) {
            Line args { "list", empty.path().string() };
            args.insert(args.end(), style.begin(), style.end());
            args.insert(args.end(), { option, value });
            const test::CliRun r = test::runCli(args);
            EXPECT_EQ(r.code, cli::kExitNoMp3Files) << kScript << " offers " << option << " " << value
                                                    << ", which melodex-cli list refuses: " << r.err;
        }
    }
}
