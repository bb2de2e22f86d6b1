#include "listgen/out1.h"

#include <gtest/gtest.h>

using namespace melodex;

TEST(NumberPatterns, RoundHalfAwayFromZeroAndGroup)
{
    struct Case {
        double value;
        const char* grouped;
        const char* fixed2;
    };
    const Case cases[] = {
        { 0, "", "0.00" },
        { 0.4, "", "0.40" },
        { 0.5, "1", "0.50" },
        { 1.5, "2", "1.50" },
        { 2.5, "3", "2.50" },
        { 5, "5", "5.00" },
        { 59, "59", "59.00" },
        { 100, "100", "100.00" },
        { 2.861, "3", "2.86" },
        { 1023.994, "1,024", "1,023.99" },
        { 0.005, "", "0.01" },
        { 999.995, "1,000", "1,000.00" },
        { 1234567, "1,234,567", "1,234,567.00" },
        { -1.5, "-2", "-1.50" },
        { -0.4, "" /* rounds to zero: no sign */, "-0.40" },
        { -1234, "-1,234", "-1,234.00" },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(formatGrouped(c.value), c.grouped) << c.value;
        EXPECT_EQ(formatGroupedFixed2(c.value), c.fixed2) << c.value;
    }
}

TEST(PlainDecimal, DigitsAndSignOnly)
{
    EXPECT_EQ(plainDecimal(128), "128");
    EXPECT_EQ(plainDecimal(-3), "-3");
}

TEST(SecToTime, GoesPastNinetyNineHours)
{
    const std::pair<int64_t, const char*> cases[] = {
        { 0, "00:00:00" }, { 59, "00:00:59" }, { 61, "00:01:01" }, { 3599, "00:59:59" }, { 3600, "01:00:00" },
        { 86399, "23:59:59" }, { 359999, "99:59:59" }, { 360000, "100:00:00" },
        { 2147483647, "596523:14:07" }, { 2147483648LL, "596523:14:08" }, // a folder's total may pass 32 bits
        { -1, "-01:00:-01" }, // the sign rules give negatives an odd but stable text
    };
    for (const auto& [t, text] : cases)
        EXPECT_EQ(SecToTime(t), text) << t;
}

TEST(SizeText, UsesTheChosenUnit)
{
    struct Case {
        int32_t bytes;
        int unit;
        const char* text;
    };
    const Case cases[] = {
        { 0, 0, " Byte" },
        { 1234567, 0, "1,234,567 Byte" },
        { 511, 1, " KB" },
        { 512, 1, "1 KB" },
        { 1536, 1, "2 KB" },
        { 100, 2, "0.00 MB" },
        { 3000000, 2, "2.86 MB" },
        { 2147483647, 2, "2,048.00 MB" },
        { 5, 7, "5 Byte" },
    };
    for (const auto& c : cases)
        EXPECT_EQ(SizeText(c.bytes, c.unit), c.text) << c.bytes << " unit " << c.unit;
}

TEST(TotalSizeText, UnitFollowsMagnitude)
{
    const std::pair<int64_t, const char*> cases[] = {
        { 0, " Byte" },
        { 1024, "1,024 Byte" },
        { 1025, "1 KB" },
        { 1048576, "1,024 KB" },
        { 1048577, "1.00 MB" },
        { 3000000, "2.86 MB" },
        { 2147483648LL, "2,048.00 MB" }, // past 32 bits: formatted, not an error
        { 5000000000000LL, "4,768,371.58 MB" },
    };
    for (const auto& [bytes, text] : cases)
        EXPECT_EQ(TotalSizeText(bytes), text) << bytes;
}

TEST(ColumnHeaders, PaddedToThirtyTwoCharactersNoneLeftEmpty)
{
    const auto& h = ColumnHeaders();
    EXPECT_EQ(h[0], "ファイル名" + std::string(27, ' '));
    EXPECT_EQ(h[10], "サンプリングレート" + std::string(23, ' '));
    EXPECT_EQ(h[11], "");
}
