#include "Usage.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <limits>

using namespace std::chrono;

namespace {

constexpr std::int64_t int64Max = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t int64Min = std::numeric_limits<std::int64_t>::min();

UsageSummary decode(const std::string& json)
{
    return VelmoJSON::decode<UsageSummary>(json);
}

Timestamp epoch(double secs)
{
    return Timestamp {} + duration_cast<Timestamp::duration>(duration<double>(secs));
}

TEST(UsageSummary, DefaultsDaysHalfAwayFromZeroAtLeastOneAndDailyAverageTruncated)
{
    const UsageSummary empty = decode("{}");
    EXPECT_EQ(empty, (UsageSummary { .scope = "key", .currency = "USD", .bucketWidth = "1d" }));
    EXPECT_EQ(empty.days(), 1);
    const UsageSummary week = decode(
        R"({"start_time":1700000000,"end_time":1700604800,"totals":{"charged_micros_usd":7000006}})");
    EXPECT_EQ(week.days(), 7);
    EXPECT_EQ(week.dailyAverageCharged(), MicrosUSD(1'000'000));

    UsageSummary s;
    s.startTime = epoch(1'700'000'000);
    const std::pair<double, std::int64_t> cases[] = {
        { 3.5 * 86'400, 4 }, { 3.49 * 86'400, 3 }, { 0, 1 }, { -10 * 86'400, 1 }, { 1.5 * 86'400, 2 },
    };
    for (const auto& [length, days] : cases) {
        s.endTime = s.startTime + duration_cast<Timestamp::duration>(duration<double>(length));
        EXPECT_EQ(s.days(), days) << length;
    }
    // The extreme instants do not overflow the length.
    s.startTime = Timestamp::min();
    s.endTime = Timestamp::max();
    EXPECT_GT(s.days(), 200'000);

    s.startTime = {};
    s.endTime = s.startTime + hours(24 * 3);
    s.totals.charged = MicrosUSD(-10);
    EXPECT_EQ(s.dailyAverageCharged(), MicrosUSD(-3));
    s.totals.charged = MicrosUSD(int64Min);
    s.endTime = s.startTime;
    EXPECT_EQ(s.dailyAverageCharged(), MicrosUSD(int64Min));
}

// Counters are exact integers, amounts follow the money rules, bucket times
// are required, and one bad member fails the whole response.
TEST(UsageSummary, DecodingIsStrict)
{
    for (const char* bad : { R"({"totals":{"requests":"12"}})", R"({"totals":{"input_tokens":1.5}})",
             R"({"totals":{"output_tokens":9223372036854775808}})", R"({"totals":{"requests":true}})",
             R"({"start_time":1700000000.5})", R"({"start_time":"1700000000"})",
             R"({"end_time":9000000000000000000})", // beyond the clock: a clear failure, not a wrap
             R"({"buckets":[{"end_time":1700086400}]})", R"({"buckets":[{"start_time":null,"end_time":1}]})",
             R"({"buckets":{}})" })
        EXPECT_THROW(decode(bad), VelmoJSON::DecodingError) << bad;
    EXPECT_EQ(decode(R"({"totals":{"requests":12.0}})").totals.requests, 12);
    EXPECT_EQ(decode(R"({"start_time":1700000000.0})").startTime, epoch(1'700'000'000));
    EXPECT_EQ(decode(R"({"totals":{"charged_micros_usd":"12"}})").totals.charged, MicrosUSD(12));
    EXPECT_EQ(decode(R"({"totals":{"usage_value_micros_usd":2.5}})").totals.usageValue, MicrosUSD(3));
    EXPECT_EQ(decode(R"({"buckets":[{"start_time":1700000000,"end_time":1700086400}]})").buckets,
        (std::vector<UsageBucket> { { epoch(1'700'000'000), epoch(1'700'086'400), UsageMetrics::zero } }));
    EXPECT_THAT([] { decode(R"({"buckets":[{"start_time":1,"end_time":2},{"start_time":2,"end_time":3,"requests":"12"}]})"); },
        testing::Throws<VelmoJSON::DecodingError>(
            testing::Property(&VelmoJSON::DecodingError::path, "buckets[1].requests")));
}

TEST(UsageMetrics, DerivedSumsAndRatesNeitherOverflowNorDivideByZero)
{
    UsageMetrics m { .requests = 0, .failedRequests = 5, .inputTokens = 100, .outputTokens = 50 };
    EXPECT_EQ(m.totalTokens(), 150);
    EXPECT_EQ(m.failureRate(), 0.0);
    m.requests = 8;
    m.failedRequests = 2;
    EXPECT_DOUBLE_EQ(m.failureRate(), 0.25);
    m.inputTokens = int64Max;
    m.cacheReadTokens = int64Max;
    m.cacheWriteTokens = 3;
    EXPECT_EQ(m.totalTokens(), int64Max);
    EXPECT_EQ(m.cacheTokens(), int64Max);
    EXPECT_EQ(usageScopeFromText("account"), UsageScope::account);
    EXPECT_EQ(usageScopeFromText("Account"), std::nullopt);
}

TEST(UsageSummary, EncodesEveryKeyWithEpochSecondsTruncated)
{
    UsageSummary s;
    s.startTime = epoch(1'700'000'000.9);
    s.endTime = epoch(1'700'086'400);
    s.buckets.push_back({ epoch(1'700'000'000.9), epoch(1'700'086'400), { .requests = 3, .charged = MicrosUSD(5) } });
    // Every key is checked against the server's own answer in the devserver client test.
    const UsageSummary back = decode(VelmoJSON::encode(s)); // whole seconds: a fraction would not decode
    EXPECT_EQ(back.startTime, epoch(1'700'000'000)); // truncated, not rounded
    EXPECT_EQ(back.buckets.at(0).startTime, epoch(1'700'000'000));
    EXPECT_EQ(back.buckets.at(0).metrics, s.buckets[0].metrics);
    // An empty bucket list is still written.
    EXPECT_NE(VelmoJSON::encode(UsageSummary {}).find(R"("buckets":[])"), std::string::npos);
}

} // namespace
