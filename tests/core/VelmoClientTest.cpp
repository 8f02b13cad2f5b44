#include "AsyncWait.h"
#include "Cancellation.h"
#include "FakeHTTPTransport.h"
#include "VelmoClient.h"
#include "VelmoError.h"

#include <QTimer>
#include <gtest/gtest.h>

#include <cstdlib>

using namespace std::chrono_literals;
using velmo::test::FakeHTTPTransport;
using velmo::test::RecordedWaits;
using velmo::test::waitForTask;

namespace {

const QByteArray balanceBody = R"({"currency":"USD","account_balance_micros_usd":12500000,
    "available_balance_micros_usd":"12000000","as_of":"2025-03-04T05:06:07Z"})";
const QByteArray usageBody = R"({"scope":"account","start_time":1700000000,"end_time":1700604800,
    "bucket_width":"1d","buckets":[]})";

Timestamp at(double seconds)
{
    return Timestamp(std::chrono::duration_cast<Timestamp::duration>(std::chrono::duration<double>(seconds)));
}

struct Harness {
    std::shared_ptr<FakeHTTPTransport> transport = std::make_shared<FakeHTTPTransport>();
    RecordedWaits recorded;

    VelmoClient client(const QString& base = "https://api.example.test")
    {
        HTTPClient http(transport, 3, 0.3, 30);
        http.setSleeper(recorded.sleeper());
        http.setRandomSource([] { return std::uint64_t(0); });
        return VelmoClient(QUrl(base), http);
    }
    velmo::test::TaskOutcome<Balance> balance(std::stop_token stop = {})
    {
        return waitForTask(client().balance("tok-123", stop));
    }
};

VelmoError velmoError(const std::exception_ptr& error)
{
    try {
        std::rethrow_exception(error);
    } catch (const VelmoError& velmo) {
        return velmo;
    } catch (const std::exception& other) {
        throw std::logic_error(std::string("not a VelmoError: ") + other.what());
    }
}

TEST(VelmoClient, NormalizesBaseURLs)
{
    for (const char* given : { "https://api.example.test", "https://api.example.test/", "https://api.example.test/v1",
             "https://api.example.test/v1/", "https://api.example.test/apis/v1//", "https://api.example.test/apis/v1",
             "https://api.example.test///" })
        EXPECT_EQ(VelmoClient::normalizedBaseURL(QUrl(given)), QUrl("https://api.example.test")) << given;
    EXPECT_EQ(VelmoClient::normalizedBaseURL(QUrl("https://h.test/api")), QUrl("https://h.test/api"));
    EXPECT_EQ(VelmoClient::normalizedBaseURL(QUrl("http://127.0.0.1:8080/v1")), QUrl("http://127.0.0.1:8080"));
    EXPECT_EQ(VelmoClient::normalizedBaseURL(QUrl("https://h.test/proxy/v1/")), QUrl("https://h.test/proxy"));
    // Nothing left to parse: the URL stays as given.
    EXPECT_EQ(VelmoClient::normalizedBaseURL(QUrl("/")), QUrl("/"));

    Harness h;
    EXPECT_EQ(h.client("https://h.test/api").balanceRequest("t").url, QUrl("https://h.test/api/v1/credits/balance"));
    EXPECT_EQ(h.client("https://h.test/v1/").balanceRequest("t").url, QUrl("https://h.test/v1/credits/balance"));
}

TEST(VelmoClient, BuildsBothRequestsWithTheirHeadersAndQuery)
{
    Harness h;
    const VelmoClient client = h.client("https://api.example.test/v1/");
    const HTTPRequest balance = client.balanceRequest("tok-123");
    EXPECT_EQ(balance.method, "GET");
    EXPECT_EQ(balance.url.toString(QUrl::FullyEncoded), "https://api.example.test/v1/credits/balance");
    EXPECT_FALSE(balance.url.hasQuery());
    const QList<QPair<QByteArray, QByteArray>> headers {
        { "Authorization", "Bearer tok-123" },
        { "Content-Type", "application/json" },
        { "Accept", "application/json" },
        { "x-velmo-source", "menubar" },
    };
    EXPECT_EQ(balance.headers, headers);
    EXPECT_TRUE(balance.body.isEmpty());

    const HTTPRequest usage = client.usageRequest("tok-123", at(1'700'000'000.9), at(1'700'604'800), UsageScope::key);
    EXPECT_EQ(usage.url.path(), "/v1/usage");
    EXPECT_EQ(usage.url.query(QUrl::FullyEncoded), "start_time=1700000000&end_time=1700604800&bucket_width=1d&scope=key");
    EXPECT_EQ(usage.headers, headers);
    const HTTPRequest before1970 = client.usageRequest("t", at(-1.5), at(0), UsageScope::account);
    EXPECT_EQ(before1970.url.query(QUrl::FullyEncoded), "start_time=-1&end_time=0&bucket_width=1d&scope=account");
}

