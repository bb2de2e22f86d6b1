#include <filesystem>
#include <iostream>

#include <unistd.h>

#include "cli/cli.h"
#include "settings/ini_utl.h"

int main(int argc, char** argv)
{
    // Presets live in the window's INI file: the one beside "melodex" in this
    // folder, or the user's configuration folder when this folder is not writable.
    if (const auto self = melodex::runningExecutable(); !self.empty())
        melodex::setIniProgram(self.parent_path() / "melodex");
    std::vector<std::string> args(argv + 1, argv + argc);
    return melodex::cli::runCli(args, std::cout, std::cerr, isatty(STDERR_FILENO) == 1);
}
