#include "Balance.h"
#include "MicrosUSD.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <limits>

namespace {

constexpr std::int64_t int64Max = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t int64Min = std::numeric_limits<std::int64_t>::min();

MicrosUSD decodeMicros(const char* json)
{
    return VelmoJSON::decode<MicrosUSD>(json);
}

TEST(MicrosUSD, ArithmeticIsExactAndSaturatesAtTheEnds)
{
    MicrosUSD a(1'500'000);
    a += MicrosUSD(250'000);
    a -= MicrosUSD(2'000'000);
    EXPECT_EQ(a, MicrosUSD(-250'000));
    EXPECT_EQ(MicrosUSD(int64Max) + MicrosUSD(1), MicrosUSD(int64Max));
    EXPECT_EQ(MicrosUSD(int64Min) - MicrosUSD(1), MicrosUSD(int64Min));
    EXPECT_EQ(MicrosUSD(int64Min) + MicrosUSD(-5), MicrosUSD(int64Min));
    EXPECT_EQ(MicrosUSD(5) - MicrosUSD(int64Min), MicrosUSD(int64Max));
    EXPECT_LT(MicrosUSD(-1), MicrosUSD::zero);
    EXPECT_DOUBLE_EQ(MicrosUSD(1'250'000).dollars(), 1.25);
}

TEST(MicrosUSD, FormattedRoundsCentsHalfUpAndIntoTheNextDollar)
{
    const std::pair<std::int64_t, const char*> cases[] = {
        { 0, "$0.00" },
        { 1, "$0.00" },
        { 4'999, "$0.00" },
        { 5'000, "$0.01" },
        { 94'999, "$0.09" },
        { 95'000, "$0.10" },
        { 1'234'567, "$1.23" },
        { 994'999, "$0.99" },
        { 995'000, "$1.00" },
        { 1'999'999, "$2.00" },
        { -1, "-$0.00" },
        { -1'234'567, "-$1.23" },
        { 1'234'567'890'000, "$1234567.89" },
        { int64Max, "$9223372036854.78" },
        { int64Min, "-$9223372036854.78" },
    };
    for (const auto& [micros, text] : cases)
        EXPECT_EQ(MicrosUSD(micros).formatted(), text) << micros;
}

TEST(MicrosUSD, CompactUsesKAndMFromAThousandDollars)
{
    const std::pair<std::int64_t, const char*> cases[] = {
        { 999'990'000, "$999.99" },
        { 1'000'000'000, "$1K" },
        { 1'500'000'000, "$1.5K" },
        { 12'340'000'000, "$12.3K" },

        { 999'999'000'000, "$1000K" },
        { 2'000'000'000'000, "$2M" },
        { -2'500'000'000, "-$2.5K" },
        { -5'000'000, "-$5.00" },
    };
    for (const auto& [micros, text] : cases)
        EXPECT_EQ(MicrosUSD(micros).compact(), text) << micros;
}

TEST(MicrosUSD, DecodesIntegersRoundedNumbersAndNumericStrings)
{
    EXPECT_EQ(decodeMicros("42"), MicrosUSD(42));
    EXPECT_EQ(decodeMicros("-7"), MicrosUSD(-7));
    EXPECT_EQ(decodeMicros("12.0"), MicrosUSD(12));
    EXPECT_EQ(decodeMicros("1.5"), MicrosUSD(2));
    EXPECT_EQ(decodeMicros("-1.5"), MicrosUSD(-2));
    EXPECT_EQ(decodeMicros("-2.5"), MicrosUSD(-3));
    EXPECT_EQ(decodeMicros("0.49"), MicrosUSD(0));
    EXPECT_EQ(decodeMicros("1e3"), MicrosUSD(1000));
    EXPECT_EQ(decodeMicros(R"("42")"), MicrosUSD(42));
    EXPECT_EQ(decodeMicros("\"  +42\\t\""), MicrosUSD(42));
    EXPECT_EQ(decodeMicros(R"("-3")"), MicrosUSD(-3));
    // A no-break space and an ideographic space are horizontal white space too.
    EXPECT_EQ(decodeMicros("\"\xC2\xA0" "7\xE3\x80\x80\""), MicrosUSD(7));
    EXPECT_EQ(decodeMicros(R"("9223372036854775807")"), MicrosUSD(int64Max));
    EXPECT_EQ(decodeMicros(R"("-9223372036854775808")"), MicrosUSD(int64Min));
    EXPECT_EQ(decodeMicros("9223372036854775807"), MicrosUSD(int64Max));
    EXPECT_EQ(decodeMicros("-9223372036854775808"), MicrosUSD(int64Min));
}

TEST(MicrosUSD, RejectsEverythingElseWithOneText)
{
    const char* bad[] = {
        R"("1.5")", R"("")", R"("   ")", R"("42\n")", R"("4 2")", R"("+-3")", R"("-")", R"("+")",
        R"("1e3")", R"("1,000")", R"("9223372036854775808")", R"("-9223372036854775809")", R"("0x10")",
        "true", "[]", "{}", "null",
        // No 64-bit value: beyond the range as an integer or after rounding.
        "9223372036854775808", "1e300", "-1e19", "18446744073709551616",
    };
    for (const char* json : bad) {
        try {
            decodeMicros(json);
            ADD_FAILURE() << "accepted " << json;
        } catch (const VelmoJSON::DecodingError& error) {
            EXPECT_STREQ(error.what(), "expected micros USD as a number or numeric string") << json;
        }
    }
}

TEST(MicrosUSD, EncodesAsABareInteger)
{
    EXPECT_EQ(VelmoJSON::encode(MicrosUSD(1'234'567)), "1234567");
    EXPECT_EQ(VelmoJSON::encode(MicrosUSD(int64Min)), "-9223372036854775808");
}

} // namespace

