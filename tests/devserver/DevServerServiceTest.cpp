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
#include <set>

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

TEST_F(DevServerServiceTest, BalanceIsTheDemoAccountInTheClientsShape)
{
    const auto before = std::chrono::system_clock::now() - std::chrono::seconds(1);
    auto res = client.Get("/v1/credits/balance", http::bearer(session.accessToken));
    ASSERT_TRUE(res);
    ASSERT_EQ(res->status, 200);
    EXPECT_EQ(res->get_header_value("Content-Type"), "application/json");

    const Balance balance = VelmoJSON::decode<Balance>(res->body);
    EXPECT_EQ(balance.currency, "USD");
    EXPECT_GT(balance.accountBalance, MicrosUSD::zero);
    // A capped key: less can be spent than the account holds.
    EXPECT_TRUE(balance.isCapped());
    EXPECT_LT(balance.availableBalance, balance.accountBalance);
    ASSERT_TRUE(balance.gtm.has_value());
    EXPECT_TRUE(balance.gtm->active);
    EXPECT_EQ(balance.gtm->planName(), "Builder Plan");
    EXPECT_GT(balance.gtm->trialBalance, MicrosUSD::zero);
    ASSERT_TRUE(balance.gtm->trialExpiresAt.has_value());
    ASSERT_TRUE(balance.gtm->expiresAt.has_value());
    EXPECT_GT(*balance.gtm->expiresAt, before);
    EXPECT_GT(*balance.gtm->trialExpiresAt, before);
    EXPECT_EQ(balance.gtm->balance, balance.gtm->trialBalance + balance.gtm->subscriptionBalance);
    EXPECT_FALSE(balance.apiKey.unlimited);
    ASSERT_TRUE(balance.apiKey.limit().has_value());
    EXPECT_EQ(balance.apiKey.remaining, balance.availableBalance);
    EXPECT_GE(balance.asOf, before);

    // Amounts come both as numeric strings and as integers.
    const Json raw = Json::parse(res->body);
    EXPECT_TRUE(raw["account_balance_micros_usd"].is_string());
    EXPECT_TRUE(raw["api_key"]["used_micros_usd"].is_number_integer());
}

