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

using Json = nlohmann::json;

namespace {

TEST(VelmoClientDevServer, FetchesThirtyDaysOfUsageForEitherScope)
{
    velmo::test::DevServerProcess server { { "--quiet" } };
    const VelmoClient client(server.baseURL(), VelmoClient::defaultHTTPClient(), "menubar");
    const auto token = QString::fromStdString(server.issueSession().accessToken);
    const std::int64_t end = std::chrono::duration_cast<std::chrono::seconds>(
        std::chrono::system_clock::now().time_since_epoch()).count();
    const std::int64_t start = end - 30 * velmo::devserver::DemoAccount::secondsPerDay;
    for (const UsageScope scope : { UsageScope::key, UsageScope::account }) {
        const std::string scopeText(usageScopeText(scope));
        SCOPED_TRACE(scopeText);
        auto outcome = velmo::test::waitForTask(
            client.usage(token, Timestamp(std::chrono::seconds(start)), Timestamp(std::chrono::seconds(end)), scope));
        ASSERT_TRUE(outcome.ok()) << outcome.errorText();
        EXPECT_EQ(outcome.value->days(), 30);
        EXPECT_EQ(outcome.value->buckets.size(), 30u);
        // The figures are a pure function of the day: the server's own model
        // says what it must have sent; every member decoded and written back.
        EXPECT_EQ(Json::parse(VelmoJSON::encode(*outcome.value)),
            velmo::devserver::DemoAccount::usage(start, end, scopeText));
        EXPECT_EQ(server.counters().at("last_request").at("usage").at("query"),
            (Json { { "start_time", std::to_string(start) }, { "end_time", std::to_string(end) },
                { "bucket_width", "1d" }, { "scope", scopeText } }));
    }
}

} // namespace
