#include "Balance.h"
#include "MicrosUSD.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <limits>

namespace {

constexpr std::int64_t int64Max = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t int64Min = std::numeric_limits<std::int64_t>::min();

MicrosUSD decodeMicros(const char* json)
{
    return VelmoJSON::decode<MicrosUSD>(json);
}

TEST(MicrosUSD, FormattedRoundsCentsHalfUpAndIntoTheNextDollar)
{
    const std::pair<std::int64_t, const char*> cases[] = {
        { 0, "$0.00" },
        { 4'999, "$0.00" },
        { 5'000, "$0.01" },
        { 994'999, "$0.99" },
        { 995'000, "$1.00" },
        { -1, "-$0.00" },
        { -1'234'567, "-$1.23" },
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
        { 999'999'000'000, "$1000K" },
        { 2'000'000'000'000, "$2M" },
        { -2'500'000'000, "-$2.5K" },
    };
    for (const auto& [micros, text] : cases)
        EXPECT_EQ(MicrosUSD(micros).compact(), text) << micros;
}

TEST(MicrosUSD, DecodesIntegersRoundedNumbersAndNumericStrings)
{
    const std::pair<const char*, std::int64_t> cases[] = {
        { "-7", -7 },
        { "1.5", 2 },
        { "-2.5", -3 }, // halves away from zero
        { "0.49", 0 },
        { "1e3", 1000 },
        { "\"  +42\\t\"", 42 },
        // A no-break space and an ideographic space are horizontal white space too.
        { "\"\xC2\xA0" "7\xE3\x80\x80\"", 7 },
        { R"("-9223372036854775808")", int64Min },
        { "9223372036854775807", int64Max },
    };
    for (const auto& [json, micros] : cases)
        EXPECT_EQ(decodeMicros(json), MicrosUSD(micros)) << json;
    EXPECT_EQ(VelmoJSON::encode(MicrosUSD(int64Min)), "-9223372036854775808");
}

TEST(MicrosUSD, RejectsEverythingElseWithOneText)
{
    const char* bad[] = {
        R"("1.5")", R"("")", R"("42\n")", R"("4 2")", R"("+-3")", R"("1e3")", R"("9223372036854775808")",
        "true", "null",
        // No 64-bit value: beyond the range as an integer or after rounding.
        "9223372036854775808", "1e300", "-1e19",
    };
    for (const char* json : bad)
        EXPECT_THAT([json] { decodeMicros(json); }, testing::ThrowsMessage<VelmoJSON::DecodingError>(
                                                        testing::StrEq("expected micros USD as a number or numeric string")))
            << json;
}

} // namespace
