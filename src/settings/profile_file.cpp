#include "settings/profile_file.h"

#include "common/atomic_file.h"
#include "common/sjis.h"
#include "common/text_rules.h"
#include "common/trusted_path.h"
#include "common/unique_fd.h"
#include "settings/ini_text.h"
#include "settings/profile_encoding.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <climits>
#include <cstring>
#include <iterator>
#include <optional>
#include <system_error>
#include <thread>
#include <unordered_set>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace melodex::profile {
namespace {

using sjis::isLeadByte;

bool isBlank(char c) { return c == ' ' || c == '\t'; }
std::string_view trimBlanks(std::string_view s) { return trim(s, kBlanks); }

// The profile functions take off one pair of quotes around a value, so a
// value may keep blanks at its ends: Title=" x ".
std::string_view unquoted(std::string_view value)
{
    if (value.size() >= 2 && value.front() == value.back() && (value.front() == '"' || value.front() == '\''))
        return value.substr(1, value.size() - 2);
    return value;
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

// A key name in the form sameName compares: ASCII letters in lower case,
// double-byte characters as they are.
std::string keyKey(std::string_view name)
{
    std::string key(name);
    for (std::size_t i = 0; i < key.size(); ++i) {
        if (isLeadByte(static_cast<unsigned char>(key[i])) && i + 1 < key.size())
            ++i;
        else
            key[i] = asciiLower(key[i]);
    }
    return key;
}

struct Line {
    enum Kind { Blank, Other, Section, Key, Comment };
    Kind kind = Other;
    std::size_t begin = 0; // first byte of the line
    std::size_t end = 0; // end of its text, before the line break
    std::size_t next = 0; // first byte after the line break
    std::string_view name; // section name (inside the brackets, blanks kept) or key name (trimmed)
    std::string_view value; // trimmed value of a key line
    std::size_t valueBegin = 0; // first byte after "=" of a key line
};

// The line that starts at pos. Lines are taken one at a time: a file of 80,000
// presets is 1.7 million lines, and a lookup needs only a few of them. Without
// keys, key lines are not taken apart (kind Other).
Line lineAt(std::string_view text, std::size_t pos, bool keys = true)
{
    Line line;
    line.begin = pos;
    // Two memchr, not find_first_of, which calls memchr once per byte.
    const char* at = text.data() + pos;
    const auto* lf = static_cast<const char*>(std::memchr(at, '\n', text.size() - pos));
    const std::size_t lfEnd = lf ? static_cast<std::size_t>(lf - text.data()) : text.size();
    const auto* cr = static_cast<const char*>(std::memchr(at, '\r', lfEnd - pos));
    line.end = cr ? static_cast<std::size_t>(cr - text.data()) : lfEnd;
    line.next = line.end;
    if (line.next < text.size() && text[line.next] == '\r')
        ++line.next;
    if (line.next < text.size() && text[line.next] == '\n')
        ++line.next;
    if (!keys) {
        // Most lines are key lines, and only a header matters here.
        std::size_t first = line.begin;
        while (first < line.end && isBlank(text[first]))
            ++first;
        if (first < line.end && text[first] != '[')
            return line;
    }

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
    } else if (!keys) {
        line.kind = Line::Other;
    } else if (const std::size_t eq = findSingleByte(body, '='); eq != std::string_view::npos) {
        line.kind = Line::Key;
        line.name = trimBlanks(body.substr(0, eq));
        line.value = trimBlanks(body.substr(eq + 1));
        line.valueBegin = line.begin + eq + 1;
    }
    return line;
}

bool fail(IniError* error, const std::filesystem::path& path, std::string reason);

bool isLink(const std::filesystem::path& file)
{
    struct stat st { };
    return ::lstat(file.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

// Why file cannot be opened, errno e: for a link to nothing the system says
// "No such file or directory", which the user sees is not so.
std::string openFailure(const std::filesystem::path& file, int e)
{
    if (e == ENOENT && isLink(file)) {
        std::error_code ec;
        return "a dangling link (to " + std::filesystem::read_symlink(file, ec).string() + ")";
    }
    return std::strerror(e);
}

std::string notRegular(mode_t mode)
{
    if (S_ISDIR(mode))
        return std::strerror(EISDIR);
    if (S_ISFIFO(mode))
        return "not a regular file (a FIFO)";
    if (S_ISSOCK(mode))
        return "not a regular file (a socket)";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "not a regular file (a device)";
    return "not a regular file";
}

enum class Lock { Held, Unsupported, Busy, Cancelled };

// flock is advisory and every program that saves into the file takes it.
// Some file systems have no flock; the file is still replaced whole by
// rename, so saving goes on without it.
Lock takeLock(int fd, std::chrono::steady_clock::time_point started, const LockWait& wait)
{
    auto pause = std::chrono::milliseconds(1);
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            return Lock::Held;
        if (errno == EINTR)
            continue;
        if (errno != EWOULDBLOCK)
            return Lock::Unsupported;
        const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - started);
        if (waited >= kLockWaitLimit)
            return Lock::Busy;
        if (wait && !wait(waited))
            return Lock::Cancelled;
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::milliseconds(20));
    }
}

