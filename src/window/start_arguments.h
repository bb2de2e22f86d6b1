#pragma once
// What `melodex` is started with, once Qt has taken its own options
// (-platform, -style ...): at most one folder to open. Anything else is an
// error to say, not to drop: a typo in a desktop entry or a script would
// otherwise open the window somewhere unexpected without a word.

#include <string>

#include <QString>
#include <QStringList>

namespace melodex {

struct StartArguments {
    std::string folder; // as the file system spells it; empty: the current folder
    QString error; // empty when the arguments are usable
};

// args: the arguments after the program's name. "--" ends the options, so a
// folder whose name begins with "-" can still be given.
StartArguments parseStartArguments(const QStringList& args);

// The folder to open for a path given at start: the path itself, or the
// folder that holds it when it names a file (a file manager may pass one).
std::string startFolderOf(const std::string& path);

} // namespace melodex