TEST(VelmoClient, DecodesSuccessfulAnswersAfterRetries)
{
    Harness h;
    h.transport->respond(503);
    h.transport->respond(200, balanceBody);
    auto balance = h.balance();
    ASSERT_TRUE(balance.ok()) << balance.errorText();
    EXPECT_EQ(balance.value->accountBalance, MicrosUSD { 12'500'000 });
    EXPECT_EQ(balance.value->availableBalance, MicrosUSD { 12'000'000 });
    ASSERT_EQ(h.transport->requests.size(), 2u);
    EXPECT_EQ(h.transport->requests[1].timeout, 30s);

    h.transport->respond(200, usageBody);
    auto usage = waitForTask(h.client().usage("tok", at(1'700'000'000), at(1'700'604'800), UsageScope::account));
    ASSERT_TRUE(usage.ok()) << usage.errorText();
    EXPECT_EQ(usage.value->scope, "account");
    EXPECT_TRUE(h.transport->requests.back().url.query().endsWith("scope=account"));
}

TEST(VelmoClient, MapsStatusesToErrors)
{
    struct Case {
        int status;
        QByteArray body;
        VelmoError expected;
        std::string text;
    };
    const std::vector<Case> cases {
        { 401, R"({"error":{"message":"token expired"}})", VelmoError::unauthorized("token expired"), "Credential rejected: token expired" },
        { 403, "", VelmoError::unauthorized("forbidden"), "Credential rejected: forbidden" },
        { 500, R"({"error":"boom"})", VelmoError::http(500, "boom"), "500: boom" },
        { 404, R"({"detail":"x"})", VelmoError::http(404, R"({"detail":"x"})"), R"(404: {"detail":"x"})" },
        { 502, "\n <html><body>Bad gateway</body></html>\r\n", VelmoError::http(502, "<html><body>Bad gateway</body></html>"), "502: <html><body>Bad gateway</body></html>" },
        { 302, "", VelmoError::http(302, "found"), "302: found" },
        { 418, " ", VelmoError::http(418, "i'm a teapot"), "418: i'm a teapot" },
        { 299 + 700, "", VelmoError::http(999, "unknown status"), "999: unknown status" },
    };
    for (const auto& c : cases) {
        Harness h;
        for (int i = 0; i < 3; ++i) // retryable ones get all their attempts
            h.transport->respond(c.status, c.body);
        auto outcome = h.balance();
        ASSERT_FALSE(outcome.ok()) << c.status;
        const VelmoError error = velmoError(outcome.error);
        EXPECT_EQ(error, c.expected) << c.status;
        EXPECT_EQ(error.what(), c.text);
        EXPECT_EQ(error.isCredentialProblem(), c.status == 401 || c.status == 403);
    }
}

TEST(VelmoClient, RetryableStatusesGetThreeAttemptsBeforeJudgement)
{
    Harness h;
    h.transport->respond(429, R"({"message":"slow down"})", { { "Retry-After", "1" } });
    h.transport->respond(503, "busy");
    h.transport->respond(503, R"({"message":"still busy"})");
    h.transport->respond(200, balanceBody);
    auto outcome = h.balance();
    EXPECT_EQ(velmoError(outcome.error), VelmoError::http(503, "still busy"));
    EXPECT_EQ(h.transport->requests.size(), 3u);
    EXPECT_EQ(h.recorded.waits, (std::vector { 1000ms, 630ms }));
}

TEST(VelmoClient, UnreadableSuccessesAreDecodingErrors)
{
    for (const QByteArray& body : { QByteArray(), QByteArray("<html>ok</html>"), QByteArray(R"({"account_balance_micros_usd":"lots"})"),
             QByteArray("[1,2]"), QByteArray("\xff\xfe{}") }) {
        Harness h;
        h.transport->respond(200, body);
        auto outcome = h.balance();
        ASSERT_FALSE(outcome.ok()) << body.toStdString();
        const VelmoError error = velmoError(outcome.error);
        EXPECT_EQ(error.kind(), VelmoError::Kind::decoding);
        EXPECT_TRUE(std::string(error.what()).starts_with("Unexpected response: ")) << error.what();
        EXPECT_GT(error.message().size(), 0u);
    }
    Harness h;
    h.transport->respond(200, R"({"account_balance_micros_usd":"lots"})");
    EXPECT_NE(velmoError(h.balance().error).message().find("micros"), std::string::npos);
}