struct Opened {
    PathEntry entry;
    UniqueFd fd;
    struct stat st { };
    bool created = false;
};

// Opens file for reading, a link followed as resolveTrusted lets it and none
// in the last place. O_NONBLOCK, so that a FIFO in the file's place is
// refused, not waited on. Nothing and missing set: there is no file. With
// create, a missing file is made empty, so that two first saves have one
// file to lock.
std::optional<Opened> openProfile(
    const std::filesystem::path& file, bool create, bool& missing, IniError* error)
{
    missing = false;
    std::string why;
    auto entry = resolveTrusted(file.string(), why);
    if (!entry) {
        fail(error, file, why);
        return std::nullopt;
    }
    Opened o;
    o.entry = std::move(*entry);
    constexpr int kFlags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW;
    const int folder = o.entry.folder.get();
    const char* name = o.entry.name.c_str();
    o.fd = UniqueFd(::openat(folder, name, kFlags));
    if (!o.fd && errno == ENOENT && create && !isLink(file)) {
        o.fd = UniqueFd(::openat(folder, name, kFlags | O_CREAT | O_EXCL, 0666));
        o.created = static_cast<bool>(o.fd);
        if (!o.fd && errno == EEXIST) // another save made it meanwhile
            o.fd = UniqueFd(::openat(folder, name, kFlags));
    }
    if (!o.fd) {
        const int e = errno;
        missing = e == ENOENT && !isLink(file);
        if (!missing)
            fail(error, file, openFailure(file, e));
        return std::nullopt;
    }
    if (::fstat(o.fd.get(), &o.st) != 0) {
        fail(error, file, std::strerror(errno));
        return std::nullopt;
    }
    if (!S_ISREG(o.st.st_mode)) {
        fail(error, file, notRegular(o.st.st_mode));
        return std::nullopt;
    }
    return o;
}

