#include "common/sjis.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>
#include <unicode/uset.h>
#include <unicode/ustring.h>
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

bool isTrailByte(unsigned char b) { return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC); }

bool isAscii(std::string_view s)
{
    for (char c : s) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    }
    return true;
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

// CP932 or Windows-1252? Tag fields and file names name no code page, and
// they are short: a dozen bytes give a statistical charset detector nothing to
// count. So both readings are scored, each character by how plausible it is
// where it stands, and the higher total wins. A tie goes to Windows-1252: it
// is the code page the tag format declares and it reads every byte, while
// CP932 has to show Japanese to be chosen.
//
// The two collide in two places. A lower-case accented letter (E0-FC) before
// an ASCII letter is a valid level-2 or extension kanji ("Mon\xE1e"), and an
// upper-case accented letter or a Latin-1 symbol (A1-DF) is a half-width
// katakana. Context tells them apart; the weights, and why:
//
// Read as CP932, per character:
//   kana (82 9F-F1, 83 40-96)                      +4  most of any Japanese text
//   punctuation, symbols (81: 、。「」・～♪★)     +3  81 is no character in Windows-1252
//   level-1 kanji (88 9F-98 72)                    +3  the everyday kanji
//   full-width letters and digits (82 4F-9A)       +2
//   Greek, Cyrillic, box drawing (83 9F-84 BE),
//   NEC row 13 (87: ① Ⅰ ㈱), level-2 kanji
//   (98 9F-EA A4), IBM extensions (ED, EE, FA-FC)  +1  real, but where Western accents land
//   user-defined area (F0-F9)                      -6  no tagger writes private characters;
//                                                      it is where ð-ù land before a letter
//   a trail byte of 80-FC                          +1  in Windows-1252, two non-ASCII
//                                                      characters in a row: rare in Western text
//   beside another Japanese character              +1  Japanese characters come in runs
//   alone, with an ASCII trail, touching an ASCII
//   letter                                         -1  the shape of an accent inside a word
//   half-width katakana beside another one         +2  old ID3v1 tags spelled whole words so
//   half-width katakana alone by a letter or digit -1  the shape of "Édith" or "Ça"
//   a voicing mark (DE, DF) not after katakana     -2  it never starts a word
// Read as Windows-1252:
//   an accented letter in a word that has ASCII letters, at most one
//   accented letter more than ASCII ones, and a normal case shape (lower,
//   Capitalised, UPPER)                            +3  (+1 in a two-letter word)
//   two or more accented letters in a word with
//   fewer ASCII letters than that                  -2 each: katakana or kanji as Latin-1 ("ÆÒ")
//   ’ inside a word                                +4  "Don’t", "O’Connor"
//   ’ before a word, – or — between two words
//   or two spaces                                  +3  "’Round", "Trans–Europa", "A – B"
//   ’, ”, … or ™ after a word; an opening quote
//   before a word, closed later; € by a digit      +2
//   a symbol with no text beside it (ASCII, or a
//   word scoring above zero)                       -2  symbol soup ("±ÆÒ¿Ý¸Þ")
//   an unassigned byte (81, 8D, 8F, 90, 9D)       -10  a C1 control, never text
// Bytes CP932 cannot read at all (80, A0, FD-FF, a lead byte without its
// trail, an unassigned code) leave Windows-1252 without weighing.

bool isHalfWidthKana(unsigned char b) { return b >= 0xA1 && b <= 0xDF; }

