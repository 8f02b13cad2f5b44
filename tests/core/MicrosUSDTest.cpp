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

// Cents round half up, into the next dollar too; compact uses K and M from a thousand dollars.
TEST(MicrosUSD, FormattedAndCompact)
{
    constexpr auto formatted = &MicrosUSD::formatted;
    constexpr auto compact = &MicrosUSD::compact;
    const std::tuple<std::string (MicrosUSD::*)() const, std::int64_t, const char*> cases[] = {
        { formatted, 0, "$0.00" },
        { formatted, 4'999, "$0.00" },
        { formatted, 5'000, "$0.01" },
        { formatted, 994'999, "$0.99" },
        { formatted, 995'000, "$1.00" },
        { formatted, -1, "-$0.00" },
        { formatted, -1'234'567, "-$1.23" },
        { formatted, int64Max, "$9223372036854.78" },
        { formatted, int64Min, "-$9223372036854.78" },
        { compact, 999'990'000, "$999.99" },
        { compact, 1'000'000'000, "$1K" },
        { compact, 1'500'000'000, "$1.5K" },
        { compact, 999'999'000'000, "$1000K" },
        { compact, 2'000'000'000'000, "$2M" },
        { compact, -2'500'000'000, "-$2.5K" },
    };
    for (const auto& [format, micros, text] : cases)
        EXPECT_EQ((MicrosUSD(micros).*format)(), text) << micros;
}

TEST(MicrosUSD, DecodesIntegersRoundedNumbersAndNumericStringsAndNothingElse)
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

    // Everything else is refused with one text.
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