// The file to save into, opened and locked. The lock must be on the file
// the name stands for once it is held: a save replaces the file by rename,
// and one that waited on the old file would miss what was saved meanwhile.
std::optional<Opened> openLocked(const std::filesystem::path& file, const LockWait& wait, IniError* error)
{
    const auto started = std::chrono::steady_clock::now();
    for (;;) {
        bool missing = false;
        auto o = openProfile(file, true, missing, error);
        if (!o) {
            if (missing)
                fail(error, file, std::strerror(ENOENT));
            return std::nullopt;
        }
        const Lock lock = takeLock(o->fd.get(), started, wait);
        if (lock == Lock::Busy || lock == Lock::Cancelled) {
            fail(error, file,
                lock == Lock::Busy ? "locked by another program"
                                   : "not saved: cancelled while another program held the file");
            return std::nullopt;
        }
        struct stat now { };
        if (lock == Lock::Held && std::chrono::steady_clock::now() - started < kLockWaitLimit
            && (::fstatat(o->entry.folder.get(), o->entry.name.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0
                || now.st_dev != o->st.st_dev || now.st_ino != o->st.st_ino))
            continue;
        return o;
    }
}

bool readFd(int fd, std::size_t sizeHint, std::string& text)
{
    text.clear();
    text.resize(sizeHint + 1);
    std::size_t got = 0;
    for (;;) {
        if (got == text.size())
            text.resize(text.size() * 2);
        const ssize_t n = ::pread(fd, text.data() + got, text.size() - got, static_cast<off_t>(got));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    text.resize(got);
    return true;
}

bool fail(IniError* error, const std::filesystem::path& path, std::string reason)
{
    if (error)
        *error = IniError { path, std::move(reason) };
    return false;
}

bool hasLineBreakOrNul(std::string_view s)
{
    return s.find_first_of(std::string_view("\r\n\0", 3)) != s.npos;
}

// What the file format cannot hold: it would read back as something else or
// break the lines around it.
std::optional<std::string> unstorable(std::string_view section, std::string_view key, std::string_view value)
{
    if (hasLineBreakOrNul(section))
        return "the preset name cannot hold a line break";
    if (findSingleByte(section, ']') != std::string_view::npos) // ini_utl writes it as a reference
        return "the preset name cannot hold \"]\"";
    if (key.empty() || key != trimBlanks(key) || hasLineBreakOrNul(key)
        || findSingleByte(key, '=') != std::string_view::npos || key.front() == '[' || key.front() == ';'
        || key.front() == '#')
        return "invalid key name";
    if (hasLineBreakOrNul(value))
        return "the value cannot hold a line break";
    return std::nullopt;
}

// Where a write changes the text: the value of each key it sets that the
// first section of that name holds, and the line after which the others go.
struct SectionEdit {
    struct Replacement {
        std::size_t begin, end;
        const std::string* value;
    };
    bool found = false;
    Line last; // the text's last line
    Line after; // the section's last key line (or other line), else its header
    std::vector<Replacement> replacements;
    std::vector<bool> done; // per value: set by a replacement
};

// One pass over the file whatever its size, and only up to the section's end.
SectionEdit findSectionEdit(std::string_view text, std::string_view section, const IniValues& values)
{
    SectionEdit edit;
    edit.done.assign(values.size(), false);
    const std::string wanted = initext::sectionKey(section);
    for (std::size_t pos = 0; pos < text.size();) {
        const Line line = lineAt(text, pos, edit.found);
        pos = line.next;
        edit.last = line;
        if (line.kind == Line::Section) {
            if (edit.found)
                break;
            if (initext::sectionKey(line.name) == wanted) {
                edit.found = true;
                edit.after = line;
            }
            continue;
        }
        if (!edit.found)
            continue;
        if (line.kind == Line::Key) {
            // The first line of a key is the one the readers see.
            for (std::size_t i = 0; i < values.size(); ++i) {
                if (!edit.done[i] && sameName(line.name, values[i].first)) {
                    edit.replacements.push_back({ line.valueBegin, line.end, &values[i].second });
                    edit.done[i] = true;
                    break;
                }
            }
        }
        if (line.kind == Line::Key || line.kind == Line::Other)
            edit.after = line;
    }
    return edit;
}

std::string keyLine(const std::pair<std::string, std::string>& kv, std::string_view eol)
{
    return kv.first + "=" + kv.second + std::string(eol);
}

// The section added at the end, after a blank line.
void appendSection(std::string& text, std::string_view section, const IniValues& values, std::string_view eol,
    const Line& last)
{
    std::string add;
    if (!text.empty() && text.back() != '\n' && text.back() != '\r')
        add += eol;
    const std::string_view lastLine = std::string_view(text).substr(last.begin, last.end - last.begin);
    if (!text.empty() && !trimBlanks(lastLine).empty())
        add += eol;
    add += "[" + std::string(section) + "]" + std::string(eol);
    for (const auto& kv : values)
        add += keyLine(kv, eol);
    text += add;
}

// Everything up to "=" stays as it was, so only the values change; keys the
// section lacks follow its last key.
void setKeys(std::string& text, const SectionEdit& edit, const IniValues& values, std::size_t added,
    std::string_view eol)
{
    // From the back, so the positions in front stay true.
    std::ptrdiff_t shift = 0;
    for (auto r = edit.replacements.rbegin(); r != edit.replacements.rend(); ++r) {
        text.replace(r->begin, r->end - r->begin, *r->value);
        shift += static_cast<std::ptrdiff_t>(r->value->size());
        shift -= static_cast<std::ptrdiff_t>(r->end - r->begin);
    }
    std::string add;
    for (std::size_t i = 0; i < added; ++i) {
        if (!edit.done[i])
            add += keyLine(values[i], eol);
    }
    if (add.empty())
        return;
    if (edit.after.next == edit.after.end) // the file's last line has no line break
        add.insert(0, eol);
    text.insert(static_cast<std::size_t>(static_cast<std::ptrdiff_t>(edit.after.next) + shift), add);
}

// The text with every key of values set in the first section of that name,
// or that section added at the end. Keys from values[added] on are set only
// where the section holds them.
std::string editedText(std::string text, std::string_view section, const IniValues& values, std::size_t added)
{
    // New lines follow the file's own line breaks; a new file gets CR LF, as
    // on the system the files are shared with.
    const bool lfOnly = text.find('\n') != std::string::npos && text.find("\r\n") == std::string::npos;
    const std::string_view eol = lfOnly ? "\n" : "\r\n";
    const SectionEdit edit = findSectionEdit(text, section, values);
    if (edit.found)
        setKeys(text, edit, values, added, eol);
    else
        appendSection(text, section,
            IniValues(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(added)), eol, edit.last);
    return text;
}

// Through links to the file they name, keeping its permissions and owner.
bool replaceFile(const std::filesystem::path& file, std::string_view bytes, IniError* error)
{
    // Nothing marks what an INI file holds, so a temporary that a killed save
    // left is known as ours by its name alone.
    AtomicFile::Options options;
    options.leftoversByName = true;
    std::string reason;
    if (!replaceFileAtomically(file.string(), bytes, &reason, options))
        return fail(error, file, std::move(reason));
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

std::optional<ProfileText> readProfile(const std::filesystem::path& file, IniError* error)
{
    // No lock: every save renames a whole file into place, so a reader sees
    // the old file or the new one, and never waits for a save.
    bool missing = false;
    auto opened = openProfile(file, false, missing, error);
    if (!opened)
        return missing ? std::optional(ProfileText {}) : std::nullopt;
    std::string bytes;
    if (!readFd(opened->fd.get(), static_cast<std::size_t>(opened->st.st_size), bytes)) {
        fail(error, file, std::strerror(errno));
        return std::nullopt;
    }
    return ProfileText { true, decodeProfile(std::move(bytes)).text };
}

std::optional<IniValues> findProfileSection(std::string_view text, std::string_view section)
{
    const std::string wanted = initext::sectionKey(section);
    bool inside = false;
    IniValues values;
    std::unordered_set<std::string> seen;
    for (std::size_t pos = 0; pos < text.size();) {
        const Line line = lineAt(text, pos, inside);
        pos = line.next;
        if (line.kind == Line::Section) {
            if (inside)
                break;
            inside = initext::sectionKey(line.name) == wanted;
        } else if (inside && line.kind == Line::Key && seen.insert(keyKey(line.name)).second) {
            values.emplace_back(line.name, unquoted(line.value));
        }
    }
    if (!inside)
        return std::nullopt;
    return values;
}

std::vector<std::string> profileSectionNames(std::string_view text)
{
    std::vector<std::string> names;
    std::unordered_set<std::string> seen;
    for (std::size_t pos = 0; pos < text.size();) {
        const Line line = lineAt(text, pos, false);
        pos = line.next;
        if (line.kind == Line::Section && seen.insert(initext::sectionKey(line.name)).second)
            names.emplace_back(line.name);
    }
    return names;
}

int parseProfileInt(std::string_view value, int defaultValue)
{
    // A quoted number may hold blanks inside its quotes.
    std::string_view digits = trimBlanks(value);
    const bool negative = !digits.empty() && digits.front() == '-';
    if (!digits.empty() && digits.front() == '+')
        digits.remove_prefix(1);
    int result = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), result);
    if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size()
        || (digits.front() == '-' && !negative))
        return defaultValue;
    return result;
}

