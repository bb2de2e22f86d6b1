#include "common/sjis.h"

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <vector>

#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>
#include <unicode/ustring.h>
#include <unicode/utf8.h>

namespace melodex::sjis
{
namespace
{

// "windows-31j" is the one ICU alias that names Microsoft's table alone
// (0x8160 is U+FF5E, NEC and IBM extensions included); "cp932" is also an
// alias of an IBM table in ICU 72.
constexpr const char* kConverterName = "windows-31j";

struct ConverterCloser {
    void operator()(UConverter* c) const { ucnv_close(c); }
};
using ConverterPtr = std::unique_ptr<UConverter, ConverterCloser>;

ConverterPtr openConverter(const char* name)
{
    UErrorCode status = U_ZERO_ERROR;
    ConverterPtr c(ucnv_open(name, &status));
    if (U_FAILURE(status) || !c)
        throw std::runtime_error(
            std::string("ICU cannot open the ") + name + " converter: " + u_errorName(status));
    return c;
}

// Opening a converter costs more than most conversions; keep one per thread.
UConverter* converter()
{
    thread_local ConverterPtr conv = openConverter(kConverterName);
    ucnv_reset(conv.get());
    return conv.get();
}

// Every byte has a character here (0x81, 0x8D, 0x8F, 0x90 and 0x9D the C1
// controls of the same value), so the conversion never fails.
UConverter* windows1252()
{
    thread_local ConverterPtr conv = openConverter("windows-1252");
    ucnv_reset(conv.get());
    return conv.get();
}

std::u16string utf8ToUtf16(std::string_view utf8)
{
    std::u16string out(utf8.size(), u'\0');
    int32_t length = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strFromUTF8WithSub(reinterpret_cast<UChar*>(out.data()), static_cast<int32_t>(out.size()), &length,
        utf8.data(), static_cast<int32_t>(utf8.size()), 0xFFFD, nullptr, &status);
    if (U_FAILURE(status))
        return {};
    out.resize(static_cast<std::size_t>(length));
    return out;
}

std::string utf16ToUtf8(std::u16string_view utf16)
{
    std::string out(utf16.size() * 3, '\0');
    int32_t length = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strToUTF8WithSub(out.data(), static_cast<int32_t>(out.size()), &length,
        reinterpret_cast<const UChar*>(utf16.data()), static_cast<int32_t>(utf16.size()), 0xFFFD, nullptr,
        &status);
    if (U_FAILURE(status))
        return {};
    out.resize(static_cast<std::size_t>(length));
    return out;
}

void appendUtf8(std::string& out, uint32_t cp)
{
    char buf[4];
    int32_t i = 0;
    UBool error = false;
    U8_APPEND(reinterpret_cast<uint8_t*>(buf), i, 4, static_cast<UChar32>(cp), error);
    if (!error)
        out.append(buf, static_cast<std::size_t>(i));
}

// ICU substitutes U+001A for bytes a single-byte-substitute converter cannot
// read; U+FFFD says what happened.
void toUnicodeReplacement(const void*, UConverterToUnicodeArgs* args, const char*, int32_t,
    UConverterCallbackReason reason, UErrorCode* status)
{
    if (reason > UCNV_IRREGULAR)
        return;
    static const UChar kReplacement[] = { 0xFFFD };
    *status = U_ZERO_ERROR;
    ucnv_cbToUWriteUChars(args, kReplacement, 1, 0, status);
}

bool isLeadByte(unsigned char b)
{
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

bool isTrailByte(unsigned char b)
{
    return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC);
}

bool isAscii(std::string_view s)
{
    for (char c : s) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    }
    return true;
}

// CP932 that a Japanese tagger wrote: at least one double-byte character and
// no user-defined (F0-F9) or unassigned codes. The user-defined area is what
// rules out most Latin-1 accidents: "Bj\xF6rk" pairs F6 with "r".
bool isJapaneseCp932(std::string_view s)
{
    int doubles = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const auto b = static_cast<unsigned char>(s[i]);
        if (b < 0x80 || (b >= 0xA1 && b <= 0xDF))
            continue;
        if (!isLeadByte(b) || (b >= 0xF0 && b <= 0xF9) || i + 1 >= s.size()
            || !isTrailByte(static_cast<unsigned char>(s[i + 1])))
            return false;
        ++doubles;
        ++i;
    }
    return doubles > 0 && isValid(s);
}

