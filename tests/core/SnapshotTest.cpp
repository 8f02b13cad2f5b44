#include "Snapshot.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

TEST(Snapshot, RoundTripsWithEitherPartAbsentAndABadPartFailsTheWhole)
{
    const Snapshot empty { .fetchedAt = *VelmoJSON::parseDate("2025-03-04T05:06:07Z") };
    EXPECT_EQ(VelmoJSON::encode(empty), R"({"fetchedAt":"2025-03-04T05:06:07Z"})");
    EXPECT_EQ(VelmoJSON::decode<Snapshot>(VelmoJSON::encode(empty)), empty);

    // The parts in the service's own key style, the cache's date in camel case.
    const std::string balance = R"({"account_balance_micros_usd":12345678,"api_key":{"remaining_micros_usd":1000000,)"
                                R"("unlimited":false,"used_micros_usd":250000},"as_of":"2025-03-04T05:06:00Z",)"
                                R"("available_balance_micros_usd":12000000,"currency":"USD",)"
                                R"("go_to_market_balance_micros_usd":0})";
    const std::string usage = R"({"bucket_width":"1d","buckets":[],"currency":"USD","end_time":1700086400,)"
                              R"("scope":"account","start_time":1700000000,"totals":{"cache_read_tokens":1,)"
                              R"("cache_write_tokens":2,"charged_micros_usd":3,"failed_requests":4,"input_tokens":5,)"
                              R"("output_tokens":6,"requests":7,"usage_value_micros_usd":8}})";
    const std::string body
        = R"({"balance":)" + balance + R"(,"fetchedAt":"2025-03-04T05:06:07Z","usage":)" + usage + "}";
    const Snapshot snapshot = VelmoJSON::decode<Snapshot>(body);
    ASSERT_TRUE(snapshot.balance && snapshot.usage);
    EXPECT_EQ(snapshot.usage->totals.failedRequests, 4);
    EXPECT_EQ(VelmoJSON::encode(snapshot), body);

    // A strict fetchedAt; a bad part fails the whole snapshot.
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
    EXPECT_THAT([] { VelmoJSON::decode<Snapshot>(R"({"fetchedAt":"yesterday"})"); },
        testing::ThrowsMessage<VelmoJSON::DecodingError>(testing::StrEq("unrecognized date: yesterday")));
}

} // namespace
