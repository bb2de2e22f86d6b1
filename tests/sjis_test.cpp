#include "common/sjis.h"

#include <fstream>

#include <gtest/gtest.h>
#include <unicode/ucnv.h>
#include <unicode/utf8.h>

using namespace melodex;

TEST(SjisFromUtf8, PinsTheConverter)
{
    struct Case {
        const char* utf8;
        std::string cp932;
    };
    const Case cases[] = {
        { "abc", "abc" },
        { "日本語", "\x93\xfa\x96\x7b\x8c\xea" },
        { "ｶﾀｶﾅ", "\xb6\xc0\xb6\xc5" }, // half-width katakana: one byte each
        { "～", "\x81\x60" }, // U+FF5E is 81 60 in Microsoft's table
        { "①Ⅰ", "\x87\x40\x87\x54" }, // NEC extensions
        { "髙", "\xfb\xfc" }, // IBM extension
        { "Ω", "\x83\xb6" }, // Greek capital omega is in CP932
        { "\\~", "\\~" }, // ASCII stays ASCII, not yen or overline
        { "Café", "Caf&#233;" },
        { "\u2126", "&#8486;" }, // OHM SIGN is not
        { "〜", "&#12316;" }, // wave dash U+301C is not
        { "🎵", "&#127925;" }, // outside the BMP: one reference, not two
        { "a&b", "a&b" },
    };
    for (const auto& c : cases)
        EXPECT_EQ(sjis::fromUtf8(c.utf8), c.cp932) << c.utf8;
}

TEST(SjisFromUtf8, AmpersandAsReferenceOnlyWhenAsked)
{
    EXPECT_EQ(sjis::fromUtf8("R&B &#65;", sjis::Amp::Reference), "R&amp;B &amp;#65;");
    EXPECT_EQ(sjis::fromUtf8("R&B", sjis::Amp::Keep), "R&B");
}

TEST(SjisFromUtf8, InvalidUtf8BecomesReplacementReference)
{
    EXPECT_EQ(sjis::fromUtf8("a\xff"
                             "b"),
        "a&#65533;b");
}

TEST(SjisToUtf8, DecodesAndReplacesInvalidBytes)
{
    EXPECT_EQ(sjis::toUtf8("\x93\xfa\x96\x7b"), "日本");
    EXPECT_EQ(sjis::toUtf8("\x81\x60"), "～");
    EXPECT_EQ(sjis::toUtf8("\xb1"), "ｱ");
    EXPECT_EQ(sjis::toUtf8("a\x81"), "a\uFFFD");
}

TEST(SjisIsValid, TellsCompleteCp932FromOtherBytes)
{
    EXPECT_TRUE(sjis::isValid("\x93\xfa\x96\x7b abc"));
    EXPECT_TRUE(sjis::isValid(""));
    EXPECT_FALSE(sjis::isValid("\x93")); // lead byte cut off
    EXPECT_FALSE(sjis::isValid("Caf\xe9")); // Latin-1 é: E9 is a lead byte without a trail
    EXPECT_FALSE(sjis::isValid("\x80"));
}

TEST(SjisCutLength, NeverSplitsACharacterOrAReference)
{
    const std::string kanji = "\x93\xfa\x96\x7b"; // 2 characters, 4 bytes
    EXPECT_EQ(sjis::cutLength(kanji, 4), 4u);
    EXPECT_EQ(sjis::cutLength(kanji, 3), 2u);
    EXPECT_EQ(sjis::cutLength("a" + kanji, 2), 1u);
    EXPECT_EQ(sjis::cutLength("ab&#233;cd", 5), 2u);
    EXPECT_EQ(sjis::cutLength("ab&#233;cd", 8), 8u);
    EXPECT_EQ(sjis::cutLength("ab&amp;", 6), 2u);
    EXPECT_EQ(sjis::cutLength("ab&c", 3), 3u); // a lone "&" is one byte
    EXPECT_EQ(sjis::cutLength("\xb1\xb2\xb3", 2), 2u); // half-width katakana are single bytes
}

TEST(SjisResolveReferences, UndoesWhatFromUtf8Wrote)
{
    EXPECT_EQ(sjis::resolveReferences("Caf&#233; &#x3A9; &amp;#65; &amp;"), "Café Ω &#65; &");
    EXPECT_EQ(sjis::resolveReferences("a & b &#; &#xZZ; &#99999999;"), "a & b &#; &#xZZ; &#99999999;");
    const std::string text = "R&B &#65; 〜 é 🎵";
    EXPECT_EQ(sjis::resolveReferences(sjis::toUtf8(sjis::fromUtf8(text, sjis::Amp::Reference))), text);
}

TEST(SjisWindows1252, EveryByteHasACharacter)
{
    EXPECT_EQ(sjis::windows1252ToUtf8("Caf\xe9 \x80 \x93q\x94 \x9f"), "Café € “q” Ÿ");
    EXPECT_EQ(sjis::windows1252ToUtf8("\x81\x8d\x8f\x90\x9d"), "\u0081\u008d\u008f\u0090\u009d");
    EXPECT_EQ(sjis::windows1252ToUtf8(std::string("a\0b", 3)), std::string("a\0b", 3));
}

