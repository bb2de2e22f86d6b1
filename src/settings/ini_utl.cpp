#include "settings/ini_utl.h"

#include "common/sjis.h"
#include "common/text_rules.h"
#include "settings/ini_text.h"
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

std::filesystem::path& programOverride()
{
    static std::filesystem::path path;
    return path;
}

std::filesystem::path configFolder()
{
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME");
        xdg && *xdg && std::filesystem::path(xdg).is_absolute())
        return std::filesystem::path(xdg) / "melodex";
    const char* home = std::getenv("HOME");
    if (!home || !*home) {
        if (const passwd* pw = ::getpwuid(::getuid()))
            home = pw->pw_dir;
    }
    return std::filesystem::path(home ? home : "/") / ".config" / "melodex";
}

// Where a package or `make install` puts programs. Root can write there, but
// settings do not belong beside /usr/bin/melodex; a user-owned prefix named
// at build time (~/.local) is no place for them either.
bool isSystemFolder(const std::filesystem::path& folder)
{
    const auto within = [&](const std::filesystem::path& prefix) {
        return std::mismatch(prefix.begin(), prefix.end(), folder.begin(), folder.end()).first
            == prefix.end();
    };
    for (const char* prefix : { "/usr", "/bin", "/sbin", "/opt", MELODEX_INSTALL_BINDIR }) {
        if (within(prefix))
            return true;
    }
    return false;
}

// The file in folder whose name is name but for ASCII letter case; the exact
// spelling wins when several differ only in case.
std::optional<std::filesystem::path> findIgnoringCase(
    const std::filesystem::path& folder, const std::string& name)
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

const std::string* findKey(const IniValues& values, const std::string& key)
{
    const std::string name = sjis::encode(key);
    for (const auto& [k, v] : values) {
        if (profile::sameName(k, name))
            return &v;
    }
    return nullptr;
}

} // namespace

std::filesystem::path runningExecutable()
{
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path() : exe;
}

void setIniProgram(const std::filesystem::path& executable) { programOverride() = executable; }

std::filesystem::path IniFilePath()
{
    const std::filesystem::path exe = programOverride().empty() ? runningExecutable() : programOverride();
    const std::filesystem::path folder = exe.parent_path();
    const std::string name = asciiLower(exe.stem().string()) + ".ini";

    if (auto existing = findIgnoringCase(folder, name))
        return *existing;
    if (!folder.empty() && !isSystemFolder(folder) && ::access(folder.c_str(), W_OK) == 0)
        return folder / name;
    const std::filesystem::path config = configFolder();
    return findIgnoringCase(config, name).value_or(config / name);
}

int IniSection::getInt(const std::string& key, int defaultValue) const
{
    const std::string* value = findKey(values, key);
    return value ? profile::parseProfileInt(*value, defaultValue) : defaultValue;
}

std::string IniSection::getString(const std::string& key, const std::string& defaultValue) const
{
    const std::string* value = findKey(values, key);
    if (!value)
        return defaultValue;
    // Cut before decoding, never inside a reference: a cut "&#12354;" would
    // come back as the text "&#123".
    return sjis::decode(std::string_view(*value).substr(0, sjis::cutLength(*value, kIniReadableBytes)));
}

std::optional<IniSection> IniGetSection(const std::string& section, IniError* error)
{
    const std::filesystem::path path = IniFilePath();
    try {
        const auto profile = profile::readProfile(path, error);
        if (!profile)
            return std::nullopt;
        IniSection result;
        result.fileExists = profile->exists;
        if (auto values = profile::findProfileSection(profile->text, initext::encodeSectionName(section))) {
            result.found = true;
            result.values = std::move(*values);
        }
        return result;
    } catch (const std::exception& e) {
        if (error)
            *error = IniError { path, e.what() };
        return std::nullopt;
    }
}

int IniGetInt(const std::string& section, const std::string& key, int defaultValue)
{
    const auto s = IniGetSection(section);
    return s ? s->getInt(key, defaultValue) : defaultValue;
}

std::string IniGetString(const std::string& section, const std::string& key, const std::string& defaultValue)
{
    const auto s = IniGetSection(section);
    return s ? s->getString(key, defaultValue) : defaultValue;
}

bool IniPutSection(const std::string& section, const IniValues& values, IniError* error, const LockWait& wait,
    const IniValues& ifPresent)
{
    const std::filesystem::path path = IniFilePath();
    const auto encoded = [](const IniValues& list) {
        IniValues bytes;
        bytes.reserve(list.size());
        for (const auto& [key, value] : list)
            bytes.emplace_back(sjis::encode(key), sjis::encode(value));
        return bytes;
    };
    try {
        if (profile::writeProfileSection(
                initext::encodeSectionName(section), encoded(values), path, error, wait, encoded(ifPresent)))
            return true;
    } catch (const std::exception& e) {
        if (error)
            *error = IniError { path, e.what() };
    }
    return false;
}

bool IniPutString(
    const std::string& section, const std::string& key, const std::string& value, IniError* error)
{
    return IniPutSection(section, { { key, value } }, error);
}

std::size_t IniStoredSize(const std::string& value) { return sjis::encode(value).size(); }

std::optional<std::vector<std::string>> IniSectionNames(IniError* error)
{
    const std::filesystem::path path = IniFilePath();
    try {
        const auto profile = profile::readProfile(path, error);
        if (!profile)
            return std::nullopt;
        std::vector<std::string> names;
        for (const auto& name : profile::profileSectionNames(profile->text))
            names.push_back(sjis::decode(name));
        return names;
    } catch (const std::exception& e) {
        if (error)
            *error = IniError { path, e.what() };
        return std::nullopt;
    }
}

} // namespace melodex