TEST_F(DevServerServiceTest, UsageHasThirtyDailyBucketsWhoseSumsAreTheTotals)
{
    const std::int64_t end = nowSeconds();
    const std::int64_t start = end - 2'592'000;
    for (const char* scope : { "key", "account" }) {
        SCOPED_TRACE(scope);
        auto res = client.Get(usagePath(start, end, scope), http::bearer(session.accessToken));
        ASSERT_TRUE(res);
        ASSERT_EQ(res->status, 200);
        const UsageSummary usage = VelmoJSON::decode<UsageSummary>(res->body);
        EXPECT_EQ(usage.scope, scope);
        EXPECT_EQ(usage.bucketWidth, "1d");
        EXPECT_EQ(usage.days(), 30);
        ASSERT_EQ(usage.buckets.size(), 30u);
        EXPECT_EQ(usage.buckets.front().startTime, Timestamp(std::chrono::seconds(start)));
        EXPECT_EQ(usage.buckets.back().endTime, Timestamp(std::chrono::seconds(end)));

        UsageMetrics sum;
        std::set<std::int64_t> distinctCharges;
        int daysWithFailures = 0;
        for (const UsageBucket& b : usage.buckets) {
            EXPECT_EQ(b.endTime - b.startTime, std::chrono::seconds(86'400));
            EXPECT_GT(b.metrics.requests, 0);
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
            distinctCharges.insert(b.metrics.charged.value);
            daysWithFailures += b.metrics.failedRequests > 0 ? 1 : 0;
        }
        EXPECT_EQ(sum, usage.totals);
        // Varied spend, and some days (not all) with failures.
        EXPECT_GT(distinctCharges.size(), 20u);
        EXPECT_GT(daysWithFailures, 0);
        EXPECT_LT(daysWithFailures, 30);
    }
}

TEST_F(DevServerServiceTest, UsageIsStableAcrossRequestsAndTheAccountSeesMoreThanTheKey)
{
    const std::int64_t end = nowSeconds();
    const std::int64_t start = end - 7 * 86'400;
    auto first = client.Get(usagePath(start, end), http::bearer(session.accessToken));
    auto second = client.Get(usagePath(start, end), http::bearer(session.accessToken));
    auto account = client.Get(usagePath(start, end, "account"), http::bearer(session.accessToken));
    ASSERT_TRUE(first && second && account);
    EXPECT_EQ(first->body, second->body);
    const auto key = VelmoJSON::decode<UsageSummary>(first->body);
    const auto whole = VelmoJSON::decode<UsageSummary>(account->body);
    EXPECT_GT(whole.totals.requests, key.totals.requests);
}

TEST_F(DevServerServiceTest, UsageRejectsMalformedQueriesWithReadableErrors)
{
    const std::int64_t end = nowSeconds();
    const auto headers = http::bearer(session.accessToken);
    const struct {
        std::string path;
        std::string message;
    } cases[] = {
        { "/v1/usage?end_time=" + std::to_string(end) + "&bucket_width=1d&scope=key",
            "start_time and end_time are required" },
        { "/v1/usage?start_time=abc&end_time=" + std::to_string(end) + "&bucket_width=1d&scope=key",
            "start_time and end_time must be integer epoch seconds" },
        { usagePath(end, end - 10), "end_time must be after start_time" },
        { usagePath(end - 100 * 86'400, end), "the window may span at most 93 days" },
        { usagePath(end - 86'400, end, "team"), "scope must be key or account" },
        { "/v1/usage?start_time=1&end_time=2&bucket_width=1h&scope=key", "bucket_width must be 1d" },
        { usagePath(end - 86'400, end) + "&scope=account", "scope was sent more than once" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        auto res = client.Get(c.path, headers);
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 400);
        EXPECT_EQ(Json::parse(res->body), (Json { { "error", { { "message", c.message } } } }));
    }
}

TEST_F(DevServerServiceTest, BadCredentialsGet401WithAMessage)
{
    const struct {
        httplib::Headers headers;
        std::string message;
    } cases[] = {
        { {}, "missing bearer token" },
        { { { "Authorization", "Basic abc" } }, "missing bearer token" },
        { http::bearer("vat_not-a-token"), "invalid access token" },
        { http::bearer(session.accessToken + "x"), "invalid access token" },
        { http::bearer("sk-static-api-key"), "invalid access token" },
    };
    for (const auto& c : cases) {
        for (const std::string& path : { std::string("/v1/credits/balance"), usagePath(1, 2) }) {
            SCOPED_TRACE(path + " " + c.message);
            auto res = client.Get(path, c.headers);
            ASSERT_TRUE(res);
            EXPECT_EQ(res->status, 401);
            EXPECT_EQ(Json::parse(res->body), (Json { { "error", { { "message", c.message } } } }));
            EXPECT_NE(res->get_header_value("WWW-Authenticate").find("Bearer"), std::string::npos);
        }
    }
}

TEST_F(DevServerServiceTest, AnExpiredAccessTokenIsRejectedAsExpired)
{
    const auto expired = server.issueSession(0);
    EXPECT_EQ(expired.expiresIn, 0);
    auto res = client.Get("/v1/credits/balance", http::bearer(expired.accessToken));
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 401);
    EXPECT_EQ(Json::parse(res->body)["error"]["message"], "access token expired");
}

TEST_F(DevServerServiceTest, IssuedSessionIsReadyForTheCLITokenFile)
{
    EXPECT_EQ(session.clientId, "velmo-cli");
    EXPECT_EQ(session.expiresIn, 3600);
    const auto nowMs = nowSeconds() * 1000;
    EXPECT_GE(session.expiresAtMs, nowMs + 3'590'000);
    EXPECT_LE(session.expiresAtMs, nowMs + 3'610'000);
    EXPECT_EQ(session.cliTokens,
        (Json { { "accessToken", session.accessToken }, { "refreshToken", session.refreshToken },
            { "expiresAt", session.expiresAtMs }, { "clientId", "velmo-cli" } }));
    EXPECT_NE(session.accessToken.rfind("sk-", 0), 0u);
}

TEST_F(DevServerServiceTest, CountersRecordRequestsAndTheHeadersSentButNeverTheToken)
{
    ASSERT_TRUE(client.Get("/v1/credits/balance", http::bearer(session.accessToken)));
    ASSERT_TRUE(client.Get(usagePath(1, 86'401), http::bearer(session.accessToken)));
    ASSERT_TRUE(client.Get(usagePath(1, 86'401), http::bearer(session.accessToken)));
    const Json counters = server.counters();
    EXPECT_EQ(counters["requests"]["balance"], 1);
    EXPECT_EQ(counters["requests"]["usage"], 2);
    EXPECT_EQ(counters["requests"]["token"], 0);
    const Json& last = counters["last_request"]["usage"];
    EXPECT_EQ(last["x-velmo-source"], "menubar");
    EXPECT_EQ(last["accept"], "application/json");
    EXPECT_EQ(last["authorization_scheme"], "Bearer");
    EXPECT_EQ(last["query"]["end_time"], "86401");
    EXPECT_EQ(counters.dump().find(session.accessToken), std::string::npos);
}

TEST_F(DevServerServiceTest, UnknownPathsArePlainText404s)
{
    auto res = client.Get("/v2/nothing", http::bearer(session.accessToken));
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 404);
    EXPECT_EQ(res->body, "Not Found\n");
}

TEST(DevServerProcessTest, StopsCleanlyOnTerminate)
{
    DevServerProcess server({ "--quiet" });
    EXPECT_TRUE(server.isRunning());
    EXPECT_NE(server.port(), 0);
    EXPECT_EQ(server.baseURL().toString().toStdString(), "http://127.0.0.1:" + std::to_string(server.port()));
    // Exit code 0 also means the sanitizers found nothing at exit.
    EXPECT_EQ(server.stop(), 0);
    EXPECT_FALSE(server.isRunning());
}

TEST(DevServerProcessTest, ABadCommandLineIsRefused)
{
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
    EXPECT_EQ(file.permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther | QFileDevice::WriteGroup
                  | QFileDevice::WriteOther),
        QFileDevice::Permissions {});
    const Json tokens = Json::parse(text.toStdString());
    EXPECT_EQ(tokens["clientId"], "velmo-cli");
    EXPECT_TRUE(tokens["expiresAt"].is_number());
    auto client = http::client(server);
    auto res = client.Get("/v1/credits/balance", http::bearer(tokens["accessToken"].get<std::string>()));
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
}