// Printable ASCII skips the converter; it must come out as the converter
// would write it (a Japanese character alongside makes the converter run).
TEST(SjisAscii, ShortcutAgreesWithTheConverter)
{
    std::string ascii;
    for (char c = 0x20; c <= 0x7E; ++c)
        ascii += c;
    const std::string kana = "\xE3\x81\x82"; // あ
    const std::string kanaCp932 = "\x82\xA0";
    for (const auto amp : { sjis::Amp::Keep, sjis::Amp::Reference }) {
        const std::string alone = sjis::fromUtf8(ascii, amp);
        EXPECT_EQ(sjis::fromUtf8(ascii + kana, amp), alone + kanaCp932);
    }
    EXPECT_EQ(sjis::fromUtf8(ascii), ascii);
    EXPECT_EQ(sjis::toUtf8(ascii + kanaCp932), sjis::toUtf8(ascii) + kana);
    EXPECT_EQ(sjis::toUtf8(ascii), ascii);
}

namespace
{

// The bytes an old tagger would have written for this text, through ICU's own
// table; empty when the code page cannot hold the text.
std::string encoded(const char* codePage, const std::string& utf8)
{
    std::string out(utf8.size() * 2 + 1, '\0');
    std::string back(utf8.size() * 2 + 4, '\0');
    UErrorCode status = U_ZERO_ERROR;
    const int32_t n = ucnv_convert(codePage, "UTF-8", out.data(), static_cast<int32_t>(out.size()),
        utf8.data(), static_cast<int32_t>(utf8.size()), &status);
    out.resize(U_SUCCESS(status) ? static_cast<std::size_t>(n) : 0);
    const int32_t m = ucnv_convert("UTF-8", codePage, back.data(), static_cast<int32_t>(back.size()),
        out.data(), static_cast<int32_t>(out.size()), &status);
    back.resize(U_SUCCESS(status) ? static_cast<std::size_t>(m) : 0);
    return back == utf8 ? out : std::string();
}

} // namespace

// Every name in the list, whole and cut as a 30-byte ID3v1 field cuts it,
// reads back as written: Western names as Windows-1252, Japanese as CP932.
TEST(LegacyToUtf8, ReadsWesternAndJapaneseNamesAsWritten)
{
    std::ifstream list(std::string(MELODEX_TEST_DATA_DIR) + "/legacy_names.txt");
    ASSERT_TRUE(list) << "tests/data/legacy_names.txt";
    int names[2] = {};
    std::string line;
    while (std::getline(list, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        ASSERT_TRUE(line.size() > 2 && (line[0] == 'w' || line[0] == 'j') && line[1] == '\t') << line;
        const bool japanese = line[0] == 'j';
        const std::string text = line.substr(2);
        const char* codePage = japanese ? "windows-31j" : "windows-1252";
        const std::string bytes = encoded(codePage, text);
        ASSERT_FALSE(bytes.empty()) << text << " is not " << codePage;

        const auto expected = japanese ? sjis::LegacyCodePage::Cp932 : sjis::LegacyCodePage::Windows1252;
        EXPECT_EQ(sjis::legacyCodePage(bytes), expected) << text;
        EXPECT_EQ(sjis::legacyToUtf8(bytes), text);
        ++names[japanese];

        // A field of 30 bytes keeps the characters that fit whole.
        if (bytes.size() <= 30)
            continue;
        std::string fits;
        std::size_t used = 0;
        for (int32_t i = 0; i < static_cast<int32_t>(text.size());) {
            const int32_t start = i;
            UChar32 c = 0;
            U8_NEXT(text.data(), i, static_cast<int32_t>(text.size()), c);
            const std::string one
                = text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(i - start));
            used += encoded(codePage, one).size();
            if (used > 30)
                break;
            fits += one;
        }
        EXPECT_EQ(sjis::legacyToUtf8(bytes.substr(0, 30), true), fits) << "cut to 30 bytes";
    }
    EXPECT_GE(names[0], 100);
    EXPECT_GE(names[1], 100);
}

// Half-width katakana bytes that also form UTF-8 are katakana unless the UTF-8
// reading is a word of one alphabet.
TEST(LegacyToUtf8, HalfWidthKanaThatIsAlsoUtf8)
{
    struct Case {
        const char* bytes;
        const char* text;
    };
    const Case cases[] = {
        { "\xD0\xB8", "ﾐｸ" },                         // "и" alone
        { "\xC3\xA9\xC3\xA8", "ﾃｩﾃｨ" },             // "éè": accents with no letter beside them
        { "\xD0\xBC\xD0\xB0\xD0\xBC\xD0\xB0", "мама" }, // a Cyrillic word stays UTF-8
        { "\xCE\xB1\xCE\xB2\xCE\xB3", "αβγ" },
        { "\xD0\xB8\xCE\xB1", "ﾐｸﾎｱ" },             // two alphabets in one word
    };
    for (const Case& c : cases)
        EXPECT_EQ(sjis::legacyToUtf8(c.bytes), c.text) << c.text;
}