bool isAsciiLetter(unsigned char b) { return (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z'); }

bool isAsciiAlnum(unsigned char b) { return isAsciiLetter(b) || (b >= '0' && b <= '9'); }

enum class CharKind { Edge, Ascii, HalfWidth, Double };

CharKind kindAt(std::string_view s, std::size_t i)
{
    if (i >= s.size())
        return CharKind::Edge;
    const auto b = static_cast<unsigned char>(s[i]);
    if (b < 0x80)
        return CharKind::Ascii;
    return isHalfWidthKana(b) ? CharKind::HalfWidth : CharKind::Double;
}

int doubleByteWeight(unsigned char lead, unsigned char trail)
{
    const unsigned code = (lead << 8) | trail;
    if ((code >= 0x829F && code <= 0x82F1) || (code >= 0x8340 && code <= 0x8396))
        return 4;
    if (lead == 0x81 || (code >= 0x889F && code <= 0x9872))
        return 3;
    if (code >= 0x824F && code <= 0x829A)
        return 2;
    if (lead >= 0xF0 && lead <= 0xF9)
        return -6;
    return 1;
}

// The CP932 score, or nothing when the bytes are not CP932 at all. Codes
// inside assigned rows that the table leaves empty pass here; the converter
// rejects them.
std::optional<int> cp932Score(std::string_view s)
{
    int score = 0;
    CharKind prev = CharKind::Edge;
    for (std::size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        if (b < 0x80) {
            prev = CharKind::Ascii;
            ++i;
            continue;
        }
        if (isHalfWidthKana(b)) {
            const CharKind next = kindAt(s, i + 1);
            const bool byAlnum
                = (prev == CharKind::Ascii && isAsciiAlnum(static_cast<unsigned char>(s[i - 1])))
                || (next == CharKind::Ascii && isAsciiAlnum(static_cast<unsigned char>(s[i + 1])));
            if (b >= 0xDE)
                score += prev == CharKind::HalfWidth ? 2 : -2;
            else if (prev == CharKind::HalfWidth || next == CharKind::HalfWidth)
                score += 2;
            else if (byAlnum)
                score -= 1;
            prev = CharKind::HalfWidth;
            ++i;
            continue;
        }
        // Rows 85, 86, EB, EC and EF are empty; 80, A0 and FD-FF are no lead.
        if (!isLeadByte(b) || b == 0x85 || b == 0x86 || b == 0xEB || b == 0xEC || b == 0xEF
            || i + 1 >= s.size() || !isTrailByte(static_cast<unsigned char>(s[i + 1])))
            return std::nullopt;
        const auto trail = static_cast<unsigned char>(s[i + 1]);
        const CharKind next = kindAt(s, i + 2);
        score += doubleByteWeight(b, trail);
        if (trail >= 0x80)
            score += 1;
        if (prev == CharKind::HalfWidth || prev == CharKind::Double || next == CharKind::HalfWidth
            || next == CharKind::Double)
            score += 1;
        else if (trail < 0x80
            && ((prev == CharKind::Ascii && isAsciiLetter(static_cast<unsigned char>(s[i - 1])))
                || (next == CharKind::Ascii && isAsciiLetter(static_cast<unsigned char>(s[i + 2])))))
            score -= 1;
        prev = CharKind::Double;
        i += 2;
    }
    return score;
}

// 0 for no letter, 1 lower case, 2 upper case, in Windows-1252.
int letterCase(unsigned char b)
{
    if (b >= 'a' && b <= 'z')
        return 1;
    if (b >= 'A' && b <= 'Z')
        return 2;
    if (b == 0x9A || b == 0x9C || b == 0x9E || (b >= 0xDF && b != 0xF7))
        return 1;
    if (b == 0x8A || b == 0x8C || b == 0x8E || b == 0x9F || (b >= 0xC0 && b <= 0xDE && b != 0xD7))
        return 2;
    return 0;
}

// A run of letters with at least one accented letter.
int wordScore(std::string_view word)
{
    int accented = 0;
    int ascii = 0;
    bool restLower = true;
    bool restUpper = true;
    for (std::size_t i = 0; i < word.size(); ++i) {
        const auto b = static_cast<unsigned char>(word[i]);
        (b < 0x80 ? ascii : accented) += 1;
        if (i > 0) {
            restLower = restLower && letterCase(b) == 1;
            restUpper = restUpper && letterCase(b) == 2;
        }
    }
    if (ascii == 0 || accented > ascii + 1)
        return accented == 1 ? 0 : -2 * accented;
    const bool lowerStart = letterCase(static_cast<unsigned char>(word[0])) == 1;
    if (!(restLower || (restUpper && !lowerStart)))
        return 0;
    return accented * (word.size() >= 3 ? 3 : 1);
}

// A letter or digit of Windows-1252, accented or not.
bool isWordChar(unsigned char b) { return letterCase(b) != 0 || (b >= '0' && b <= '9'); }

// Where the last closing quote of each kind stands, so that an opening quote
// can tell whether it is closed without searching the rest of the text.
struct Closers {
    std::size_t doubleQuote = 0; // ” or “ (German quotes close with “)
    std::size_t singleQuote = 0; // ’ or ‘
    std::size_t guillemet = 0; // »
    std::size_t angle = 0; // ›
};

// The score of the punctuation mark or symbol at s[i].
int symbolScore(std::string_view s, std::size_t i, const Closers& closers)
{
    // 0 stands for the text's edge.
    const auto at = [&](std::size_t j) { return j < s.size() ? static_cast<unsigned char>(s[j]) : 0; };
    const unsigned char b = at(i);
    const unsigned char before = i > 0 ? at(i - 1) : 0;
    const unsigned char after = at(i + 1);
    // Text beside it: ASCII, or an accented letter of a word that reads well.
    const auto text = [&](std::size_t j) {
        const unsigned char c = at(j);
        if (c < 0x80)
            return c != 0;
        if (letterCase(c) == 0)
            return false;
        std::size_t first = j;
        std::size_t end = j + 1;
        while (first > 0 && letterCase(at(first - 1)) != 0)
            --first;
        while (end < s.size() && letterCase(at(end)) != 0)
            ++end;
        return wordScore(s.substr(first, end - first)) > 0;
    };
    if (!(i > 0 && text(i - 1)) && !text(i + 1))
        return -2;
    const auto space = [](unsigned char c) { return c == ' ' || c == 0; };
    // An opening quote counts only before a word and when a closing one follows.
    const auto opens = [&](std::size_t lastCloser) {
        return !isWordChar(before) && isWordChar(after) && lastCloser > i + 1 ? 2 : 0;
    };
    switch (b) {
    case 0x92: // ’: in "Don’t", after "Livin", before "’Round" or "’69"
        if (isWordChar(before))
            return isWordChar(after) ? 4 : 2;
        return isWordChar(after) && isWordChar(at(i + 2)) ? 3 : 0;
    case 0x96: // –
    case 0x97: // —
        return (space(before) && space(after)) || (isWordChar(before) && isWordChar(after)) ? 3 : 0;
    case 0x93: // “
    case 0x84: // „
        return opens(closers.doubleQuote);
    case 0x91: // ‘
    case 0x82: // ‚
        return opens(closers.singleQuote);
    case 0xAB: // «
        return opens(closers.guillemet);
    case 0x8B: // ‹
        return opens(closers.angle);
    case 0x94: // ”
    case 0x85: // …
    case 0x99: // ™
        return isWordChar(before) && !isWordChar(after) ? 2 : 0;
    case 0x80: // €
        return (before >= '0' && before <= '9') || (after >= '0' && after <= '9') ? 2 : 0;
    default:
        return 0;
    }
}

int windows1252Score(std::string_view s)
{
    Closers closers;
    for (std::size_t i = 0; i < s.size(); ++i) {
        switch (static_cast<unsigned char>(s[i])) {
        case 0x93:
        case 0x94:
            closers.doubleQuote = i;
            break;
        case 0x91:
        case 0x92:
            closers.singleQuote = i;
            break;
        case 0xBB:
            closers.guillemet = i;
            break;
        case 0x9B:
            closers.angle = i;
            break;
        default:
            break;
        }
    }
    int score = 0;
    for (std::size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        if (letterCase(b) != 0) {
            std::size_t end = i + 1;
            bool accented = b >= 0x80;
            for (; end < s.size() && letterCase(static_cast<unsigned char>(s[end])) != 0; ++end)
                accented = accented || static_cast<unsigned char>(s[end]) >= 0x80;
            if (accented)
                score += wordScore(s.substr(i, end - i));
            i = end;
            continue;
        }
        if (b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D)
            score -= 10;
        else if (b >= 0x80)
            score += symbolScore(s, i, closers);
        ++i;
    }
    return score;
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

std::string utf16BigEndianToUtf8(std::string_view bytes)
{
    std::u16string units(bytes.size() / 2, u'\0');
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    for (std::size_t i = 0; i < units.size(); ++i)
        units[i] = static_cast<char16_t>(p[2 * i] << 8 | p[2 * i + 1]);
    return utf16ToUtf8(units);
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

namespace {

// The text of bytes that are neither ASCII nor UTF-8 when they read better as
// CP932 than as Windows-1252; nothing otherwise.
std::optional<std::string> cp932Reading(std::string_view bytes, bool dropCutLead)
{
    const std::string_view cp932
        = dropCutLead && endsInLoneLead(bytes) ? bytes.substr(0, bytes.size() - 1) : bytes;
    const std::optional<int> score = cp932Score(cp932);
    if (!score || *score <= windows1252Score(bytes))
        return std::nullopt;
    return cp932ToUtf8(cp932, false);
}

} // namespace

namespace {

// Half-width katakana are the bytes A1-DF, and a pair of them is valid UTF-8
// whenever the first is C2-DF and the second A1-BF: "ﾐｸ" (D0 B8) is also
// "и". Text made of those bytes alone is taken as UTF-8 only when it reads as
// a word of two or more letters of one alphabet there (Greek, Cyrillic,
// Hebrew, Arabic ...); a lone character, or accented Latin letters with no
// plain letter beside them, is the katakana it spells.
bool halfWidthKanaOnly(std::string_view bytes)
{
    return std::all_of(
        bytes.begin(), bytes.end(), [](char c) { return isHalfWidthKana(static_cast<unsigned char>(c)); });
}

bool readsAsUtf8(std::string_view bytes)
{
    if (!isUtf8(bytes))
        return false;
    if (!halfWidthKanaOnly(bytes))
        return true;
    // Every character is two bytes here: lead C2-DF, trail A1-BF.
    if (bytes.size() < 4)
        return false;
    const auto block = [](unsigned char lead) { return lead >> 1; }; // 128 code points, one alphabet's span
    const auto first = static_cast<unsigned char>(bytes[0]);
    if (first <= 0xC3)
        return false; // U+00A1-00FF: Latin-1 symbols and accented letters
    for (std::size_t i = 0; i < bytes.size(); i += 2)
        if (block(static_cast<unsigned char>(bytes[i])) != block(first))
            return false;
    return true;
}

} // namespace

LegacyCodePage legacyCodePage(std::string_view bytes)
{
    if (isAscii(bytes))
        return LegacyCodePage::Ascii;
    if (readsAsUtf8(bytes))
        return LegacyCodePage::Utf8;
    return cp932Reading(bytes, false) ? LegacyCodePage::Cp932 : LegacyCodePage::Windows1252;
}

std::string legacyToUtf8(std::string_view bytes, bool dropCutLead)
{
    const auto nul = bytes.find('\0');
    if (nul != std::string_view::npos)
        bytes = bytes.substr(0, nul);
    if (isAscii(bytes) || readsAsUtf8(bytes))
        return std::string(bytes);
    if (auto text = cp932Reading(bytes, dropCutLead))
        return std::move(*text);
    return windows1252ToUtf8(bytes);
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
