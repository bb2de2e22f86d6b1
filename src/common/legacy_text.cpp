#include "common/sjis.h"

#include <algorithm>
#include <optional>
#include <string>

namespace melodex::sjis {
namespace {

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

// The text of bytes that are neither ASCII nor UTF-8 when they read better as
// CP932 than as Windows-1252; nothing otherwise.
std::optional<std::string> cp932Reading(std::string_view bytes, bool dropCutLead)
{
    const std::string_view cp932
        = dropCutLead && endsInLoneLead(bytes) ? bytes.substr(0, bytes.size() - 1) : bytes;
    const std::optional<int> score = cp932Score(cp932);
    if (!score || *score <= windows1252Score(bytes))
        return std::nullopt;
    return strictDecode(cp932);
}

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

} // namespace melodex::sjis
