#include "common/sjis.h"

#include <gtest/gtest.h>

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