// True when the last byte is a lead byte that starts a character of its own.
bool endsInLoneLead(std::string_view s)
{
    std::size_t i = 0;
    while (i < s.size()) {
        const auto b = static_cast<unsigned char>(s[i]);
        if (isLeadByte(b)) {
            if (i + 1 == s.size())
                return true;
            i += 2;
        } else {
            ++i;
        }
    }
    return false;
}

} // namespace

// Printable ASCII is the same bytes in UTF-8 and CP932; most tag texts and
// file names are nothing else, and they need no converter.
namespace
{
bool isPrintableAscii(std::string_view s)
{
    return std::all_of(s.begin(), s.end(), [](char c) { return c >= 0x20 && c <= 0x7E; });
}
} // namespace

std::string fromUtf8(std::string_view utf8, Amp amp)
{
    if (isPrintableAscii(utf8) && (amp == Amp::Keep || utf8.find('&') == std::string_view::npos))
        return std::string(utf8);
    std::u16string text = utf8ToUtf16(utf8);
    if (amp == Amp::Reference) {
        std::u16string escaped;
        escaped.reserve(text.size());
        for (char16_t c : text) {
            if (c == u'&')
                escaped += u"&amp;";
            else
                escaped += c;
        }
        text.swap(escaped);
    }
    UConverter* conv = converter();
    UErrorCode status = U_ZERO_ERROR;
    ucnv_setFromUCallBack(conv, UCNV_FROM_U_CALLBACK_ESCAPE, UCNV_ESCAPE_XML_DEC, nullptr, nullptr, &status);
    // A reference is at most "&#1114111;" (10 bytes) for one or two UTF-16 units.
    std::string out(text.size() * 10 + 16, '\0');
    status = U_ZERO_ERROR;
    const int32_t length = ucnv_fromUChars(conv, out.data(), static_cast<int32_t>(out.size()),
        reinterpret_cast<const UChar*>(text.data()), static_cast<int32_t>(text.size()), &status);
    if (U_FAILURE(status))
        throw std::runtime_error(std::string("CP932 conversion failed: ") + u_errorName(status));
    out.resize(static_cast<std::size_t>(length));
    return out;
}

std::string toUtf8(std::string_view cp932)
{
    if (isPrintableAscii(cp932))
        return std::string(cp932);
    UConverter* conv = converter();
    UErrorCode status = U_ZERO_ERROR;
    ucnv_setToUCallBack(conv, toUnicodeReplacement, nullptr, nullptr, nullptr, &status);
    std::u16string out(cp932.size() + 1, u'\0');
    status = U_ZERO_ERROR;
    const int32_t length = ucnv_toUChars(conv, reinterpret_cast<UChar*>(out.data()),
        static_cast<int32_t>(out.size()), cp932.data(), static_cast<int32_t>(cp932.size()), &status);
    if (U_FAILURE(status))
        return {};
    out.resize(static_cast<std::size_t>(length));
    return utf16ToUtf8(out);
}

