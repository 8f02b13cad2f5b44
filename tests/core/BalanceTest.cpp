#include "Balance.h"

#include <gtest/gtest.h>

#include <limits>

using namespace std::chrono;

namespace {

Balance decode(const std::string& json)
{
    return VelmoJSON::decode<Balance>(json);
}

TEST(Balance, EmptyOrNullMembersGetEveryDefault)
{
    const auto before = system_clock::now();
    for (const char* json : { "{}", R"({"currency":null,"account_balance_micros_usd":null,"gtm":null,"api_key":null})" }) {
        const Balance b = decode(json);
        EXPECT_EQ(b.currency, "USD") << json;
        EXPECT_EQ(b.availableBalance, MicrosUSD::zero);
        EXPECT_FALSE(b.gtm);
        // Without "api_key" the key is unlimited.
        EXPECT_TRUE(b.apiKey.unlimited);
        EXPECT_EQ(b.apiKey.limit(), std::nullopt);
        EXPECT_GE(b.asOf, before);
        EXPECT_LE(b.asOf, system_clock::now());
    }
    // An "api_key" object without "unlimited" is a limited key.
    EXPECT_FALSE(decode(R"({"api_key":{}})").apiKey.unlimited);
    EXPECT_EQ(decode(R"({"api_key":{}})").apiKey.limit(), MicrosUSD::zero);
    EXPECT_EQ(decode(R"({"api_key":{"unlimited":true,"remaining_micros_usd":5}})").apiKey.limit(), std::nullopt);
    EXPECT_EQ(decode(R"({"api_key":{"remaining_micros_usd":"3000000","used_micros_usd":1000000}})").apiKey.limit(),
        MicrosUSD(4'000'000));
}

TEST(Balance, AvailableFallsBackLowEmptyAndPayAsYouGoFigures)
{
    const Balance fallback = decode(R"({"account_balance_micros_usd":12000000})");
    EXPECT_EQ(fallback.availableBalance, MicrosUSD(12'000'000));
    EXPECT_FALSE(fallback.isCapped());
    EXPECT_TRUE(decode(R"({"account_balance_micros_usd":1,"available_balance_micros_usd":4999999})").isLow());
    EXPECT_FALSE(decode(R"({"available_balance_micros_usd":5000000})").isLow());
    EXPECT_TRUE(decode(R"({"account_balance_micros_usd":0})").isEmpty());
    EXPECT_FALSE(decode(R"({"account_balance_micros_usd":1})").isEmpty());

    // Pay-as-you-go figures ignore a negative plan balance and saturate.
    Balance b = decode(R"({"account_balance_micros_usd":10000000,"available_balance_micros_usd":"8000000",
                          "go_to_market_balance_micros_usd":3000000})");
    EXPECT_EQ(b.payAsYouGoBalance(), MicrosUSD(7'000'000));
    EXPECT_EQ(b.availablePayAsYouGo(), MicrosUSD(5'000'000));
    EXPECT_TRUE(b.isCapped());
    b.goToMarketBalance = MicrosUSD(-2'000'000);
    EXPECT_EQ(b.payAsYouGoBalance(), MicrosUSD(12'000'000));
    EXPECT_EQ(b.availablePayAsYouGo(), MicrosUSD(8'000'000));

    constexpr auto max = std::numeric_limits<std::int64_t>::max();
    constexpr auto min = std::numeric_limits<std::int64_t>::min();
    b.accountBalance = MicrosUSD(min);
    b.goToMarketBalance = MicrosUSD(max);
    EXPECT_EQ(b.payAsYouGoBalance(), MicrosUSD(min));
    Balance::APIKeyLimit key { .unlimited = false, .remaining = MicrosUSD(max), .used = MicrosUSD(1) };
    EXPECT_EQ(key.limit(), MicrosUSD(max));
}

TEST(Balance, PlanNamesMatchCodesExactly)
{
    const std::pair<std::optional<std::string>, const char*> cases[] = {
        { std::nullopt, "Subscription Plan" },
        { "builder", "Builder Plan" },
        { "nest_growth_30d", "Builder Plan" },
        { "team", "Team Plan" },
        { "Builder", "Subscription Plan" },
        { "enterprise", "Subscription Plan" },
    };
    for (const auto& [code, name] : cases) {
        Balance::GTM gtm;
        gtm.planCode = code;
        EXPECT_EQ(gtm.planName(), name) << code.value_or("none");
    }
}

TEST(Balance, WrongTypesFailTheWholeRecord)
{
    const char* bad[] = {
        R"({"currency":5})",
        R"({"gtm":{"active":"yes"}})",
        R"({"gtm":[]})",
        R"({"api_key":{"unlimited":1}})",
        R"({"as_of":1735787045})",
        R"({"gtm":{"expires_at":"tomorrow"}})",
        R"({"account_balance_micros_usd":"1.5"})",
    };
    for (const char* json : bad)
        EXPECT_THROW(decode(json), VelmoJSON::DecodingError) << json;
}

TEST(Balance, EncodingWritesEveryKeyButAbsentOptionalsAndRoundTrips)
{
    const std::string full = R"({"account_balance_micros_usd":10000000,"api_key":{"remaining_micros_usd":3000000,)"
                             R"("unlimited":false,"used_micros_usd":1000000},"as_of":"2025-01-02T03:04:05Z",)"
                             R"("available_balance_micros_usd":8000000,"currency":"USD",)"
                             R"("go_to_market_balance_micros_usd":3000000,"gtm":{"active":true,)"
                             R"("balance_micros_usd":3000000,"expires_at":"2025-02-01T00:00:00Z",)"
                             R"("plan_code":"builder","subscription_balance_micros_usd":2500000,)"
                             R"("trial_balance_micros_usd":500000,"trial_expires_at":"2025-01-09T00:00:00Z"}})";
    const Balance b = decode(full);
    EXPECT_EQ(VelmoJSON::encode(b), full);

    Balance bare = decode(R"({"gtm":{},"as_of":"2025-01-02T03:04:05.999Z"})");
    EXPECT_EQ(bare.asOf, *VelmoJSON::parseDate("2025-01-02T03:04:05Z") + milliseconds(999));
    const std::string encoded = VelmoJSON::encode(bare);
    EXPECT_EQ(encoded.find("plan_code"), std::string::npos);
    EXPECT_EQ(encoded.find("null"), std::string::npos);
    EXPECT_NE(encoded.find(R"("api_key":{"remaining_micros_usd":0,"unlimited":true,"used_micros_usd":0})"),
        std::string::npos);
    // The round trip keeps everything but the sub-second part of the dates.
    bare.asOf = floor<seconds>(bare.asOf);
    EXPECT_EQ(decode(encoded), bare);
}

} // namespace
