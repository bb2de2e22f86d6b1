#include "common/sjis.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>

#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>
#include <unicode/uset.h>
#include <unicode/utf8.h>

namespace melodex::sjis {
namespace {

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

// ICU's table follows IBM's PC code pages and swaps three controls (1A is
// U+001C, 1C is U+007F, 7F is U+001A); Windows, whose files and tags we
// share, reads every ASCII byte as itself. None of the three is ever a trail
// byte.
constexpr bool isSwappedByIcu(unsigned char b) { return b == 0x1A || b == 0x1C || b == 0x7F; }

// CP932 to UTF-8. Bytes that are not CP932 become U+FFFD, or with
// !replaceInvalid make it fail.
std::optional<std::string> cp932ToUtf8(std::string_view cp932, bool replaceInvalid)
{
    UConverter* conv = converter();
    UErrorCode status = U_ZERO_ERROR;
    if (replaceInvalid)
        ucnv_setToUCallBack(conv, toUnicodeReplacement, nullptr, nullptr, nullptr, &status);
    else
        ucnv_setToUCallBack(conv, UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    std::u16string out(cp932.size() + 1, u'\0');
    status = U_ZERO_ERROR;
    const int32_t length = ucnv_toUChars(conv, reinterpret_cast<UChar*>(out.data()),
        static_cast<int32_t>(out.size()), cp932.data(), static_cast<int32_t>(cp932.size()), &status);
    if (U_FAILURE(status))
        return std::nullopt;
    out.resize(static_cast<std::size_t>(length));
    if (std::any_of(cp932.begin(), cp932.end(),
            [](char c) { return isSwappedByIcu(static_cast<unsigned char>(c)); })) {
        for (char16_t& c : out)
            c = c == 0x1C ? 0x1A : c == 0x7F ? 0x1C : c == 0x1A ? 0x7F : c;
    }
    return utf16ToUtf8(out);
}

} // namespace

bool isLeadByte(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

namespace {

// Printable ASCII is the same bytes in UTF-8 and CP932; most tag texts and
// file names are nothing else, and they need no converter.
bool isPrintableAscii(std::string_view s)
{
    return std::all_of(s.begin(), s.end(), [](char c) { return c >= 0x20 && c <= 0x7E; });
}

// The characters CP932 holds both ways, all of them in the BMP. The
// converter alone would not do: its escaping callback silently drops the
// default-ignorable characters it cannot convert (U+200D that joins an emoji
// sequence, the variation selector of "❤️"), and it maps a few private-use
// characters one way (U+F86F to the bytes of "№"). Neither would read back.
class RoundTripSet {
public:
    RoundTripSet()
    {
        UErrorCode status = U_ZERO_ERROR;
        const ConverterPtr conv = openConverter(kConverterName);
        const std::unique_ptr<USet, decltype(&uset_close)> set(uset_openEmpty(), &uset_close);
        ucnv_getUnicodeSet(conv.get(), set.get(), UCNV_ROUNDTRIP_SET, &status);
        if (U_FAILURE(status))
            throw std::runtime_error(
                std::string("ICU cannot list the CP932 characters: ") + u_errorName(status));
        for (int32_t i = 0, n = uset_getItemCount(set.get()); i < n; ++i) {
            UChar32 first = 0;
            UChar32 last = 0;
            uset_getItem(set.get(), i, &first, &last, nullptr, 0, &status);
            for (UChar32 c = first; c <= last && c <= 0xFFFF; ++c)
                bits_[static_cast<std::size_t>(c) >> 6] |= uint64_t { 1 } << (c & 63);
        }
    }

    bool contains(UChar32 c) const
    {
        return c >= 0 && c <= 0xFFFF && ((bits_[static_cast<std::size_t>(c) >> 6] >> (c & 63)) & 1) != 0;
    }

private:
    std::array<uint64_t, 0x10000 / 64> bits_ {};
};

const RoundTripSet& roundTrips()
{
    static const RoundTripSet set;
    return set;
}

// Converts characters that all round-trip, so no callback is ever needed.
void appendCp932(std::string& out, std::u16string_view utf16)
{
    if (utf16.empty())
        return;
    UConverter* conv = converter();
    UErrorCode status = U_ZERO_ERROR;
    ucnv_setFromUCallBack(conv, UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    const std::size_t at = out.size();
    out.resize(at + utf16.size() * 2 + 1); // at most two bytes a UTF-16 unit
    status = U_ZERO_ERROR;
    const int32_t length = ucnv_fromUChars(conv, out.data() + at, static_cast<int32_t>(out.size() - at),
        reinterpret_cast<const UChar*>(utf16.data()), static_cast<int32_t>(utf16.size()), &status);
    if (U_FAILURE(status))
        throw std::runtime_error(std::string("CP932 conversion failed: ") + u_errorName(status));
    out.resize(at + static_cast<std::size_t>(length));
}

// A character a reference may stand for: never one that could break a line,
// end a C string or pass for half of a UTF-16 pair. encode writes controls
// as themselves, so no reference it writes is refused.
bool mayResolveTo(uint32_t cp)
{
    return cp > 0x1F && cp != 0x7F && !(cp >= 0xD800 && cp <= 0xDFFF) && cp <= 0x10FFFF;
}

} // namespace

std::optional<std::pair<uint32_t, std::size_t>> numericReference(std::string_view s, std::size_t i)
{
    std::size_t j = i + 2;
    if (j > s.size() || s[i] != '&' || s[i + 1] != '#')
        return std::nullopt;
    const bool hex = j < s.size() && (s[j] == 'x' || s[j] == 'X');
    if (hex)
        ++j;
    const std::size_t digits = j;
    uint32_t cp = 0;
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
        cp = cp * (hex ? 16 : 10) + static_cast<uint32_t>(d);
        if (cp > 0x10FFFF)
            return std::nullopt; // also keeps the sum from wrapping
    }
    if (j == digits || j >= s.size() || s[j] != ';' || !mayResolveTo(cp))
        return std::nullopt;
    return std::pair { cp, j + 1 - i };
}

namespace {

// "&#x2212;": the form of encodeMarked's references, which encode never writes.
std::string hexReference(uint32_t cp)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string digits;
    for (; cp != 0 || digits.empty(); cp >>= 4)
        digits.insert(digits.begin(), kHex[cp & 15]);
    return "&#x" + digits + ";";
}

std::string encodeText(std::string_view utf8, bool escapeAmp, bool hexReferences)
{
    if (isPrintableAscii(utf8) && (!escapeAmp || utf8.find('&') == std::string_view::npos))
        return std::string(utf8);
    const RoundTripSet& held = roundTrips();
    std::string out;
    out.reserve(utf8.size() + 16);
    // What round-trips goes to the converter in runs, ASCII included (it is
    // the same bytes in CP932, but for the three controls ICU swaps): one
    // call for most texts.
    std::u16string run;
    run.reserve(utf8.size());
    const auto* s = reinterpret_cast<const uint8_t*>(utf8.data());
    const auto length = static_cast<int32_t>(utf8.size());
    for (int32_t i = 0; i < length;) {
        if (isSwappedByIcu(s[i])) {
            appendCp932(out, run);
            run.clear();
            out += static_cast<char>(s[i++]);
            continue;
        }
        if (s[i] < 0x80) {
            if (s[i] == '&' && escapeAmp)
                run += u"&amp;";
            else
                run += static_cast<char16_t>(s[i]);
            ++i;
            continue;
        }
        UChar32 c = 0;
        U8_NEXT(s, i, length, c);
        if (held.contains(c)) {
            run += static_cast<char16_t>(c);
            continue;
        }
        appendCp932(out, run);
        run.clear();
        // A sequence that is not UTF-8 stands for U+FFFD, which CP932 lacks.
        const auto cp = static_cast<uint32_t>(c < 0 ? 0xFFFD : c);
        out += hexReferences ? hexReference(cp) : "&#" + std::to_string(cp) + ";";
    }
    appendCp932(out, run);
    return out;
}

} // namespace

std::string encode(std::string_view utf8, Amp amp) { return encodeText(utf8, amp == Amp::Reference, false); }

std::string encodeMarked(std::string_view utf8) { return encodeText(utf8, false, true); }

namespace {

// CP932 to UTF-8 with the references resolve takes replaced: at a "&" it
// appends what stands there and says how many bytes it took, or 0 to keep
// the "&" as it is. Only a text that holds marker can hold one.
template <typename Resolve>
std::string decodeResolving(std::string_view cp932, std::string_view marker, Resolve resolve)
{
    std::string text = isPrintableAscii(cp932) ? std::string(cp932) : cp932ToUtf8(cp932, true).value_or("");
    if (text.find(marker) == std::string::npos)
        return text;
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t taken = text[i] == '&' ? resolve(std::string_view(text), i, out) : 0;
        if (taken > 0)
            i += taken;
        else
            out += text[i++];
    }
    return out;
}

} // namespace

std::string decode(std::string_view cp932)
{
    return decodeResolving(
        cp932, "&", [](std::string_view text, std::size_t i, std::string& out) -> std::size_t {
            if (text.compare(i, 5, "&amp;") == 0) {
                out += '&';
                return 5;
            }
            const auto ref = numericReference(text, i);
            if (!ref)
                return 0;
            appendUtf8(out, ref->first);
            return ref->second;
        });
}

std::string decodeMarked(std::string_view cp932)
{
    return decodeResolving(
        cp932, "&#x", [](std::string_view text, std::size_t i, std::string& out) -> std::size_t {
            const auto ref = numericReference(text, i);
            if (!ref || roundTrips().contains(static_cast<UChar32>(ref->first))
                || text.compare(i, ref->second, hexReference(ref->first)) != 0)
                return 0;
            appendUtf8(out, ref->first);
            return ref->second;
        });
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
            // A reference this module wrote: "&#digits;", "&#xHEX;" or
            // "&amp;". Keep it whole.
            const auto ref = numericReference(cp932, i);
            width = ref ? ref->second : cp932.substr(i, 5) == "&amp;" ? 5 : 1;
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

std::optional<std::string> strictDecode(std::string_view cp932) { return cp932ToUtf8(cp932, false); }

} // namespace melodex::sjis
