// The legacy-text rule: bytes that name no character set, read as UTF-8,
// CP932 or Windows-1252, whichever reading looks more like real text.

#include "common/sjis.h"

#include <fstream>

#include <gtest/gtest.h>
#include <unicode/ucnv.h>
#include <unicode/utf8.h>

using namespace melodex;

TEST(LegacyToUtf8, DecidesTheCodePageByTheBytes)
{
    struct Case {
        const char* why;
        std::string bytes;
        std::string utf8;
    };
    const Case cases[] = {
        { "ASCII", "Plain Title", "Plain Title" },
        { "CP932 kanji and kana", "\x89\x4a\x82\xcc\x93\xfa", "雨の日" },
        { "CP932 with half-width katakana", "\x91\x53\x8a\x70\xb6\xc0", "全角ｶﾀ" },
        { "UTF-8 Japanese that also parses as CP932", "\xe3\x81\x82\xe3\x81\x84", "あい" },
        { "UTF-8 Latin", "Bj\xc3\xb6rk", "Björk" },
        { "Latin-1 at the end", "Caf\xe9", "Café" },
        { "Latin-1 before a space", "Caf\xe9 del Mar", "Café del Mar" },
        { "Latin-1 pairing into the user-defined area", "Bj\xf6rk", "Björk" },
        { "Latin-1 pairing into the user-defined area", "Sigur R\xf3s", "Sigur Rós" },
        { "Latin-1", "Beyonc\xe9", "Beyoncé" },
        { "Latin-1",
            "na\xefve fa\xe7"
            "ade",
            "naïve façade" },
        { "Latin-1 capitals alone: half-width katakana", "\xc7\xc9", "ﾇﾉ" },
        { "a Latin-1 capital in a word",
            "\xc7"
            "a va",
            "Ça va" },
        { "Windows-1252 punctuation", "\x93quoted\x94 \x80 \x85", "“quoted” € …" },
        { "NUL padding", std::string("abc\0\0\0", 6), "abc" },
        { "text after a NUL", std::string("ab\0cd", 5), "ab" },
        { "empty", "", "" },
    };
    for (const auto& c : cases)
        EXPECT_EQ(sjis::legacyToUtf8(c.bytes), c.utf8) << c.why;

    // A lead byte cut off at the end of a full field goes only when asked.
    EXPECT_EQ(sjis::legacyToUtf8("\x93\xfa\x96\x7b\x8c", true), "日本");
    EXPECT_EQ(sjis::legacyToUtf8("\x93\xfa\x96\x7b\x8c", false), "\u201c\u00fa\u2013{\u0152");
    EXPECT_EQ(sjis::legacyToUtf8("Caf\xe9", true), "Café");
}

namespace {

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
        { "\xD0\xB8", "ﾐｸ" }, // "и" alone
        { "\xC3\xA9\xC3\xA8", "ﾃｩﾃｨ" }, // "éè": accents with no letter beside them
        { "\xD0\xBC\xD0\xB0\xD0\xBC\xD0\xB0", "мама" }, // a Cyrillic word stays UTF-8
        { "\xCE\xB1\xCE\xB2\xCE\xB3", "αβγ" }, { "\xD0\xB8\xCE\xB1", "ﾐｸﾎｱ" }, // two alphabets in one word
    };
    for (const Case& c : cases)
        EXPECT_EQ(sjis::legacyToUtf8(c.bytes), c.text) << c.text;
}
