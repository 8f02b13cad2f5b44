#include "Balance.h"
#include "VelmoJSON.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <string>

using namespace std::chrono;
using testing::Property;
using testing::StrEq;
using Error = VelmoJSON::DecodingError;

namespace {

Timestamp utc(int y, unsigned mo, unsigned d, int h, int mi, int s)
{
    return sys_days(year(y) / month(mo) / day(d)) + hours(h) + minutes(mi) + seconds(s);
}

std::string decodeError(const std::string& json)
{
    try {
        VelmoJSON::decode<Balance>(json);
    } catch (const VelmoJSON::DecodingError& error) {
        return error.what();
    }
    return "(decoded)";
}

TEST(ParseDate, AcceptsBothInternetDateTimeFormsOnly)
{
    EXPECT_EQ(VelmoJSON::parseDate("2025-01-02T03:04:05Z"), utc(2025, 1, 2, 3, 4, 5));
    EXPECT_EQ(VelmoJSON::parseDate("2025-01-02T03:04:05.250Z"), utc(2025, 1, 2, 3, 4, 5) + milliseconds(250));
    EXPECT_EQ(VelmoJSON::parseDate("2025-01-02T03:04:05+01:00"), utc(2025, 1, 2, 2, 4, 5));
    EXPECT_EQ(VelmoJSON::parseDate("2025-01-01T00:30:00.5-05:30"), utc(2025, 1, 1, 6, 0, 0) + milliseconds(500));
    // Digits past nanoseconds are dropped, not rounded.
    EXPECT_EQ(VelmoJSON::parseDate("2025-01-02T03:04:05.1234567899Z"), utc(2025, 1, 2, 3, 4, 5) + nanoseconds(123'456'789));
    EXPECT_EQ(VelmoJSON::parseDate("2024-02-29T23:59:59Z"), utc(2024, 2, 29, 23, 59, 59));

    // Everything else is refused.
    const char* rejected[] = {
        "2025-01-02", "2025-01-02 03:04:05Z", "2025-01-02T03:04:05", "1735787045", "", "2025-01-02T03:04:05.Z",
        "2025-01-02T03:04:05z", "2025-01-02T03:04Z", "2025-01-02T03:04:05+0100", "2025-01-02T03:04:05Z ",
        "2025-13-02T03:04:05Z", "2023-02-29T03:04:05Z", "2025-01-02T24:00:00Z", "2025-01-02T03:04:61Z",
        "2025-01-02T03:04:05+24:00", "2025-01-02T03:04:05.5.5Z",
    };
    for (const char* text : rejected)
        EXPECT_EQ(VelmoJSON::parseDate(text), std::nullopt) << text;
    EXPECT_EQ(VelmoJSON::parseDate(std::string_view("2025-01-02T03:04:05Z\0", 21)), std::nullopt);
    // In a document the error quotes the text as received.
    EXPECT_EQ(decodeError(R"({"as_of":"2025-01-02 03:04:05Z"})"), "unrecognized date: 2025-01-02 03:04:05Z");
}

TEST(FormatDate, WritesWholeSecondsInUTCAndDatesBeyondTheClockAreClampedNotWrapped)
{
    EXPECT_EQ(VelmoJSON::formatDate(utc(2025, 1, 2, 3, 4, 5) + milliseconds(999)), "2025-01-02T03:04:05Z");
    // Before 1970 the fraction is still dropped toward the earlier second.
    EXPECT_EQ(VelmoJSON::formatDate(Timestamp {} - milliseconds(500)), "1969-12-31T23:59:59Z");
    // A "never expires" sentinel must stay in the far future.
    const auto far = VelmoJSON::parseDate("9999-12-31T23:59:59Z");
    EXPECT_GT(far.value(), utc(2262, 1, 1, 0, 0, 0));
    EXPECT_EQ(VelmoJSON::parseDate(VelmoJSON::formatDate(*far)), far);
    EXPECT_LT(VelmoJSON::parseDate("0001-01-01T00:00:00Z").value(), utc(1678, 1, 1, 0, 0, 0));
}

TEST(JSONParse, MalformedDocumentsAreDecodingErrors)
{
    const std::string bad[] = {
        "",
        "{",
        "{} trailing",
        "NaN",
        "{\"a\":1,}",
        "{\"currency\":\"\xc3\x28\"}", // invalid UTF-8 inside a string
        std::string("{\"currency\":\"U\0SD\"}", 18), // raw NUL in a string
        "<html><body>Bad gateway</body></html>",
    };
    for (const auto& text : bad) {
        const std::string error = decodeError(text);
        EXPECT_NE(error, "(decoded)") << text;
        EXPECT_FALSE(error.empty());
    }
    EXPECT_EQ(decodeError("{\"currency\":\"U\\u0000SD\"}"), "text contains a NUL character");
    EXPECT_EQ(decodeError("[]"), "expected an object, found array");
    // What a decoding error quotes from the document is shown clean.
    EXPECT_EQ(decodeError(R"({"as_of":"\u001b[2J\u0007x"})"), "unrecognized date: [2Jx");
    EXPECT_EQ(decodeError("{\"a\":\x1b\x07}").find_first_of("\x1b\x07"), std::string::npos);
    // The parser's message says where, without quoting the server's bytes.
    EXPECT_EQ(decodeError("{\"a\": \xe2\x82}"),
        "malformed JSON: parse error at line 1, column 7: syntax error while parsing value - invalid literal");
    // The detailed description says where in the document it failed.
    EXPECT_THAT([] { (void)VelmoJSON::decode<Balance>(R"({"gtm":{"balance_micros_usd":"x"}})"); },
        testing::Throws<Error>(Property(&Error::detailedDescription,
            "expected micros USD as a number or numeric string (at gtm.balance_micros_usd)")));
}

TEST(JSONParse, DeepOrHugeDocumentsAreRefusedWithoutExhaustingTheStack)
{
    EXPECT_THAT([] { (void)VelmoJSON::parse(std::string(200'000, '[') + std::string(200'000, ']')); },
        testing::ThrowsMessage<Error>(StrEq("JSON nested deeper than 128 levels")));
    // Reasonable nesting is fine, and brackets inside strings (escaped quotes
    // included) are no nesting; a huge document is refused before parsing.
    EXPECT_NO_THROW(VelmoJSON::parse(std::string(128, '[') + std::string(128, ']')));
    EXPECT_THROW(VelmoJSON::parse(std::string(129, '[') + std::string(129, ']')), VelmoJSON::DecodingError);
    EXPECT_NO_THROW(VelmoJSON::parse("[\"\\\"" + std::string(300, '[') + "\"]"));
    EXPECT_NO_THROW(VelmoJSON::parse(R"({"a\\":[[]]})"));
    std::string huge = "\"" + std::string(VelmoJSON::maxDocumentBytes, 'x') + "\"";
    EXPECT_THROW(VelmoJSON::parse(huge), VelmoJSON::DecodingError);
}

} // namespace
