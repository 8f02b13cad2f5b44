#include "AsyncWait.h"
#include "Cancellation.h"
#include "FakeHTTPTransport.h"
#include "VelmoClient.h"
#include "Thrown.h"
#include "VelmoError.h"

#include <QTimer>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using velmo::test::FakeHTTPTransport;
using velmo::test::RecordedWaits;
using velmo::test::waitForTask;

namespace {

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
        return VelmoClient(QUrl(base), http);
    }
    velmo::test::TaskOutcome<Balance> balance(std::stop_token stop = {})
    {
        return waitForTask(client().balance("tok-123", stop));
    }
};

TEST(VelmoClient, NormalizesBaseURLs)
{
    const std::pair<const char*, const char*> cases[] = {
        { "https://api.example.test", "https://api.example.test" },
        { "https://api.example.test/v1/", "https://api.example.test" },
        { "https://api.example.test/apis/v1//", "https://api.example.test" },
        { "https://api.example.test///", "https://api.example.test" },
        { "https://h.test/api", "https://h.test/api" },
        { "http://127.0.0.1:8080/v1", "http://127.0.0.1:8080" },
        { "https://h.test/proxy/v1/", "https://h.test/proxy" },
        { "/", "/" }, // nothing left to parse: the URL stays as given
    };
    for (const auto& [given, expected] : cases)
        EXPECT_EQ(VelmoClient::normalizedBaseURL(QUrl(given)), QUrl(expected)) << given;
}

TEST(VelmoClient, BuildsBothRequestsWithTheirHeadersAndQuery)
{
    Harness h;
    const VelmoClient client = h.client("https://h.test/api/v1/"); // the base's own path stays
    const HTTPRequest balance = client.balanceRequest("tok-123");
    EXPECT_EQ(balance.method, "GET");
    EXPECT_EQ(balance.url.toString(QUrl::FullyEncoded), "https://h.test/api/v1/credits/balance");
    const QList<QPair<QByteArray, QByteArray>> headers {
        { "Authorization", "Bearer tok-123" },
        { "Content-Type", "application/json" },
        { "Accept", "application/json" },
        { "x-velmo-source", "menubar" },
    };
    EXPECT_EQ(balance.headers, headers);

    const HTTPRequest usage = client.usageRequest("tok-123", at(1'700'000'000.9), at(1'700'604'800), UsageScope::key);
    EXPECT_EQ(usage.url.path(), "/api/v1/usage");
    EXPECT_EQ(usage.url.query(QUrl::FullyEncoded), "start_time=1700000000&end_time=1700604800&bucket_width=1d&scope=key");
    EXPECT_EQ(usage.headers, headers);
    const HTTPRequest before1970 = client.usageRequest("t", at(-1.5), at(0), UsageScope::account);
    EXPECT_EQ(before1970.url.query(QUrl::FullyEncoded), "start_time=-1&end_time=0&bucket_width=1d&scope=account");
}

TEST(VelmoClient, MapsStatusesToErrors)
{
    const std::tuple<int, QByteArray, std::string> cases[] = { // status, body, error text
        { 401, R"({"error":{"message":"token expired"}})", "Credential rejected: token expired" },
        { 403, "", "Credential rejected: forbidden" },
        { 500, R"({"error":"boom"})", "500: boom" },
        { 502, "\n <html>Bad gateway</html>\r\n", "502: <html>Bad gateway</html>" },
        { 300, "", "300: multiple choices" },
        // Server text is shown clean: no escape sequence, no invalid UTF-8.
        { 500, "\x1b]0;owned\x07 bad \xff byte", "500: ]0;owned bad \xEF\xBF\xBD byte" },
    };
    for (const auto& [status, body, text] : cases) {
        Harness h;
        for (int i = 0; i < 3; ++i) // retryable ones get all their attempts
            h.transport->respond(status, body);
        const VelmoError error = thrown<VelmoError>(h.balance().error);
        EXPECT_EQ(error.what(), text);
        EXPECT_EQ(error.isCredentialProblem(), status == 401 || status == 403) << status;
        if (!error.isCredentialProblem()) {
            EXPECT_EQ(error.status(), status);
        }
    }
}

