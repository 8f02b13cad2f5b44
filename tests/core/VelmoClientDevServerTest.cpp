// The production transport and VelmoClient against the real velmo-devserver
// process on an ephemeral loopback port.
#include "AsyncWait.h"
#include "DemoAccount.h"
#include "DevServerProcess.h"
#include "VelmoClient.h"
#include "VelmoError.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace std::chrono_literals;
using velmo::test::DevServerProcess;
using velmo::test::waitForTask;
using Json = nlohmann::json;

namespace {

constexpr std::int64_t day = 86'400;

template <typename T> VelmoError velmoError(const velmo::test::TaskOutcome<T>& outcome)
{
    try {
        outcome.rethrow();
    } catch (const VelmoError& error) {
        return error;
    }
    throw std::logic_error("expected a VelmoError, got: " + outcome.errorText());
}

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

TEST_F(VelmoClientDevServerTest, FetchesTheDemoAccountsBalance)
{
    const auto session = server.issueSession();
    const Timestamp before = std::chrono::system_clock::now();
    auto outcome = waitForTask(client().balance(QString::fromStdString(session.accessToken)));
    const Timestamp after = std::chrono::system_clock::now();
    ASSERT_TRUE(outcome.ok()) << outcome.errorText();
    const Balance& balance = *outcome.value;

    // The demo account: $42.75 in all, $30 spendable through the capped key,
    // $20 of builder-plan credit; the trial ends at a UTC midnight six days on.
    EXPECT_EQ(balance.accountBalance, MicrosUSD { 42'750'000 });
    EXPECT_EQ(balance.availableBalance, MicrosUSD { 30'000'000 });
    EXPECT_EQ(balance.apiKey.limit(), MicrosUSD { 50'000'000 });
    ASSERT_TRUE(balance.gtm && balance.gtm->trialExpiresAt);
    EXPECT_EQ(balance.gtm->planName(), "Builder Plan");
    EXPECT_EQ(balance.gtm->subscriptionBalance, MicrosUSD { 15'000'000 });
    const std::int64_t trialEnd = epochSeconds(*balance.gtm->trialExpiresAt);
    EXPECT_EQ(trialEnd % day, 0);
    EXPECT_GT(trialEnd, epochSeconds(before) + 5 * day - 1);
    EXPECT_LE(trialEnd, epochSeconds(after) + 6 * day);
    // as_of is the server's clock with milliseconds.
    EXPECT_GE(balance.asOf, std::chrono::floor<std::chrono::milliseconds>(before));
    EXPECT_LE(balance.asOf, after);

    // What arrived: one request, the bearer token and the app's source header.
    const Json counters = server.counters();
    EXPECT_EQ(counters.at("requests").at("balance"), 1);
    const Json& last = counters.at("last_request").at("balance");
    EXPECT_EQ(last.at("path"), "/v1/credits/balance");
    EXPECT_EQ(last.at("authorization_scheme"), "Bearer");
    EXPECT_EQ(last.at("x-velmo-source"), "menubar");
    EXPECT_EQ(last.at("accept"), "application/json");
}

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

TEST_F(VelmoClientDevServerTest, RejectedTokensCarryTheServersMessageAndAreNotRetried)
{
    const auto revoked = server.issueSession();
    EXPECT_EQ(server.revokeAccessTokens(), 1);
    const auto expired = server.issueSession(0);
    struct Case {
        std::string token;
        std::string text;
    };
    const std::vector<Case> cases {
        { "vat_never-issued", "Credential rejected: invalid access token" },
        { expired.accessToken, "Credential rejected: access token expired" },
        { revoked.accessToken, "Credential rejected: access token revoked" },
    };
    for (const Case& c : cases) {
        const VelmoError error = velmoError(waitForTask(client().balance(QString::fromStdString(c.token))));
        EXPECT_TRUE(error.isCredentialProblem());
        EXPECT_EQ(error.what(), c.text);
    }
    // A missing token is the same 401 for the usage endpoint.
    const Timestamp now = std::chrono::system_clock::now();
    auto usage = waitForTask(client().usage(QString(), now - std::chrono::days(30), now, UsageScope::key));
    EXPECT_STREQ(velmoError(usage).what(), "Credential rejected: missing bearer token");

    const Json counters = server.counters();
    EXPECT_EQ(counters.at("requests").at("balance"), 3);
    EXPECT_EQ(counters.at("requests").at("usage"), 1);
}

TEST_F(VelmoClientDevServerTest, RetriesServiceUnavailableUntilTheServerAnswers)
{
    const auto session = server.issueSession();
    server.injectStatus("balance", 503);
    auto outcome = waitForTask(client().balance(QString::fromStdString(session.accessToken)));
    ASSERT_TRUE(outcome.ok()) << outcome.errorText();
    Json counters = server.counters();
    EXPECT_EQ(counters.at("requests").at("balance"), 2);
    EXPECT_EQ(counters.at("faults_served").at("balance"), 1);

    // Unavailable for every attempt: the last answer's status and message.
    server.injectStatus("balance", 503, 3, 0);
    auto failed = waitForTask(client().balance(QString::fromStdString(session.accessToken)));
    EXPECT_STREQ(velmoError(failed).what(), "503: Service Unavailable");
    counters = server.counters();
    EXPECT_EQ(counters.at("requests").at("balance"), 5);
    EXPECT_EQ(counters.at("faults_served").at("balance"), 4);
}

TEST_F(VelmoClientDevServerTest, SlowServerTimesOut)
{
    const auto session = server.issueSession();
    // Far beyond the client's half second; the server is killed at the end
    // of the test, so nothing waits for it.
    server.setLatency(20'000, "balance");
    const VelmoClient impatient(server.baseURL(), HTTPClient::platform(1, 0.3, 0.5, true), "menubar");
    auto outcome = waitForTask(impatient.balance(QString::fromStdString(session.accessToken)), 15s);
    ASSERT_FALSE(outcome.timedOut);
    EXPECT_STREQ(velmoError(outcome).what(), "Network error: The request timed out");
    EXPECT_EQ(server.counters().at("requests").at("balance"), 1);
}

} // namespace
