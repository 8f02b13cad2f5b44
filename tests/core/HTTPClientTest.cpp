#include "AsyncWait.h"
#include "Cancellation.h"
#include "FakeHTTPTransport.h"
#include "HTTPClient.h"
#include "NetworkError.h"

#include <QTimer>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace std::chrono_literals;
using velmo::test::FakeHTTPTransport;
using velmo::test::RecordedWaits;
using velmo::test::waitForTask;

namespace {

constexpr std::uint64_t lowestBits = 0;
constexpr std::uint64_t highestBits = std::numeric_limits<std::uint64_t>::max();

struct Harness {
    std::shared_ptr<FakeHTTPTransport> transport = std::make_shared<FakeHTTPTransport>();
    RecordedWaits recorded;
    std::uint64_t randomBits = lowestBits; // jitter 0.7

    HTTPClient client(int maxAttempts = 3, double baseDelay = 0.3, double timeout = 30)
    {
        HTTPClient client(transport, maxAttempts, baseDelay, timeout);
        client.setSleeper(recorded.sleeper());
        client.setRandomSource([this] { return randomBits; });
        return client;
    }

    velmo::test::TaskOutcome<HTTPResponse> send(const HTTPClient& client, bool idempotent = true, std::stop_token stop = {})
    {
        HTTPRequest request;
        request.url = QUrl("https://api.example.test/v1/usage");
        return waitForTask(client.send(request, idempotent, stop));
    }
};

NetworkError::Code thrownCode(const velmo::test::TaskOutcome<HTTPResponse>& outcome)
{
    try {
        outcome.rethrow();
    } catch (const NetworkError& error) {
        return error.code();
    }
    throw std::logic_error("not a NetworkError: " + outcome.errorText());
}

TEST(HTTPClient, RetriesRetryableStatusesUntilSuccess)
{
    Harness h;
    h.transport->respond(503);
    h.transport->respond(503);
    h.transport->respond(200, "ok");
    auto outcome = h.send(h.client());
    ASSERT_TRUE(outcome.ok()) << outcome.errorText();
    EXPECT_EQ(outcome.value->status, 200);
    EXPECT_EQ(outcome.value->data, "ok");
    EXPECT_EQ(h.transport->requests.size(), 3u);
    // 0.3 s and 0.9 s with the lowest jitter (0.7).
    EXPECT_EQ(h.recorded.waits, (std::vector { 210ms, 630ms }));
    for (const auto& request : h.transport->requests)
        EXPECT_EQ(request.timeout, 30s);
}

TEST(HTTPClient, ReturnsTheLastRetryableResponseWhenAttemptsRunOut)
{
    Harness h;
    h.transport->respond(503, "first");
    h.transport->respond(503, "second");
    h.transport->respond(503, "third");
    h.transport->respond(200);
    auto outcome = h.send(h.client());
    ASSERT_TRUE(outcome.ok()) << outcome.errorText();
    EXPECT_EQ(outcome.value->status, 503);
    EXPECT_EQ(outcome.value->data, "third");
    EXPECT_EQ(h.transport->requests.size(), 3u);
    EXPECT_EQ(h.recorded.waits.size(), 2u);
}

TEST(HTTPClient, NonIdempotentRequestsAndLowAttemptLimitsTryOnce)
{
    {
        Harness h;
        h.transport->respond(503, "first");
        h.transport->respond(200);
        auto outcome = h.send(h.client(), /*idempotent*/ false);
        ASSERT_TRUE(outcome.ok());
        EXPECT_EQ(outcome.value->data, "first");
        EXPECT_TRUE(h.recorded.waits.empty());
    }
    for (int maxAttempts : { 0, -4, 1 }) {
        Harness h;
        h.transport->respond(503, "first");
        h.transport->respond(200);
        auto outcome = h.send(h.client(maxAttempts));
        ASSERT_TRUE(outcome.ok());
        EXPECT_EQ(outcome.value->data, "first") << maxAttempts;
        EXPECT_EQ(h.transport->requests.size(), 1u) << maxAttempts;
    }
}

TEST(HTTPClient, RetriesExactlyTheRetryableStatuses)
{
    for (int status : { 408, 429, 500, 502, 503, 504 }) {
        Harness h;
        h.transport->respond(status);
        h.transport->respond(204);
        auto outcome = h.send(h.client());
        ASSERT_TRUE(outcome.ok());
        EXPECT_EQ(outcome.value->status, 204) << status;
    }
    for (int status : { 200, 302, 400, 401, 403, 404, 501, 505, 599 }) {
        Harness h;
        h.transport->respond(status);
        h.transport->respond(204);
        auto outcome = h.send(h.client());
        ASSERT_TRUE(outcome.ok());
        EXPECT_EQ(outcome.value->status, status);
        EXPECT_EQ(h.transport->requests.size(), 1u) << status;
        EXPECT_TRUE(h.recorded.waits.empty()) << status;
    }
}

TEST(HTTPClient, HonoursRetryAfterWithinBounds)
{
    const std::vector<std::pair<QByteArray, std::chrono::milliseconds>> cases {
        { "2", 2000ms },
        { "120", 30000ms },
        { "-5", 0ms },
        { " \t1.5\t ", 1500ms },
        { "+0.25", 250ms },
        { "1e1", 10000ms },
        { "1e400", 30000ms },
        { "-1e400", 0ms },
        { "1e-400", 0ms },
        // Unreadable: the exponential delay (0.3 s × 0.7) instead.
        { "Wed, 21 Oct 2015 07:28:00 GMT", 210ms },
        { "nan", 210ms },
        { "inf", 210ms },
        { "0x10", 210ms },
        { "3s", 210ms },
        { "", 210ms },
        { "1e", 210ms },
        { ".", 210ms },
        { "2\n", 210ms },
    };
    for (const auto& [value, expected] : cases) {
        Harness h;
        // Looked up ignoring case.
        h.transport->respond(429, {}, { { "retry-after", value } });
        h.transport->respond(200);
        auto outcome = h.send(h.client());
        ASSERT_TRUE(outcome.ok());
        ASSERT_EQ(h.recorded.waits.size(), 1u);
        EXPECT_EQ(h.recorded.waits[0], expected) << value.toStdString();
    }
}

TEST(HTTPClient, BacksOffExponentiallyWithJitterAtBothEnds)
{
    EXPECT_EQ(HTTPClient::jitter(lowestBits), 0.7);
    EXPECT_EQ(HTTPClient::jitter(highestBits), 1.3);
    // Only the top 53 bits count.
    EXPECT_EQ(HTTPClient::jitter(0x7ff), 0.7);
    EXPECT_NEAR(HTTPClient::jitter(std::uint64_t(1) << 63), 1.0, 1e-12);

    auto fixed = [](std::uint64_t bits) { return HTTPClient::RandomSource([bits] { return bits; }); };
    EXPECT_DOUBLE_EQ(HTTPClient::delay(1, 0.3, std::nullopt, fixed(highestBits)), 0.39);
    EXPECT_DOUBLE_EQ(HTTPClient::delay(3, 0.3, std::nullopt, fixed(highestBits)), 3.51);
    EXPECT_DOUBLE_EQ(HTTPClient::delay(2, 1.0, QByteArray("soon"), fixed(lowestBits)), 2.1);
    EXPECT_DOUBLE_EQ(HTTPClient::delay(2, 1.0, QByteArray("7"), fixed(lowestBits)), 7.0);

    // The system source stays inside the band.
    for (int i = 0; i < 200; ++i) {
        const double wait = HTTPClient::delay(2, 0.3, std::nullopt);
        EXPECT_GE(wait, 0.9 * 0.7);
        EXPECT_LE(wait, 0.9 * 1.3);
    }

    Harness h;
    h.randomBits = highestBits;
    h.transport->respond(500);
    h.transport->respond(500);
    h.transport->respond(500);
    h.send(h.client());
    EXPECT_EQ(h.recorded.waits, (std::vector { 390ms, 1170ms }));
}

TEST(HTTPClient, RetriesTransientNetworkFailuresOnly)
{
    {
        Harness h;
        h.transport->failWith(NetworkError::Code::timedOut);
        h.transport->failWith(NetworkError::Code::connectionLost);
        h.transport->respond(200);
        auto outcome = h.send(h.client());
        ASSERT_TRUE(outcome.ok()) << outcome.errorText();
        EXPECT_EQ(h.transport->requests.size(), 3u);
        EXPECT_EQ(h.recorded.waits, (std::vector { 210ms, 630ms }));
    }
    for (auto code : { NetworkError::Code::cannotConnect, NetworkError::Code::cannotFindHost,
             NetworkError::Code::notConnected, NetworkError::Code::resourceUnavailable }) {
        Harness h;
        h.transport->failWith(code);
        h.transport->respond(200);
        EXPECT_TRUE(h.send(h.client()).ok());
    }
    for (auto code : { NetworkError::Code::badServerResponse, NetworkError::Code::tlsFailure, NetworkError::Code::other }) {
        Harness h;
        h.transport->failWith(code, "final");
        h.transport->respond(200);
        auto outcome = h.send(h.client());
        ASSERT_FALSE(outcome.ok());
        EXPECT_EQ(thrownCode(outcome), code);
        EXPECT_EQ(outcome.errorText(), "final");
        EXPECT_EQ(h.transport->requests.size(), 1u);
    }
}

TEST(HTTPClient, ThrowsTheLastTransientFailureUnchanged)
{
    Harness h;
    h.transport->failWith(NetworkError::Code::timedOut, "first");
    h.transport->failWith(NetworkError::Code::timedOut, "second");
    h.transport->failWith(NetworkError::Code::timedOut, "The request timed out");
    auto outcome = h.send(h.client());
    ASSERT_FALSE(outcome.ok());
    EXPECT_EQ(thrownCode(outcome), NetworkError::Code::timedOut);
    EXPECT_EQ(outcome.errorText(), "The request timed out");

    Harness once;
    once.transport->failWith(NetworkError::Code::timedOut, "only");
    auto notIdempotent = once.send(once.client(), false);
    EXPECT_EQ(notIdempotent.errorText(), "only");
    EXPECT_EQ(once.transport->requests.size(), 1u);
}

TEST(HTTPClient, OtherFailuresPassThroughWithoutRetry)
{
    Harness h;
    h.transport->fail(std::runtime_error("odd"));
    h.transport->respond(200);
    auto outcome = h.send(h.client());
    EXPECT_EQ(outcome.errorText(), "odd");
    EXPECT_EQ(h.transport->requests.size(), 1u);
}

TEST(HTTPClient, TimeoutIsPutOnEveryAttempt)
{
    Harness h;
    h.transport->respond(200);
    h.send(h.client(3, 0.3, 2.5));
    ASSERT_EQ(h.transport->requests.size(), 1u);
    EXPECT_EQ(h.transport->requests[0].timeout, 2500ms);

    Harness none;
    none.transport->respond(200);
    none.send(none.client(3, 0.3, 0));
    EXPECT_EQ(none.transport->requests[0].timeout, 0ms);
}

TEST(HTTPClient, CancellationEndsABackoffAtOnce)
{
    // The real sleep: the server asks for 30 s, the stop comes after a moment.
    auto transport = std::make_shared<FakeHTTPTransport>();
    transport->respond(503, {}, { { "Retry-After", "30" } });
    transport->respond(200);
    HTTPClient client(transport, 3, 0.3, 30);
    std::stop_source source;
    QTimer::singleShot(20ms, [&] { source.request_stop(); });
    HTTPRequest request;
    request.url = QUrl("https://api.example.test/");
    auto outcome = waitForTask(client.send(request, true, source.get_token()), 10s);
    ASSERT_FALSE(outcome.timedOut);
    EXPECT_THROW(outcome.rethrow(), CancellationError);
    EXPECT_EQ(transport->requests.size(), 1u);
}

TEST(HTTPClient, CancellationEndsARequestAndIsNotRetried)
{
    Harness h;
    h.transport->hang();
    h.transport->respond(200);
    std::stop_source source;
    QTimer::singleShot(5ms, [&] { source.request_stop(); });
    auto outcome = h.send(h.client(), true, source.get_token());
    ASSERT_FALSE(outcome.timedOut);
    EXPECT_THROW(outcome.rethrow(), CancellationError);
    EXPECT_EQ(h.transport->requests.size(), 1u);

    Harness stopped;
    std::stop_source already;
    already.request_stop();
    EXPECT_THROW(stopped.send(stopped.client(), true, already.get_token()).rethrow(), CancellationError);
    EXPECT_TRUE(stopped.transport->requests.empty());
}

TEST(HTTPClient, CopiesShareTheTransportAndOutliveTheOriginal)
{
    Harness h;
    h.transport->respond(500);
    h.transport->respond(200);
    QCoro::Task<HTTPResponse> task = [&] {
        HTTPClient shortLived = h.client();
        HTTPRequest request;
        request.url = QUrl("https://api.example.test/");
        return shortLived.send(request, true);
    }();
    auto outcome = waitForTask(std::move(task));
    ASSERT_TRUE(outcome.ok());
    EXPECT_EQ(outcome.value->status, 200);
    EXPECT_EQ(h.transport->requests.size(), 2u);
}

} // namespace
