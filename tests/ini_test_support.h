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

class IniFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (const char* old = std::getenv("XDG_CONFIG_HOME"))
            oldXdg_ = old;
        ::setenv("XDG_CONFIG_HOME", (config_.path()).c_str(), 1);
        setIniFile({});
        setIniProgram(dir_.path() / "Melodex");
    }
    void TearDown() override
    {
        setIniProgram({});
        setIniFile({});
        if (oldXdg_.empty())
            ::unsetenv("XDG_CONFIG_HOME");
        else
            ::setenv("XDG_CONFIG_HOME", oldXdg_.c_str(), 1);
    }
    std::filesystem::path iniPath() const { return dir_.path() / "melodex.ini"; }
    std::string iniBytes() const { return readFile(iniPath()); }
    void writeIni(std::string_view bytes) const { dir_.write("melodex.ini", bytes); }

    TempDir dir_ { "melodex-ini" };
    TempDir config_ { "melodex-config" };
    std::string oldXdg_;
};

} // namespace melodex::test