TEST(VelmoClient, NetworkFailuresAreNetworkErrors)
{
    Harness h;
    for (int i = 0; i < 3; ++i)
        h.transport->failWith(NetworkError::Code::timedOut, "The request timed out");
    EXPECT_EQ(velmoError(h.balance().error), VelmoError::network("The request timed out"));
    EXPECT_EQ(h.transport->requests.size(), 3u);

    Harness final;
    final.transport->failWith(NetworkError::Code::tlsFailure, "TLS handshake failed");
    EXPECT_STREQ(velmoError(final.balance().error).what(), "Network error: TLS handshake failed");

    Harness odd;
    odd.transport->fail(std::runtime_error("something else"));
    EXPECT_EQ(velmoError(odd.balance().error), VelmoError::network("something else"));
}

TEST(VelmoClient, CancellationPassesThrough)
{
    Harness h;
    h.transport->hang();
    std::stop_source source;
    QTimer::singleShot(5ms, [&] { source.request_stop(); });
    auto outcome = h.balance(source.get_token());
    ASSERT_FALSE(outcome.timedOut);
    EXPECT_THROW(outcome.rethrow(), CancellationError);
}

TEST(VelmoClient, RefusesTokensThatWouldBreakTheHeader)
{
    Harness h;
    auto outcome = waitForTask(h.client().balance("tok\r\nX-Evil: 1"));
    const VelmoError error = velmoError(outcome.error);
    EXPECT_TRUE(error.isCredentialProblem());
    EXPECT_TRUE(h.transport->requests.empty());
}

TEST(VelmoClient, ErrorMessageRules)
{
    // The three JSON members, in order of preference, used unchanged.
    EXPECT_EQ(VelmoClient::errorMessage(R"({"error":{"message":" spaced "},"message":"no"})", 400), " spaced ");
    EXPECT_EQ(VelmoClient::errorMessage(R"({"error":"plain","message":"no"})", 400), "plain");
    EXPECT_EQ(VelmoClient::errorMessage(R"({"error":{"code":7},"message":"top"})", 400), "top");
    EXPECT_EQ(VelmoClient::errorMessage(R"({"error":{"message":5}})", 400), R"({"error":{"message":5}})");
    // Not an object, or no usable member: the trimmed body.
    EXPECT_EQ(VelmoClient::errorMessage("  [\"a\"]\n", 400), "[\"a\"]");
    EXPECT_EQ(VelmoClient::errorMessage("\t Service down \r\n", 503), "Service down");
    // Invalid UTF-8 is replaced, not dropped.
    EXPECT_EQ(VelmoClient::errorMessage("bad \xff byte", 500), "bad \xEF\xBF\xBD byte");
    // Nothing in the body: the reason phrase.
    EXPECT_EQ(VelmoClient::errorMessage("", 404), "not found");
    EXPECT_EQ(VelmoClient::errorMessage(" \n", 403), "forbidden");
    EXPECT_EQ(VelmoClient::errorMessage("", 500), "internal server error");
    EXPECT_EQ(VelmoClient::errorMessage("", 503), "service unavailable");
    EXPECT_EQ(VelmoClient::errorMessage("", 401), "unauthorized");
    EXPECT_EQ(VelmoClient::errorMessage("", 460), "client error");
    EXPECT_EQ(VelmoClient::errorMessage("", 0), "unknown status");
    EXPECT_EQ(VelmoClient::errorMessage("", -3), "unknown status");
    // A huge page is cut to a readable length.
    const std::string huge = VelmoClient::errorMessage(QByteArray(1 << 20, 'x'), 502);
    EXPECT_LT(huge.size(), 2100u);
    EXPECT_TRUE(huge.ends_with("\xE2\x80\xA6"));
}

TEST(VelmoClient, BuiltInURLsYieldToTheEnvironment)
{
    qunsetenv("VELMO_API_URL");
    qunsetenv("VELMO_CONSOLE_URL");
    const QUrl production = VelmoClient::productionBaseURL();
    EXPECT_EQ(production.scheme(), "https");
    EXPECT_TRUE(production.path().isEmpty());
    EXPECT_EQ(VelmoClient::consoleURL().scheme(), "https");

    qputenv("VELMO_API_URL", "http://127.0.0.1:8123");
    qputenv("VELMO_CONSOLE_URL", "http://127.0.0.1:8124/console");
    EXPECT_EQ(VelmoClient::productionBaseURL(), QUrl("http://127.0.0.1:8123"));
    EXPECT_EQ(VelmoClient::consoleURL(), QUrl("http://127.0.0.1:8124/console"));
    qputenv("VELMO_API_URL", "not a url");
    EXPECT_EQ(VelmoClient::productionBaseURL(), production);
    qunsetenv("VELMO_API_URL");
    qunsetenv("VELMO_CONSOLE_URL");
}

} // namespace
