#include "settings/ini_utl.h"

#include "common/sjis.h"
#include "settings/profile_file.h"

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <optional>
#include <system_error>

#include <pwd.h>
#include <unistd.h>

namespace melodex {
namespace {

// The platform's read buffer holds 128 bytes, the terminating NUL included.
constexpr std::size_t kReadSize = 128;

std::filesystem::path& programOverride()
{
    static std::filesystem::path path;
    return path;
}

std::filesystem::path& fileOverride()
{
    static std::filesystem::path path;
    return path;
}

std::string asciiLower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(),
                   [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; });
    return s;
}

std::filesystem::path runningExecutable()
{
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path() : exe;
}

std::filesystem::path configFolder()
{
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg && std::filesystem::path(xdg).is_absolute())
        return std::filesystem::path(xdg) / "melodex";
    const char* home = std::getenv("HOME");
    if (!home || !*home) {
        if (const passwd* pw = ::getpwuid(::getuid()))
            home = pw->pw_dir;
    }
    return std::filesystem::path(home ? home : "/") / ".config" / "melodex";
}

// The file in folder whose name is name but for ASCII letter case; the exact
// spelling wins when several differ only in case.
std::optional<std::filesystem::path> findIgnoringCase(const std::filesystem::path& folder, const std::string& name)
{
    std::error_code ec;
    if (std::filesystem::is_regular_file(folder / name, ec))
        return folder / name;
    std::optional<std::filesystem::path> found;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string candidate = it->path().filename().string();
        if (asciiLower(candidate) == name && !it->is_directory(ec) && (!found || it->path() < *found))
            found = it->path();
    }
    return found;
}

std::string toFile(const std::string& utf8) { return sjis::fromUtf8(utf8); }
std::string fromFile(const std::string& cp932) { return sjis::resolveReferences(sjis::toUtf8(cp932)); }

} // namespace

void setIniProgram(const std::filesystem::path& executable) { programOverride() = executable; }
void setIniFile(const std::filesystem::path& file) { fileOverride() = file; }

std::filesystem::path IniFilePath()
{
    if (!fileOverride().empty())
        return fileOverride();
    const std::filesystem::path exe = programOverride().empty() ? runningExecutable() : programOverride();
    const std::filesystem::path folder = exe.parent_path();
    const std::string name = asciiLower(exe.stem().string()) + ".ini";

    if (auto existing = findIgnoringCase(folder, name))
        return *existing;
    if (!folder.empty() && ::access(folder.c_str(), W_OK) == 0)
        return folder / name;
    const std::filesystem::path config = configFolder();
    return findIgnoringCase(config, name).value_or(config / name);
}

int IniGetInt(const std::string& section, const std::string& key, int defaultValue)
{
    try {
        return profile::getProfileInt(toFile(section), toFile(key), defaultValue, IniFilePath());
    } catch (const std::exception&) {
        return defaultValue;
    }
}

std::string IniGetString(const std::string& section, const std::string& key, const std::string& defaultValue)
{
    try {
        return fromFile(
            profile::getProfileString(toFile(section), toFile(key), toFile(defaultValue), kReadSize, IniFilePath()));
    } catch (const std::exception&) {
        return defaultValue;
    }
}

bool IniPutString(const std::string& section, const std::string& key, const std::string& value,
                  IniWriteError* error)
{
    const std::filesystem::path path = IniFilePath();
    try {
        profile::WriteError e;
        if (profile::writeProfileString(toFile(section), toFile(key), toFile(value), path, &e))
            return true;
        if (error)
            *error = IniWriteError { e.path, e.reason };
    } catch (const std::exception& e) {
        if (error)
            *error = IniWriteError { path, e.what() };
    }
    return false;
}

std::vector<std::string> IniSectionNames()
{
    std::vector<std::string> names;
    try {
        for (const auto& name : profile::getProfileSectionNames(IniFilePath()))
            names.push_back(fromFile(name));
    } catch (const std::exception&) {
    }
    return names;
}

} // namespace melodex