bool isValid(std::string_view cp932)
{
    UConverter* conv = converter();
    UErrorCode status = U_ZERO_ERROR;
    ucnv_setToUCallBack(conv, UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    std::u16string out(cp932.size() + 1, u'\0');
    status = U_ZERO_ERROR;
    ucnv_toUChars(conv, reinterpret_cast<UChar*>(out.data()), static_cast<int32_t>(out.size()), cp932.data(),
        static_cast<int32_t>(cp932.size()), &status);
    return U_SUCCESS(status);
}

bool hasDoubleByte(std::string_view cp932)
{
    for (std::size_t i = 0; i < cp932.size(); ++i) {
        if (isLeadByte(static_cast<unsigned char>(cp932[i]))) {
            if (i + 1 < cp932.size())
                return true;
        }
    }
    return false;
}

std::size_t cutLength(std::string_view cp932, std::size_t maxBytes)
{
    if (cp932.size() <= maxBytes)
        return cp932.size();
    std::size_t i = 0;
    std::size_t fits = 0;
    while (i < cp932.size()) {
        const auto b = static_cast<unsigned char>(cp932[i]);
        std::size_t width = 1;
        if (isLeadByte(b) && i + 1 < cp932.size()) {
            width = 2;
        } else if (b == '&') {
            // A reference this module wrote: "&#digits;" or "&amp;". Keep it whole.
            std::size_t j = i + 1;
            if (cp932.substr(i, 5) == "&amp;") {
                j = i + 5;
            } else if (j < cp932.size() && cp932[j] == '#') {
                ++j;
                while (j < cp932.size() && cp932[j] >= '0' && cp932[j] <= '9')
                    ++j;
                if (j < cp932.size() && cp932[j] == ';' && j > i + 2)
                    ++j;
                else
                    j = i + 1;
            }
            width = j - i;
        }
        if (i + width > maxBytes)
            break;
        i += width;
        fits = i;
    }
    return fits;
}

std::string windows1252ToUtf8(std::string_view bytes)
{
    std::u16string out(bytes.size() + 1, u'\0');
    UErrorCode status = U_ZERO_ERROR;
    const int32_t length = ucnv_toUChars(windows1252(), reinterpret_cast<UChar*>(out.data()),
        static_cast<int32_t>(out.size()), bytes.data(), static_cast<int32_t>(bytes.size()), &status);
    if (U_FAILURE(status))
        return {};
    out.resize(static_cast<std::size_t>(length));
    return utf16ToUtf8(out);
}

std::string legacyToUtf8(std::string_view bytes, bool dropCutLead)
{
    const auto nul = bytes.find('\0');
    if (nul != std::string_view::npos)
        bytes = bytes.substr(0, nul);
    if (isAscii(bytes) || isUtf8(bytes))
        return std::string(bytes);
    if (isJapaneseCp932(bytes))
        return toUtf8(bytes);
    if (dropCutLead && endsInLoneLead(bytes) && isJapaneseCp932(bytes.substr(0, bytes.size() - 1)))
        return toUtf8(bytes.substr(0, bytes.size() - 1));
    return windows1252ToUtf8(bytes);
}

std::string resolveReferences(std::string_view s)
{
    std::string out;
    out.reserve(s.size());
    std::size_t i = 0;
    while (i < s.size()) {
        if (s[i] != '&') {
            out += s[i++];
            continue;
        }
        if (s.substr(i, 5) == "&amp;") {
            out += '&';
            i += 5;
            continue;
        }
        if (i + 2 < s.size() && s[i + 1] == '#') {
            std::size_t j = i + 2;
            const bool hex = j < s.size() && (s[j] == 'x' || s[j] == 'X');
            if (hex)
                ++j;
            const std::size_t digitsStart = j;
            uint32_t cp = 0;
            bool overflow = false;
            while (j < s.size()) {
                const char c = s[j];
                int digit = -1;
                if (c >= '0' && c <= '9')
                    digit = c - '0';
                else if (hex && c >= 'a' && c <= 'f')
                    digit = c - 'a' + 10;
                else if (hex && c >= 'A' && c <= 'F')
                    digit = c - 'A' + 10;
                if (digit < 0)
                    break;
                cp = cp * (hex ? 16 : 10) + static_cast<uint32_t>(digit);
                if (cp > 0x10FFFF)
                    overflow = true;
                ++j;
            }
            if (j > digitsStart && j < s.size() && s[j] == ';' && !overflow
                && !(cp >= 0xD800 && cp <= 0xDFFF)) {
                appendUtf8(out, cp);
                i = j + 1;
                continue;
            }
        }
        out += s[i++];
    }
    return out;
}

std::size_t utf8SequenceLength(std::string_view s, std::size_t i)
{
    if (i >= s.size())
        return 0;
    auto j = static_cast<int32_t>(i);
    const auto length = static_cast<int32_t>(s.size());
    UChar32 c = 0;
    U8_NEXT(reinterpret_cast<const uint8_t*>(s.data()), j, length, c);
    return c < 0 ? 0 : static_cast<std::size_t>(j) - i;
}

bool isUtf8(std::string_view s)
{
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t n = utf8SequenceLength(s, i);
        if (n == 0)
            return false;
        i += n;
    }
    return true;
}

} // namespace melodex::sjis
