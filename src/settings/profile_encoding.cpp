#include "settings/profile_encoding.h"

#include "common/sjis.h"

#include <cstdint>

namespace melodex::profile {
namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeBom = "\xFF\xFE";
constexpr std::string_view kUtf16BeBom = "\xFE\xFF";

uint32_t unitAt(std::string_view bytes, std::size_t i, bool bigEndian)
{
    const auto b0 = static_cast<unsigned char>(bytes[i]);
    const auto b1 = static_cast<unsigned char>(bytes[i + 1]);
    return bigEndian ? (b0 << 8 | b1) : (b1 << 8 | b0);
}

// A surrogate without its partner, or an odd last byte, becomes U+FFFD.
std::string utf16ToUtf8(std::string_view bytes, bool bigEndian)
{
    std::string out;
    out.reserve(bytes.size());
    std::size_t i = 0;
    for (; i + 1 < bytes.size(); i += 2) {
        uint32_t cp = unitAt(bytes, i, bigEndian);
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 3 < bytes.size()) {
            const uint32_t low = unitAt(bytes, i + 2, bigEndian);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
        }
        sjis::appendUtf8(out, cp >= 0xD800 && cp <= 0xDFFF ? 0xFFFD : cp);
    }
    if (i < bytes.size())
        sjis::appendUtf8(out, 0xFFFD);
    return out;
}

void appendUnit(std::string& out, uint32_t unit, bool bigEndian)
{
    const auto high = static_cast<char>(unit >> 8);
    const auto low = static_cast<char>(unit & 0xFF);
    out += bigEndian ? high : low;
    out += bigEndian ? low : high;
}

std::string utf8ToUtf16(std::string_view utf8, bool bigEndian)
{
    std::string out;
    out.reserve(utf8.size() * 2);
    for (std::size_t i = 0; i < utf8.size();) {
        const std::size_t n = sjis::utf8SequenceLength(utf8, i);
        if (n == 0) { // decodeMarked gives UTF-8 only; kept safe all the same
            appendUnit(out, 0xFFFD, bigEndian);
            ++i;
            continue;
        }
        const auto b = [&](std::size_t k) { return static_cast<unsigned char>(utf8[i + k]) & 0x3Fu; };
        const auto lead = static_cast<unsigned char>(utf8[i]);
        uint32_t cp = n == 1 ? lead
            : n == 2         ? (lead & 0x1Fu) << 6 | b(1)
            : n == 3         ? (lead & 0x0Fu) << 12 | b(1) << 6 | b(2)
                             : (lead & 0x07u) << 18 | b(1) << 12 | b(2) << 6 | b(3);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            appendUnit(out, 0xD800 + (cp >> 10), bigEndian);
            appendUnit(out, 0xDC00 + (cp & 0x3FF), bigEndian);
        } else {
            appendUnit(out, cp, bigEndian);
        }
        i += n;
    }
    return out;
}

} // namespace

ProfileBytes decodeProfile(std::string bytes)
{
    const std::string_view view(bytes);
    if (view.starts_with(kUtf8Bom))
        return { FileEncoding::Cp932AfterUtf8Bom, bytes.substr(kUtf8Bom.size()) };
    if (view.starts_with(kUtf16LeBom))
        return { FileEncoding::Utf16Le, sjis::encodeMarked(utf16ToUtf8(view.substr(2), false)) };
    if (view.starts_with(kUtf16BeBom))
        return { FileEncoding::Utf16Be, sjis::encodeMarked(utf16ToUtf8(view.substr(2), true)) };
    return { FileEncoding::Cp932, std::move(bytes) };
}

std::string encodeProfile(std::string_view text, FileEncoding encoding)
{
    switch (encoding) {
    case FileEncoding::Cp932:
        break;
    case FileEncoding::Cp932AfterUtf8Bom:
        return std::string(kUtf8Bom).append(text);
    case FileEncoding::Utf16Le:
        return std::string(kUtf16LeBom) + utf8ToUtf16(sjis::decodeMarked(text), false);
    case FileEncoding::Utf16Be:
        return std::string(kUtf16BeBom) + utf8ToUtf16(sjis::decodeMarked(text), true);
    }
    return std::string(text);
}

} // namespace melodex::profile