bool writeProfileSection(std::string_view section, const IniValues& values, const std::filesystem::path& file,
    IniError* error, const LockWait& wait, const IniValues& ifPresent)
{
    if (const auto why = unstorable(section, "k", ""))
        return fail(error, file, *why);
    // A key given twice is set once, to its last value; a key of both lists
    // is set as values says.
    IniValues unique;
    const auto keepLast = [&](const IniValues& list) -> std::optional<std::string> {
        const std::size_t before = unique.size();
        for (auto kv = list.rbegin(); kv != list.rend(); ++kv) {
            if (auto why = unstorable(section, kv->first, kv->second))
                return why;
            auto same = [&](const auto& u) { return sameName(u.first, kv->first); };
            if (std::none_of(unique.begin(), unique.end(), same))
                unique.push_back(*kv);
        }
        std::reverse(unique.begin() + static_cast<std::ptrdiff_t>(before), unique.end());
        return std::nullopt;
    };
    if (const auto why = keepLast(values))
        return fail(error, file, *why);
    const std::size_t added = unique.size();
    if (const auto why = keepLast(ifPresent))
        return fail(error, file, *why);

    // The configuration folder of a user who never saved is not there yet.
    std::error_code ec;
    const std::filesystem::path folder = file.parent_path();
    if (!folder.empty() && !std::filesystem::exists(folder, ec)) {
        std::filesystem::create_directories(folder, ec);
        if (ec)
            return fail(error, file, ec.message());
    }

    // The lock is on the file a link names, which is also the file replaced.
    auto opened = openLocked(file, wait, error);
    if (!opened)
        return false;
    std::string bytes;
    // Never replace a file whose contents we could not read.
    if (!readFd(opened->fd.get(), static_cast<std::size_t>(opened->st.st_size), bytes))
        return fail(error, file, std::strerror(errno));
    const ProfileBytes read = decodeProfile(std::move(bytes));
    const std::string edited = editedText(read.text, section, unique, added);
    if (edited == read.text && !opened->created)
        return true;
    if (!replaceFile(file, encodeProfile(edited, read.encoding), error)) {
        // The empty file made to be locked is no file of the user's.
        if (opened->created)
            ::unlinkat(opened->entry.folder.get(), opened->entry.name.c_str(), 0);
        return false;
    }
    return true;
}

} // namespace melodex::profile
