#pragma once
// Helpers shared by the core tests.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace melodex::test {

inline std::filesystem::path corpusDir() { return std::filesystem::path(MELODEX_CORPUS_DIR); }

// A fresh, empty folder under the system's temporary folder, removed when the
// object goes out of scope.
class TempDir {
public:
    explicit TempDir(std::string_view tag = "melodex-test");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    // Writes a file with the given bytes and returns its path.
    std::filesystem::path write(const std::string& name, std::string_view bytes = {}) const;

private:
    std::filesystem::path path_;
};

std::string readFile(const std::filesystem::path& path);

// v as n bytes, little-endian unless bigEndian; widths past eight bytes are
// padded with zeros (a 16-byte field of a small number).
std::string intBytes(uint64_t v, std::size_t n, bool bigEndian = false);

// melodex-cli run in-process, with what it printed.
struct CliRun {
    int code;
    std::string out;
    std::string err;
};
CliRun runCli(const std::vector<std::string>& args);

// Users that exist only as numbers, for files owned by someone else.
inline constexpr unsigned kUserA = 4001;
inline constexpr unsigned kUserB = 4002;

// What fn returns, run in a forked child as user uid (its own group, no
// others): root passes every permission check, and CI runs as root. uid 0
// runs fn as root. Only root can change users; the others skip.
bool canChangeUsers();
std::string runAs(unsigned uid, const std::function<std::string()>& fn);

} // namespace melodex::test
