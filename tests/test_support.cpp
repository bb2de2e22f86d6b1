#include "test_support.h"

#include "cli/cli.h"

#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <stdexcept>

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

namespace melodex::test {

TempDir::TempDir(std::string_view tag)
{
    std::random_device rd;
    for (int attempt = 0; attempt < 100; ++attempt) {
        auto candidate
            = std::filesystem::temp_directory_path() / (std::string(tag) + "-" + std::to_string(rd()));
        if (std::filesystem::create_directory(candidate)) {
            path_ = candidate;
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::permissions(
        path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
}

std::filesystem::path TempDir::write(const std::string& name, std::string_view bytes) const
{
    auto p = path_ / name;
    std::ofstream f(p, std::ios::binary);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return p;
}

std::string readFile(const std::filesystem::path& path)
{
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

CliRun runCli(const std::vector<std::string>& args)
{
    std::ostringstream out, err;
    const int code = cli::runCli(args, out, err);
    return { code, out.str(), err.str() };
}

bool canChangeUsers() { return ::geteuid() == 0; }

std::string runAs(unsigned uid, const std::function<std::string()>& fn)
{
    int fds[2];
    if (::pipe(fds) != 0)
        return "<no pipe>";
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        if (uid != 0
            && (::setgroups(0, nullptr) != 0 || ::setresgid(uid, uid, uid) != 0
                || ::setresuid(uid, uid, uid) != 0))
            ::_exit(2);
        const std::string result = fn();
        const bool sent
            = ::write(fds[1], result.data(), result.size()) == static_cast<ssize_t>(result.size());
        ::_exit(sent ? 0 : 3);
    }
    ::close(fds[1]);
    std::string result;
    char buf[4096];
    for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;)
        result.append(buf, static_cast<std::size_t>(n));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return "<the child as user " + std::to_string(uid) + " failed: " + std::to_string(status) + ">";
    return result;
}

std::string intBytes(uint64_t v, std::size_t n, bool bigEndian)
{
    std::string out(n, '\0');
    for (std::size_t i = 0; i < n && i < 8; ++i)
        out[bigEndian ? n - 1 - i : i] = static_cast<char>(v >> (8 * i));
    return out;
}

} // namespace melodex::test
