// The stand-in service's API over real sockets: the balance and usage bodies
// decode with the client's own decoder, and credentials are checked.
#include "DevServerProcess.h"
#include "HTTPTestClient.h"
#include "TestSupport.h"

#include "Balance.h"
#include "Usage.h"
#include "VelmoJSON.h"

#include <gtest/gtest.h>

#include <QFile>

#include <chrono>

using namespace velmo::test;
using Json = nlohmann::json;

namespace {

std::int64_t nowSeconds()
{
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string usagePath(std::int64_t start, std::int64_t end, const std::string& scope = "key")
{
    return "/v1/usage?start_time=" + std::to_string(start) + "&end_time=" + std::to_string(end)
        + "&bucket_width=1d&scope=" + scope;
}

class DevServerServiceTest : public ::testing::Test {
protected:
    DevServerProcess server { { "--quiet" } };
    DevServerProcess::Session session = server.issueSession();
    httplib::Client client = http::client(server);
};

} // namespace

// The exact figures are checked through the client in VelmoClientDevServerTest;
// here, the shapes and the invariants the UI relies on.
TEST_F(DevServerServiceTest, BalanceAndUsageDecodeWithTheClientsDecoder)
{
    auto res = client.Get("/v1/credits/balance", http::bearer(session.accessToken));
    ASSERT_EQ(http::statusOf(res), 200);
    EXPECT_EQ(res->get_header_value("Content-Type"), "application/json");
    const Balance balance = VelmoJSON::decode<Balance>(res->body);
    ASSERT_TRUE(balance.gtm.has_value());
    EXPECT_EQ(balance.gtm->balance, balance.gtm->trialBalance + balance.gtm->subscriptionBalance);
    EXPECT_EQ(balance.apiKey.remaining, balance.availableBalance);
    // Amounts come both as numeric strings and as integers.
    const Json raw = Json::parse(res->body);
    EXPECT_TRUE(raw["account_balance_micros_usd"].is_string());
    EXPECT_TRUE(raw["api_key"]["used_micros_usd"].is_number_integer());

    const std::int64_t end = nowSeconds();
    const std::int64_t start = end - 2'592'000;
    for (const char* scope : { "key", "account" }) {
        SCOPED_TRACE(scope);
        auto usageRes = client.Get(usagePath(start, end, scope), http::bearer(session.accessToken));
        ASSERT_EQ(http::statusOf(usageRes), 200);
        const UsageSummary usage = VelmoJSON::decode<UsageSummary>(usageRes->body);
        ASSERT_EQ(usage.buckets.size(), 30u);
        UsageMetrics sum;
        int daysWithFailures = 0;
        for (const UsageBucket& b : usage.buckets) {
            EXPECT_EQ(b.endTime - b.startTime, std::chrono::seconds(86'400));
            EXPECT_LE(b.metrics.failedRequests, b.metrics.requests);
            EXPECT_LE(b.metrics.charged, b.metrics.usageValue);
            sum.requests += b.metrics.requests;
            sum.failedRequests += b.metrics.failedRequests;
            sum.inputTokens += b.metrics.inputTokens;
            sum.outputTokens += b.metrics.outputTokens;
            sum.cacheReadTokens += b.metrics.cacheReadTokens;
            sum.cacheWriteTokens += b.metrics.cacheWriteTokens;
            sum.usageValue += b.metrics.usageValue;
            sum.charged += b.metrics.charged;
            daysWithFailures += b.metrics.failedRequests > 0 ? 1 : 0;
        }
        EXPECT_EQ(sum, usage.totals);
        // Some days, not all, with failures.
        EXPECT_GT(daysWithFailures, 0);
        EXPECT_LT(daysWithFailures, 30);
    }
}

TEST_F(DevServerServiceTest, UsageRejectsMalformedQueriesWithReadableErrors)
{
    const std::int64_t end = nowSeconds();
    const struct {
        std::string path;
        std::string message;
    } cases[] = {
        { "/v1/usage?end_time=" + std::to_string(end) + "&bucket_width=1d&scope=key", "start_time and end_time are required" },
        { usagePath(end, end - 10), "end_time must be after start_time" },
        { usagePath(end - 100 * 86'400, end), "the window may span at most 93 days" },
        { usagePath(end - 86'400, end, "team"), "scope must be key or account" },
        { usagePath(end - 86'400, end) + "&scope=account", "scope was sent more than once" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        auto res = client.Get(c.path, http::bearer(session.accessToken));
        ASSERT_EQ(http::statusOf(res), 400);
        EXPECT_EQ(Json::parse(res->body), (Json { { "error", { { "message", c.message } } } }));
    }
}

TEST_F(DevServerServiceTest, BadCredentialsGet401WithAChallenge)
{
    // The token texts themselves are checked through the client in VelmoClientDevServerTest.
    for (const httplib::Headers& headers : { httplib::Headers { { "Authorization", "Basic abc" } },
             http::bearer(session.accessToken + "x") }) {
        for (const std::string& path : { std::string("/v1/credits/balance"), usagePath(1, 2) }) {
            SCOPED_TRACE(path);
            auto res = client.Get(path, headers);
            ASSERT_EQ(http::statusOf(res), 401);
            EXPECT_NE(res->get_header_value("WWW-Authenticate").find("Bearer"), std::string::npos);
        }
    }
}

TEST_F(DevServerServiceTest, CountersRecordTheHeadersSentButNeverTheToken)
{
    ASSERT_TRUE(client.Get(usagePath(1, 86'401), http::bearer(session.accessToken)));
    const Json counters = server.counters();
    EXPECT_EQ(counters["requests"]["usage"], 1);
    EXPECT_EQ(counters["last_request"]["usage"]["authorization_scheme"], "Bearer");
    EXPECT_EQ(counters.dump().find(session.accessToken), std::string::npos);
}

TEST(DevServerProcessTest, StopsCleanlyAndRefusesABadCommandLine)
{
    DevServerProcess server({ "--quiet" });
    EXPECT_TRUE(server.isRunning());
    // Exit code 0 also means the sanitizers found nothing at exit.
    EXPECT_EQ(server.stop(), 0);
    EXPECT_FALSE(server.isRunning());
    EXPECT_THROW(DevServerProcess({ "--fault", "nowhere:503" }), std::runtime_error);
    EXPECT_THROW(DevServerProcess({ "--no-such-flag" }), std::runtime_error);
}

TEST(DevServerProcessTest, WritesACLITokenFileThatTheAPIAccepts)
{
    ScratchDir dir;
    const QString path = dir.filePath("tokens.json");
    DevServerProcess server({ "--quiet", "--write-cli-tokens", path });
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    ASSERT_TRUE(text.endsWith('\n'));
    EXPECT_EQ(file.permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther), QFileDevice::Permissions {});
    const Json tokens = Json::parse(text.toStdString());
    EXPECT_EQ(tokens["clientId"], "velmo-cli");
    EXPECT_TRUE(tokens["expiresAt"].is_number());
    auto client = http::client(server);
    ASSERT_EQ(http::statusOf(client.Get("/v1/credits/balance", http::bearer(tokens["accessToken"].get<std::string>()))), 200);
}
