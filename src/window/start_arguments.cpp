#include "window/start_arguments.h"

#include <filesystem>

#include <QFile>

namespace melodex {

StartArguments parseStartArguments(const QStringList& args)
{
    StartArguments result;
    bool optionsEnded = false;
    bool folderGiven = false;
    for (const QString& arg : args) {
        if (!optionsEnded && arg == QStringLiteral("--")) {
            optionsEnded = true;
            continue;
        }
        if (!optionsEnded && arg.startsWith(QLatin1Char('-')) && arg != QStringLiteral("-")) {
            result.error = QStringLiteral("unknown option '%1'").arg(arg);
            return result;
        }
        if (folderGiven) {
            result.error = QStringLiteral("one folder at most, not also '%1'").arg(arg);
            return result;
        }
        if (arg.isEmpty()) {
            // An unset variable in a script: "" would otherwise mean the current folder.
            result.error = QStringLiteral("an empty folder name is no folder");
            return result;
        }
        folderGiven = true;
        // The bytes of the name as the file system holds them, whatever its encoding.
        result.folder = QFile::encodeName(arg).toStdString();
    }
    return result;
}

std::string startFolderOf(const std::string& path)
{
    std::error_code ec;
    const std::filesystem::path given(path);
    const auto status = std::filesystem::status(given, ec);
    if (!ec && std::filesystem::is_regular_file(status))
        return std::filesystem::absolute(given, ec).parent_path().native();
    return std::filesystem::absolute(given, ec).native();
}

} // namespace melodex
