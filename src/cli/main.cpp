#include <iostream>

#include <unistd.h>

#include "cli/cli.h"

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    return melodex::cli::runCli(args, std::cout, std::cerr, isatty(STDERR_FILENO) == 1);
}
