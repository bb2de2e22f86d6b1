#include "settings/ini_text.h"

#include "common/sjis.h"
#include "common/text_rules.h"

namespace melodex::initext {
namespace {

bool isPlainAscii(std::string_view s)
{
    for (char c : s) {
        if (c < 0x20 || c > 0x7E || c == '&')
            return false;
    }
    return true;
}

} // namespace

std::string encodeSectionName(std::string_view utf8)
{
    const std::string bytes = sjis::encode(utf8);
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
    return asciiLower(isPlainAscii(cp932) ? std::string(cp932) : sjis::decode(cp932));
}

std::string quoteIfNeeded(std::string_view text)
{
    if (text.empty())
        return std::string();
    const bool enclosed
        = text.size() >= 2 && text.front() == text.back() && (text.front() == '"' || text.front() == '\'');
    if (kBlanks.find(text.front()) != std::string_view::npos
        || kBlanks.find(text.back()) != std::string_view::npos || enclosed)
        return "\"" + std::string(text) + "\"";
    return std::string(text);
}

} // namespace melodex::initext
