#pragma once
// A test's own INI file: the "executable" lives in a fresh temporary folder and
// the user's configuration folder is another one, so no test touches the real
// ones.

#include "settings/ini_utl.h"
#include "test_support.h"

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

namespace melodex::test {

// Points the INI functions at a fresh "executable" folder and a fresh user
// configuration folder for as long as it lives, then puts everything back.
class ScopedIniPlace {
public:
    ScopedIniPlace()
    {
        if (const char* old = std::getenv("XDG_CONFIG_HOME"))
            oldXdg_ = old;
        ::setenv("XDG_CONFIG_HOME", config_.path().c_str(), 1);
        setIniProgram(dir_.path() / "Melodex");
    }
    ~ScopedIniPlace()
    {
        setIniProgram({});
        if (oldXdg_.empty())
            ::unsetenv("XDG_CONFIG_HOME");
        else
            ::setenv("XDG_CONFIG_HOME", oldXdg_.c_str(), 1);
    }
    ScopedIniPlace(const ScopedIniPlace&) = delete;
    ScopedIniPlace& operator=(const ScopedIniPlace&) = delete;

    const TempDir& dir() const { return dir_; }
    const TempDir& config() const { return config_; }
    std::filesystem::path iniPath() const { return dir_.path() / "melodex.ini"; }
    std::string iniBytes() const { return readFile(iniPath()); }
    void writeIni(std::string_view bytes) const { dir_.write("melodex.ini", bytes); }

private:
    TempDir dir_ { "melodex-ini" };
    TempDir config_ { "melodex-config" };
    std::string oldXdg_;
};

class IniFileTest : public ::testing::Test {
protected:
    std::filesystem::path iniPath() const { return ini_.iniPath(); }
    std::string iniBytes() const { return ini_.iniBytes(); }
    void writeIni(std::string_view bytes) const { ini_.writeIni(bytes); }

    ScopedIniPlace ini_;
    const TempDir& dir_ = ini_.dir();
    const TempDir& config_ = ini_.config();
};

} // namespace melodex::test