TEST(VelmoClient, UnreadableSuccessesAreDecodingErrors)
{
    for (const QByteArray& body : { QByteArray(), QByteArray("<html>ok</html>"), QByteArray("[1,2]"),
             QByteArray(R"({"account_balance_micros_usd":"lots"})") }) {
        Harness h;
        h.transport->respond(200, body);
        const VelmoError error = thrown<VelmoError>(h.balance().error);
        EXPECT_EQ(error.kind(), VelmoError::Kind::decoding) << body.toStdString();
        EXPECT_TRUE(std::string(error.what()).starts_with("Unexpected response: ")) << error.what();
    }
}

TEST(VelmoClient, NetworkFailuresAreNetworkErrors)
{
    Harness h;
    for (int i = 0; i < 3; ++i)
        h.transport->failWith(NetworkError::Code::timedOut, "The request timed out");
    EXPECT_STREQ(thrown<VelmoError>(h.balance().error).what(), "Network error: The request timed out");
    EXPECT_EQ(h.transport->requests.size(), 3u);

    Harness odd;
    odd.transport->fail(std::runtime_error("something else"));
    EXPECT_EQ(thrown<VelmoError>(odd.balance().error), VelmoError::network("something else"));
}

TEST(VelmoClient, CancellationPassesThroughAndBadTokensNeverLeave)
{
    Harness h;
    h.transport->hang();
    std::stop_source source;
    QTimer::singleShot(5ms, [&] { source.request_stop(); });
    auto outcome = h.balance(source.get_token());
    ASSERT_FALSE(outcome.timedOut);
    EXPECT_THROW(outcome.rethrow(), CancellationError);

    // A token that would break the header is refused before sending.
    Harness bad;
    EXPECT_TRUE(thrown<VelmoError>(waitForTask(bad.client().balance("tok\r\nX-Evil: 1")).error).isCredentialProblem());
    EXPECT_TRUE(bad.transport->requests.empty());
}

TEST(VelmoClient, ErrorMessageRules)
{
    const std::pair<QByteArray, std::string> fromBody[] = {
        // The three JSON members, in order of preference, used unchanged.
        { R"({"error":{"message":" spaced "},"message":"no"})", " spaced " },
        { R"({"error":"plain","message":"no"})", "plain" },
        { R"({"error":{"code":7},"message":"top"})", "top" },
        // Not an object, or no usable member: the trimmed body.
        { R"({"error":{"message":5}})", R"({"error":{"message":5}})" },
        { "  [\"a\"]\n", "[\"a\"]" },
        { "\t Service down \r\n", "Service down" },
    };
    for (const auto& [body, message] : fromBody)
        EXPECT_EQ(VelmoClient::errorMessage(body, 500), message) << body.toStdString();
    // Nothing in the body: the reason phrase.
    const std::pair<int, std::string> fromStatus[] = {
        { 404, "not found" }, { 401, "unauthorized" }, { 503, "service unavailable" }, { 460, "client error" },
        { 0, "unknown status" }, { -3, "unknown status" },
    };
    for (const auto& [status, message] : fromStatus)
        EXPECT_EQ(VelmoClient::errorMessage(" \n", status), message) << status;
    // A huge page is cut to a readable length.
    const std::string huge = VelmoClient::errorMessage(QByteArray(1 << 20, 'x'), 502);
    EXPECT_LT(huge.size(), 2100u);
    EXPECT_TRUE(huge.ends_with("\xE2\x80\xA6"));
}

// The API override itself is what every process test runs on.
TEST(VelmoClient, BuiltInURLsYieldToTheEnvironment)
{
    qputenv("VELMO_API_URL", "not a url");
    EXPECT_EQ(VelmoClient::productionBaseURL().scheme(), "https");
    qputenv("VELMO_CONSOLE_URL", "http://127.0.0.1:8124/console");
    EXPECT_EQ(VelmoClient::consoleURL(), QUrl("http://127.0.0.1:8124/console"));
    qunsetenv("VELMO_API_URL");
    qunsetenv("VELMO_CONSOLE_URL");
    EXPECT_EQ(VelmoClient::consoleURL().scheme(), "https");
}

} // namespace
