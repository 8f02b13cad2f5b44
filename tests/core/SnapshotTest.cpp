#include "Snapshot.h"

#include <gtest/gtest.h>

namespace {

TEST(Snapshot, RoundTripsWithEitherPartAbsentAndMixedKeyStyles)
{
    const Snapshot empty { .fetchedAt = *VelmoJSON::parseDate("2025-03-04T05:06:07Z") };
    EXPECT_EQ(VelmoJSON::encode(empty), R"({"fetchedAt":"2025-03-04T05:06:07Z"})");
    EXPECT_EQ(VelmoJSON::decode<Snapshot>(VelmoJSON::encode(empty)), empty);

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
    ASSERT_TRUE(snapshot.balance && snapshot.usage);
    EXPECT_EQ(snapshot.usage->buckets.at(0).metrics.failedRequests, 4);
    EXPECT_EQ(VelmoJSON::encode(snapshot), body);
}

TEST(Snapshot, StrictFetchedAtAndABadPartFailTheWholeSnapshot)
{
    const char* bad[] = {
        "{}",
        R"({"fetchedAt":null})",
        R"({"fetched_at":"2025-03-04T05:06:07Z"})", // camel case for the cache's own key only
        R"({"fetchedAt":"2025-03-04T05:06:07Z","usage":{"buckets":[{"end_time":1}]}})",
        R"({"fetchedAt":"2025-03-04T05:06:07Z","balance":"none"})",
        R"({"fetchedAt":"2025-03-04T05:06:07Z","balance":{"curr)", // a truncated file
    };
    for (const char* json : bad)
        EXPECT_THROW(VelmoJSON::decode<Snapshot>(json), VelmoJSON::DecodingError) << json;
    try {
        VelmoJSON::decode<Snapshot>(R"({"fetchedAt":"yesterday"})");
        FAIL();
    } catch (const VelmoJSON::DecodingError& error) {
        EXPECT_STREQ(error.what(), "unrecognized date: yesterday");
    }
}

} // namespace
