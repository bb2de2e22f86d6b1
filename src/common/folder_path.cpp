#include "common/folder_path.h"

#include <filesystem>

namespace melodex {

std::string normalFolderPath(const std::string& path)
{
    std::filesystem::path p(path.empty() ? std::string("/") : path);
    if (p.is_relative()) {
        std::error_code ec;
        p = std::filesystem::current_path(ec) / p;
    }
    std::string s = p.lexically_normal().native();
    while (s.size() > 1 && s.back() == '/')
        s.pop_back();
    return s.empty() ? std::string("/") : s;
}

std::vector<std::string> folderChain(const std::string& folder)
{
    std::vector<std::string> chain { "/" };
    for (std::size_t pos = 1; pos < folder.size();) {
        std::size_t next = folder.find('/', pos);
        if (next == std::string::npos)
            next = folder.size();
        if (next > pos)
            chain.push_back(folder.substr(0, next));
        pos = next + 1;
    }
    return chain;
}

std::string folderName(const std::string& folder)
{
    if (folder == "/")
        return folder;
    const auto slash = folder.rfind('/');
    return slash == std::string::npos ? folder : folder.substr(slash + 1);
}

std::string listedFolder(std::string_view folder)
{
    std::string s(folder);
    while (s.size() > 1 && s.back() == '/')
        s.pop_back();
    return s == "/" ? std::string() : s;
}

std::string shownFolder(std::string_view folder)
{
    return folder.empty() ? std::string("/") : std::string(folder);
}

} // namespace melodex
