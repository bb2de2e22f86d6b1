#include "common/text_rules.h"

#include <cstdint>

#include <gtest/gtest.h>

using namespace melodex;

TEST(SpacedDecimal, BlankBeforeZeroAndPositiveMinusBeforeNegative)
{
    const std::pair<int64_t, const char*> cases[] = {
        { 0, " 0" },
        { 3, " 3" },
        { 29, " 29" },
        { -1, "-1" },
        { -3, "-3" },
        { INT64_MAX, " 9223372036854775807" },
        { INT64_MIN, "-9223372036854775808" },
    };
    for (const auto& [value, text] : cases)
        EXPECT_EQ(spacedDecimal(value), text) << value;
}

TEST(AsciiLower, OnlyAsciiLettersWhateverTheLocale)
{
    // É in Latin-1 (C9) and in UTF-8 (C3 89) stay; a CP932 trail byte is a
    // byte like any other ("ア" is 83 41).
    EXPECT_EQ(
        asciiLower("MeLoDeX.INI \xC9 \xC3\x89 \x83\x41 @[`{"), "melodex.ini \xC9 \xC3\x89 \x83\x61 @[`{");
}

TEST(Trim, TakesOffOnlyTheGivenCharactersAtTheEnds)
{
    struct Case {
        std::string_view text, blanks, expected;
    };
    const Case cases[] = {
        { "  list.htm  ", " ", "list.htm" },
        { "\t list.htm\t", " ", "\t list.htm\t" },
        { "\t a b \t", kBlanks, "a b" },
        { "   ", " ", "" },
        { "", kBlanks, "" },
        { "\n x \n", "\t\n\f\r ", "x" },
    };
    for (const auto& c : cases)
        EXPECT_EQ(trim(c.text, c.blanks), c.expected) << "[" << c.text << "]";
}
