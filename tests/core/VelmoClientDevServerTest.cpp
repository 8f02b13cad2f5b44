// The production transport and VelmoClient against the real velmo-devserver
// process on an ephemeral loopback port: the largest answer a user fetches,
// decoded figure for figure. Statuses, retries and time-outs are covered over
// the fake transport and the raw sockets; the balance by the headless process
// tests.
#include "AsyncWait.h"
#include "DemoAccount.h"
#include "DevServerProcess.h"
#include "VelmoClient.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace std::chrono_literals;
using velmo::test::DevServerProcess;
using velmo::test::waitForTask;
using Json = nlohmann::json;

namespace {

constexpr std::int64_t day = 86'400;

std::int64_t epochSeconds(Timestamp instant)
{
    return std::chrono::duration_cast<std::chrono::seconds>(instant.time_since_epoch()).count();
}

Timestamp fromSeconds(std::int64_t seconds)
{
    return Timestamp(std::chrono::seconds(seconds));
}

// Compares decoded metrics with the server's own figures, key by key.
void expectMetrics(const UsageMetrics& metrics, const Json& expected, const std::string& where)
{
    SCOPED_TRACE(where);
    EXPECT_EQ(metrics.requests, expected.at("requests").get<std::int64_t>());
    EXPECT_EQ(metrics.failedRequests, expected.at("failed_requests").get<std::int64_t>());
    EXPECT_EQ(metrics.inputTokens, expected.at("input_tokens").get<std::int64_t>());
    EXPECT_EQ(metrics.outputTokens, expected.at("output_tokens").get<std::int64_t>());
    EXPECT_EQ(metrics.cacheReadTokens, expected.at("cache_read_tokens").get<std::int64_t>());
    EXPECT_EQ(metrics.cacheWriteTokens, expected.at("cache_write_tokens").get<std::int64_t>());
    EXPECT_EQ(metrics.usageValue, MicrosUSD { expected.at("usage_value_micros_usd").get<std::int64_t>() });
    EXPECT_EQ(metrics.charged, MicrosUSD { expected.at("charged_micros_usd").get<std::int64_t>() });
}

class VelmoClientDevServerTest : public testing::Test {
protected:
    VelmoClient client() const
    {
        return VelmoClient(server.baseURL(), VelmoClient::defaultHTTPClient(), "menubar");
    }

    DevServerProcess server { { "--quiet" } };
};

TEST_F(VelmoClientDevServerTest, FetchesThirtyDaysOfUsageForEitherScope)
{
    const auto session = server.issueSession();
    const std::int64_t end = epochSeconds(std::chrono::system_clock::now());
    const std::int64_t start = end - 30 * day;
    for (const UsageScope scope : { UsageScope::key, UsageScope::account }) {
        const std::string scopeText(usageScopeText(scope));
        SCOPED_TRACE(scopeText);
        auto outcome = waitForTask(client().usage(
            QString::fromStdString(session.accessToken), fromSeconds(start), fromSeconds(end), scope));
        ASSERT_TRUE(outcome.ok()) << outcome.errorText();
        const UsageSummary& usage = *outcome.value;

        // The figures are a pure function of the day: the server's own model
        // says what it must have sent.
        const Json expected = velmo::devserver::DemoAccount::usage(start, end, scopeText);
        EXPECT_EQ(usage.scope, scopeText);
        EXPECT_EQ(usage.startTime, fromSeconds(start));
        EXPECT_EQ(usage.days(), 30);
        expectMetrics(usage.totals, expected.at("totals"), "totals");
        const Json& buckets = expected.at("buckets");
        ASSERT_EQ(usage.buckets.size(), 30u);
        ASSERT_EQ(usage.buckets.size(), buckets.size());
        for (std::size_t i = 0; i < buckets.size(); ++i) {
            EXPECT_EQ(
                usage.buckets[i].startTime, fromSeconds(buckets[i].at("start_time").get<std::int64_t>()));
            expectMetrics(usage.buckets[i].metrics, buckets[i], "bucket " + std::to_string(i));
        }

        const Json last = server.counters().at("last_request").at("usage");
        EXPECT_EQ(last.at("path"), "/v1/usage");
        EXPECT_EQ(last.at("query"),
            (Json { { "start_time", std::to_string(start) }, { "end_time", std::to_string(end) },
                { "bucket_width", "1d" }, { "scope", scopeText } }));
    }
    EXPECT_EQ(server.counters().at("requests").at("usage"), 2);
}

} // namespace
