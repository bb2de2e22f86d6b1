#include "settings/profile_file.h"

#include "common/atomic_file.h"
#include "common/sjis.h"

#include <cerrno>
#include <charconv>
#include <climits>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace melodex::profile {
namespace {

bool isLeadByte(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }
bool isBlank(char c) { return c == ' ' || c == '\t'; }
char asciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string_view trimBlanks(std::string_view s)
{
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

// The first position of an ASCII character at or after from, skipping
// double-byte characters: "ゾ" is 83 5D, and 5D is "]".
std::size_t findSingleByte(std::string_view s, char c, std::size_t from = 0)
{
    for (std::size_t i = from; i < s.size(); ++i) {
        if (isLeadByte(static_cast<unsigned char>(s[i])) && i + 1 < s.size())
            ++i;
        else if (s[i] == c)
            return i;
    }
    return std::string_view::npos;
}

struct Line {
    enum Kind { Blank, Other, Section, Key, Comment };
    Kind kind = Other;
    std::size_t begin = 0; // first byte of the line
    std::size_t end = 0;   // end of its text, before the line break
    std::size_t next = 0;  // first byte after the line break
    std::string_view name; // section name (inside the brackets, blanks kept) or key name (trimmed)
    std::string_view value; // trimmed value of a key line
    std::size_t valueBegin = 0; // first byte after "=" of a key line
};

std::vector<Line> splitLines(std::string_view text)
{
    std::vector<Line> lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
        Line line;
        line.begin = pos;
        std::size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string_view::npos)
            end = text.size();
        line.end = end;
        line.next = end;
        if (line.next < text.size() && text[line.next] == '\r')
            ++line.next;
        if (line.next < text.size() && text[line.next] == '\n')
            ++line.next;
        pos = line.next;

        const std::string_view body = text.substr(line.begin, line.end - line.begin);
        const std::string_view content = trimBlanks(body);
        if (content.empty()) {
            line.kind = Line::Blank;
        } else if (content.front() == ';' || content.front() == '#') {
            line.kind = Line::Comment;
        } else if (content.front() == '[') {
            const std::size_t close = findSingleByte(content, ']', 1);
            if (close != std::string_view::npos) {
                line.kind = Line::Section;
                // Blanks inside the brackets are part of the name: " a " is not "a".
                line.name = content.substr(1, close - 1);
            }
        } else if (const std::size_t eq = findSingleByte(body, '='); eq != std::string_view::npos) {
            line.kind = Line::Key;
            line.name = trimBlanks(body.substr(0, eq));
            line.value = trimBlanks(body.substr(eq + 1));
            line.valueBegin = line.begin + eq + 1;
        }
        lines.push_back(line);
    }
    return lines;
}

// Index of the first header of the section, or npos.
std::size_t findSection(const std::vector<Line>& lines, std::string_view section)
{
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].kind == Line::Section && sameName(lines[i].name, section))
            return i;
    }
    return std::string_view::npos;
}

// Index one past the last line of the section whose header is at index header.
std::size_t sectionEnd(const std::vector<Line>& lines, std::size_t header)
{
    std::size_t i = header + 1;
    while (i < lines.size() && lines[i].kind != Line::Section)
        ++i;
    return i;
}

std::optional<std::string> readAll(const std::filesystem::path& file, int* errorNumber = nullptr)
{
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        if (errorNumber)
            *errorNumber = errno;
        return std::nullopt;
    }
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        if (errorNumber)
            *errorNumber = errno ? errno : EIO;
        return std::nullopt;
    }
    return text;
}

// The first value of key in the first section of that name, as in the profile
// functions: later duplicates are never seen.
std::optional<std::string> findValue(std::string_view section, std::string_view key,
                                     const std::filesystem::path& file)
{
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec))
        return std::nullopt;
    const auto text = readAll(file);
    if (!text)
        return std::nullopt;
    const auto lines = splitLines(*text);
    const std::size_t header = findSection(lines, section);
    if (header == std::string_view::npos)
        return std::nullopt;
    const std::size_t end = sectionEnd(lines, header);
    for (std::size_t i = header + 1; i < end; ++i) {
        if (lines[i].kind == Line::Key && sameName(lines[i].name, key))
            return std::string(lines[i].value);
    }
    return std::nullopt;
}

bool fail(WriteError* error, const std::filesystem::path& path, std::string reason)
{
    if (error)
        *error = WriteError { path, std::move(reason) };
    return false;
}

bool hasLineBreakOrNul(std::string_view s) { return s.find_first_of(std::string_view("\r\n\0", 3)) != s.npos; }

// What the file format cannot hold: it would read back as something else or
// break the lines around it.
std::optional<std::string> unstorable(std::string_view section, std::string_view key, std::string_view value)
{
    if (hasLineBreakOrNul(section) || findSingleByte(section, ']') != std::string_view::npos)
        return "the preset name cannot hold a line break or \"]\"";
    if (key.empty() || key != trimBlanks(key) || hasLineBreakOrNul(key)
        || findSingleByte(key, '=') != std::string_view::npos || key.front() == '[' || key.front() == ';'
        || key.front() == '#')
        return "invalid key name";
    if (hasLineBreakOrNul(value))
        return "the value cannot hold a line break";
    return std::nullopt;
}

