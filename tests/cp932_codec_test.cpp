#include "common/sjis.h"

#include <gtest/gtest.h>
#include <unicode/utf8.h>

using namespace melodex;

TEST(SjisEncode, PinsTheConverter)
{
    struct Case {
        const char* utf8;
        std::string cp932;
    };
    const Case cases[] = {
        { "abc", "abc" }, { "日本語", "\x93\xfa\x96\x7b\x8c\xea" },
        { "ｶﾀｶﾅ", "\xb6\xc0\xb6\xc5" }, // half-width katakana: one byte each
        { "～", "\x81\x60" }, // U+FF5E is 81 60 in Microsoft's table
        { "①Ⅰ", "\x87\x40\x87\x54" }, // NEC extensions
        { "髙", "\xfb\xfc" }, // IBM extension
        { "Ω", "\x83\xb6" }, // Greek capital omega is in CP932
        { "\\~", "\\~" }, // ASCII stays ASCII, not yen or overline
        { "\x1a\x1c\x7f", "\x1a\x1c\x7f" }, // as Windows has them; ICU's table swaps these three
        { "Café", "Caf&#233;" }, { "\u2126", "&#8486;" }, // OHM SIGN is not
        { "〜−¥", "&#12316;&#8722;&#165;" }, // nor what it maps only one way
        { "🎵", "&#127925;" }, // outside the BMP: one reference, not two
        { "♪\uFE0F", "\x81\xf4&#65039;" }, // the variation selector ICU would drop
        { "a\u200Db\u00ADc", "a&#8205;b&#173;c" }, // a joiner and a soft hyphen, also dropped
        { "\uF86F", "&#63599;" }, // not the bytes of "№"
        { "R&B &#65;", "R&amp;B &amp;#65;" },
        { "a\xff"
          "b\xe3\x81",
            "a&#65533;b&#65533;" }, // one U+FFFD per broken sequence
    };
    for (const auto& c : cases)
        EXPECT_EQ(sjis::encode(c.utf8), c.cp932) << c.utf8;
    EXPECT_EQ(sjis::encode("R&B <&#233;> é", sjis::Amp::Keep), "R&B <&#233;> &#233;");
}

TEST(SjisDecode, ReadsCp932AndResolvesOnlyReferencesToPrintableCharacters)
{
    struct Case {
        std::string cp932;
        const char* expected;
    };
    const Case cases[] = {
        { "\x93\xfa\x96\x7b\x81\x60\xb1", "日本～ｱ" },
        { "a\x81", "a\uFFFD" }, // a lead byte without its trail
        { "\x1a\x1c\x7f", "\x1a\x1c\x7f" },
        { "AT&T", "AT&T" }, // the Windows program's files never escaped "&"
        { "R&B &amp; Soul", "R&B & Soul" },
        { "&amp;#65;", "&#65;" },
        { "&#12354;&#x3042;&#X3042;&#065;", "あああA" },
        { "&#1114111;&#133;", "\U0010FFFF\u0085" },
        { "a&#0;b", "a&#0;b" },
        { "&#9;&#10;&#13;&#x1F;&#127;&#x7f;", "&#9;&#10;&#13;&#x1F;&#127;&#x7f;" },
        { "&#55296;&#xDFFF;", "&#55296;&#xDFFF;" },
        { "&#1114112;&#99999999999;&#x110000;", "&#1114112;&#99999999999;&#x110000;" },
        { "&#;&#x;&#65 &lt; &", "&#;&#x;&#65 &lt; &" },
    };
    for (const auto& c : cases)
        EXPECT_EQ(sjis::decode(c.cp932), c.expected) << c.cp932;
}

// Every character comes back as it went in, in a text of its neighbours as
// well as alone; 4,352 code points at a time, so a failure names its block.
TEST(SjisCodec, EveryCodePointRoundTrips)
{
    for (UChar32 block = 0; block <= 0x10FFFF; block += 0x1100) {
        std::string text;
        for (UChar32 c = block; c < block + 0x1100 && c <= 0x10FFFF; ++c) {
            if (U_IS_SURROGATE(c))
                continue;
            char bytes[4];
            int32_t n = 0;
            U8_APPEND_UNSAFE(bytes, n, c);
            text.append(bytes, static_cast<std::size_t>(n));
        }
        const std::string cp932 = sjis::encode(text);
        ASSERT_EQ(sjis::decode(cp932), text) << std::hex << "U+" << block;
        // Nothing encode writes is read as a line break or the end of a C string.
        if (block == 0)
            continue;
        ASSERT_EQ(cp932.find_first_of(std::string_view("\0\r\n", 3)), std::string::npos) << std::hex << block;
    }
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
        const std::string alone = sjis::encode(ascii, amp);
        EXPECT_EQ(sjis::encode(ascii + kana, amp), alone + kanaCp932);
    }
    EXPECT_EQ(sjis::encode(ascii, sjis::Amp::Keep), ascii);
    EXPECT_EQ(sjis::decode(ascii + kanaCp932), sjis::decode(ascii) + kana);
    EXPECT_EQ(sjis::decode(ascii), ascii);
}
