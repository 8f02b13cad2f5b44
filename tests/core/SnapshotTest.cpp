#include "Snapshot.h"

#include <gtest/gtest.h>

using namespace std::chrono;

namespace {

Timestamp at(const char* text)
{
    return *VelmoJSON::parseDate(text);
}

TEST(Snapshot, WithNeitherPartEncodesOnlyFetchedAt)
{
    const Snapshot empty { .fetchedAt = at("2025-03-04T05:06:07Z") };
    EXPECT_EQ(VelmoJSON::encode(empty), R"({"fetchedAt":"2025-03-04T05:06:07Z"})");
    const Snapshot back = VelmoJSON::decode<Snapshot>(VelmoJSON::encode(empty));
    EXPECT_EQ(back, empty);
    EXPECT_FALSE(back.balance);
    EXPECT_FALSE(back.usage);
}

TEST(Snapshot, FullRoundTripWithMixedKeyStyles)
{
    const std::string body = R"({"balance":{"account_balance_micros_usd":12345678,"api_key":{)"
                             R"("remaining_micros_usd":1000000,"unlimited":false,"used_micros_usd":250000},)"
                             R"("as_of":"2025-03-04T05:06:00Z","available_balance_micros_usd":12000000,)"
                             R"("currency":"USD","go_to_market_balance_micros_usd":0},)"
                             R"("fetchedAt":"2025-03-04T05:06:07Z","usage":{"bucket_width":"1d","buckets":[{)"
                             R"("cache_read_tokens":1,"cache_write_tokens":2,"charged_micros_usd":3,)"
                             R"("end_time":1700086400,"failed_requests":4,"input_tokens":5,"output_tokens":6,)"
                             R"("requests":7,"start_time":1700000000,"usage_value_micros_usd":8}],)"
                             R"("currency":"USD","end_time":1700086400,"scope":"account",)"
                             R"("start_time":1700000000,"totals":{"cache_read_tokens":1,"cache_write_tokens":2,)"
                             R"("charged_micros_usd":3,"failed_requests":4,"input_tokens":5,"output_tokens":6,)"
                             R"("requests":7,"usage_value_micros_usd":8}}})";
    const Snapshot snapshot = VelmoJSON::decode<Snapshot>(body);
    ASSERT_TRUE(snapshot.balance);
    ASSERT_TRUE(snapshot.usage);
    EXPECT_EQ(snapshot.usage->buckets.at(0).metrics.failedRequests, 4);
    EXPECT_EQ(VelmoJSON::encode(snapshot), body);
}

TEST(Snapshot, FetchedAtIsRequiredAndStrict)
{
    EXPECT_THROW(VelmoJSON::decode<Snapshot>("{}"), VelmoJSON::DecodingError);
    EXPECT_THROW(VelmoJSON::decode<Snapshot>(R"({"fetchedAt":null})"), VelmoJSON::DecodingError);
    try {
        VelmoJSON::decode<Snapshot>(R"({"fetchedAt":"yesterday"})");
        FAIL();
    } catch (const VelmoJSON::DecodingError& error) {
        EXPECT_STREQ(error.what(), "unrecognized date: yesterday");
    }
    // The cache uses camel case only for its own key.
    EXPECT_THROW(VelmoJSON::decode<Snapshot>(R"({"fetched_at":"2025-03-04T05:06:07Z"})"), VelmoJSON::DecodingError);
}

TEST(Snapshot, ABadPartFailsTheWholeSnapshot)
{
    EXPECT_THROW(VelmoJSON::decode<Snapshot>(
                     R"({"fetchedAt":"2025-03-04T05:06:07Z","usage":{"buckets":[{"end_time":1}]}})"),
        VelmoJSON::DecodingError);
    EXPECT_THROW(VelmoJSON::decode<Snapshot>(R"({"fetchedAt":"2025-03-04T05:06:07Z","balance":"none"})"),
        VelmoJSON::DecodingError);
    // A truncated cache file is a clear error too.
    EXPECT_THROW(VelmoJSON::decode<Snapshot>(R"({"fetchedAt":"2025-03-04T05:06:07Z","balance":{"curr)"),
        VelmoJSON::DecodingError);
}

} // namespace