std::string editedText(std::string text, std::string_view section, std::string_view key, std::string_view value)
{
    // New lines follow the file's own line breaks; a new file gets CR LF, as
    // on the system the files are shared with.
    const bool lfOnly = text.find('\n') != std::string::npos && text.find("\r\n") == std::string::npos;
    const std::string_view eol = lfOnly ? "\n" : "\r\n";
    std::string keyLine = std::string(key) + "=" + std::string(value);

    const auto lines = splitLines(text);
    const std::size_t header = findSection(lines, section);
    if (header == std::string_view::npos) {
        std::string add;
        if (!text.empty() && text.back() != '\n' && text.back() != '\r')
            add += eol;
        if (!lines.empty() && !trimBlanks(std::string_view(text).substr(lines.back().begin,
                                                                          lines.back().end - lines.back().begin))
                                   .empty())
            add += eol;
        add += "[" + std::string(section) + "]" + std::string(eol) + keyLine + std::string(eol);
        return text + add;
    }

    const std::size_t end = sectionEnd(lines, header);
    std::size_t insertAfter = header;
    for (std::size_t i = header + 1; i < end; ++i) {
        if (lines[i].kind == Line::Key && sameName(lines[i].name, key)) {
            // Everything up to "=" stays as it was, so only the value changes.
            text.replace(lines[i].valueBegin, lines[i].end - lines[i].valueBegin, value);
            return text;
        }
        if (lines[i].kind == Line::Key || lines[i].kind == Line::Other)
            insertAfter = i;
    }
    const Line& after = lines[insertAfter];
    std::string add;
    if (after.next == after.end) // the file's last line has no line break
        add += eol;
    add += keyLine + std::string(eol);
    text.insert(after.next, add);
    return text;
}

bool replaceFile(const std::filesystem::path& target, std::string_view bytes, std::optional<mode_t> mode,
                 WriteError* error)
{
    AtomicFile::Options options;
    options.mode = mode;
    std::string reason;
    if (!replaceFileAtomically(target.string(), bytes, &reason, options))
        return fail(error, target, std::move(reason));
    return true;
}

} // namespace

bool sameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (isLeadByte(static_cast<unsigned char>(a[i])) && i + 1 < a.size()) {
            if (a[i] != b[i] || a[i + 1] != b[i + 1])
                return false;
            ++i;
        } else if (asciiLower(a[i]) != asciiLower(b[i])) {
            return false;
        }
    }
    return true;
}

int getProfileInt(std::string_view section, std::string_view key, int defaultValue,
                  const std::filesystem::path& file)
{
    const auto value = findValue(section, key, file);
    if (!value || value->empty())
        return defaultValue;
    std::string_view digits = *value;
    if (digits.front() == '+')
        digits.remove_prefix(1);
    int result = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), result);
    if (ec != std::errc() || end != digits.data() + digits.size() || digits.empty()
        || (digits.front() == '-' && *value != digits))
        return defaultValue;
    return result;
}

std::string getProfileString(std::string_view section, std::string_view key, std::string_view defaultValue,
                             std::size_t size, const std::filesystem::path& file)
{
    std::string value = findValue(section, key, file).value_or(std::string(defaultValue));
    const std::size_t room = size == 0 ? 0 : size - 1;
    value.resize(sjis::cutLength(value, room));
    return value;
}

bool writeProfileString(std::string_view section, std::string_view key, std::string_view value,
                        const std::filesystem::path& file, WriteError* error)
{
    if (const auto why = unstorable(section, key, value))
        return fail(error, file, *why);

    std::error_code ec;
    std::filesystem::path target = file;
    // Write through a link to the file it names; renaming over the link would
    // cut the user's file loose.
    if (std::filesystem::is_symlink(target, ec)) {
        const auto resolved = std::filesystem::weakly_canonical(target, ec);
        if (!ec)
            target = resolved;
    }

    std::string text;
    std::optional<mode_t> mode;
    if (std::filesystem::is_directory(target, ec)) {
        return fail(error, target, std::strerror(EISDIR));
    } else if (std::filesystem::exists(target, ec)) {
        int e = 0;
        auto existing = readAll(target, &e);
        if (!existing) // never replace a file whose contents we could not read
            return fail(error, target, std::strerror(e ? e : EIO));
        text = std::move(*existing);
        struct stat st {};
        if (::stat(target.c_str(), &st) == 0)
            mode = st.st_mode & 07777;
    } else if (!target.parent_path().empty()) {
        std::filesystem::create_directories(target.parent_path(), ec);
        if (ec)
            return fail(error, target, ec.message());
    }

    return replaceFile(target, editedText(std::move(text), section, key, value), mode, error);
}

std::vector<std::string> getProfileSectionNames(const std::filesystem::path& file)
{
    std::vector<std::string> names;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec))
        return names;
    const auto text = readAll(file);
    if (!text)
        return names;
    for (const Line& line : splitLines(*text)) {
        if (line.kind != Line::Section)
            continue;
        bool seen = false;
        for (const auto& n : names)
            seen = seen || sameName(n, line.name);
        if (!seen)
            names.emplace_back(line.name);
    }
    return names;
}

} // namespace melodex::profile
