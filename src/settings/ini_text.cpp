#include "settings/ini_text.h"

#include "common/sjis.h"
#include "common/text_rules.h"

#include <cstdint>
#include <optional>

#include <unicode/utf8.h>

namespace melodex::initext {
namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

bool isPlainAscii(std::string_view s)
{
    for (char c : s) {
        if (c < 0x20 || c > 0x7E || c == '&')
            return false;
    }
    return true;
}

// A character a reference may stand for: never one that could break a line,
// end a C string or pass for half of a UTF-16 pair.
bool mayResolveTo(std::uint32_t cp)
{
    return cp > 0x1F && cp != 0x7F && !(cp >= 0xD800 && cp <= 0xDFFF) && cp <= 0x10FFFF;
}

void appendUtf8(std::string& out, std::uint32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// The character of the numeric reference at s[i] ("&#...;") and its length.
std::optional<std::pair<std::uint32_t, std::size_t>> numericReference(std::string_view s, std::size_t i)
{
    std::size_t j = i + 2;
    if (j > s.size() || s[i + 1] != '#')
        return std::nullopt;
    const bool hex = j < s.size() && (s[j] == 'x' || s[j] == 'X');
    if (hex)
        ++j;
    const std::size_t digits = j;
    std::uint32_t cp = 0;
    for (; j < s.size(); ++j) {
        const char c = s[j];
        int d = -1;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (hex && c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (hex && c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        if (d < 0)
            break;
        cp = cp * (hex ? 16 : 10) + static_cast<std::uint32_t>(d);
        if (cp > 0x10FFFF)
            return std::nullopt; // also keeps the sum from wrapping
    }
    if (j == digits || j >= s.size() || s[j] != ';' || !mayResolveTo(cp))
        return std::nullopt;
    return std::pair { cp, j + 1 - i };
}

} // namespace

std::string encode(std::string_view utf8)
{
    // Character by character, each checked to read back as itself: ICU's
    // escaping callback silently drops the default-ignorable characters it
    // cannot convert (U+200D that joins an emoji sequence, the variation
    // selector of "❤️"), and maps a few characters one way (U+F86F to the
    // bytes of "№").
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        const std::size_t n = sjis::utf8SequenceLength(utf8, i);
        if (n == 0) {
            out += "&#65533;"; // U+FFFD for a byte that is not UTF-8
            ++i;
            continue;
        }
        const std::string_view c = utf8.substr(i, n);
        i += n;
        if (n == 1) {
            out += c == "&" ? std::string_view("&amp;") : c;
            continue;
        }
        const std::string bytes = sjis::fromUtf8(c);
        if (!bytes.empty() && bytes.front() != '&' && sjis::toUtf8(bytes) == c) {
            out += bytes;
        } else {
            UChar32 cp = 0;
            U8_GET_UNSAFE(reinterpret_cast<const uint8_t*>(c.data()), 0, cp);
            out += "&#" + std::to_string(cp) + ";";
        }
    }
    return out;
}

std::string decode(std::string_view cp932)
{
    std::string text = sjis::toUtf8(cp932);
    if (text.find('&') == std::string::npos)
        return text;
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        if (text[i] != '&') {
            out += text[i++];
        } else if (text.compare(i, 5, "&amp;") == 0) {
            out += '&';
            i += 5;
        } else if (const auto ref = numericReference(text, i)) {
            appendUtf8(out, ref->first);
            i += ref->second;
        } else {
            out += text[i++];
        }
    }
    return out;
}

std::string encodeSectionName(std::string_view utf8)
{
    const std::string bytes = encode(utf8);
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (sjis::isLeadByte(static_cast<unsigned char>(bytes[i])) && i + 1 < bytes.size()) {
            out += bytes[i];
            out += bytes[++i];
        } else if (bytes[i] == ']') {
            out += "&#93;";
        } else {
            out += bytes[i];
        }
    }
    return out;
}

std::string sectionKey(std::string_view cp932)
{
    // Nearly every name is plain ASCII, and 80,000 of them must compare fast.
    return asciiLower(isPlainAscii(cp932) ? std::string(cp932) : decode(cp932));
}

std::string quoteIfNeeded(std::string_view text)
{
    if (text.empty())
        return std::string();
    const bool enclosed
        = text.size() >= 2 && text.front() == text.back() && (text.front() == '"' || text.front() == '\'');
    if (isBlank(text.front()) || isBlank(text.back()) || enclosed)
        return "\"" + std::string(text) + "\"";
    return std::string(text);
}

} // namespace melodex::initext
