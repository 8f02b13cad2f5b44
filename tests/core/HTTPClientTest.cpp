#include "AsyncWait.h"
#include "Cancellation.h"
#include "FakeHTTPTransport.h"
#include "HTTPClient.h"
#include "NetworkError.h"
#include "Thrown.h"

#include <QTimer>
#include <gtest/gtest.h>

#include <limits>
#include <set>

using namespace std::chrono_literals;
using velmo::test::FakeHTTPTransport;
using velmo::test::RecordedWaits;
using velmo::test::waitForTask;
using Code = NetworkError::Code;

namespace {

constexpr std::uint64_t lowestBits = 0;
constexpr std::uint64_t highestBits = std::numeric_limits<std::uint64_t>::max();

struct Harness {
    std::shared_ptr<FakeHTTPTransport> transport = std::make_shared<FakeHTTPTransport>();
    RecordedWaits recorded;
    std::uint64_t randomBits = lowestBits; // jitter 0.7

    HTTPClient client(int maxAttempts = 3, double timeout = 30)
    {
        HTTPClient client(transport, maxAttempts, 0.3, timeout);
        client.setSleeper(recorded.sleeper());
        client.setRandomSource([this] { return randomBits; });
        return client;
    }

    velmo::test::TaskOutcome<HTTPResponse> send(bool idempotent = true, std::stop_token stop = {}, int maxAttempts = 3)
    {
        return waitForTask(client(maxAttempts).send(HTTPRequest {}, idempotent, stop));
    }
};

Code thrownCode(const velmo::test::TaskOutcome<HTTPResponse>& o) { return thrown<NetworkError>(o.error).code(); }

TEST(HTTPClient, RetryTable)
{
    struct Case {
        const char* name;
        std::vector<int> statuses;
        bool idempotent;
        int maxAttempts;
        int answered; // which response (1-based) comes back
    };
    const Case cases[] = {
        { "retried until success", { 503, 503, 200 }, true, 3, 3 },
        { "attempts run out: last retryable answer", { 503, 503, 503, 200 }, true, 3, 3 },
        { "not idempotent: first answer", { 503, 200 }, false, 3, 1 },
        { "one attempt", { 503, 200 }, true, 1, 1 },
        { "zero attempts still try once", { 503, 200 }, true, 0, 1 },
        { "negative attempts still try once", { 503, 200 }, true, -4, 1 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Harness h;
        for (std::size_t i = 0; i < c.statuses.size(); ++i)
            h.transport->respond(c.statuses[i], QByteArray::number(int(i) + 1));
        auto outcome = h.send(c.idempotent, {}, c.maxAttempts);
        ASSERT_TRUE(outcome.ok()) << outcome.errorText();
        EXPECT_EQ(outcome.value->data, QByteArray::number(c.answered));
        EXPECT_EQ(h.transport->requests.size(), std::size_t(c.answered));
    }
    // 0.3 s then 0.9 s, times the jitter: 0.7 to 1.3, both ends reachable.
    EXPECT_EQ(HTTPClient::jitter(0x7ff), 0.7); // only the top 53 bits count
    for (const auto& [bits, waits] : { std::pair { lowestBits, std::vector { 210ms, 630ms } },
             { highestBits, std::vector { 390ms, 1170ms } } }) {
        Harness h;
        h.randomBits = bits;
        h.transport->respond(503);
        h.transport->respond(500);
        h.send();
        EXPECT_EQ(h.recorded.waits, waits);
    }
}

TEST(HTTPClient, HonoursRetryAfterWithinBounds)
{
    const std::vector<std::pair<QByteArray, std::chrono::milliseconds>> cases {
        { "2", 2000ms },
        { "120", 30000ms }, // capped
        { "-5", 0ms },
        { " \t1.5\t ", 1500ms },
        { "1e1", 10000ms },
        { "1e400", 30000ms },
        // Unreadable: the exponential delay (0.3 s × 0.7) instead.
        { "Wed, 21 Oct 2015 07:28:00 GMT", 210ms },
        { "nan", 210ms },
        { "0x10", 210ms },
        { "", 210ms },
    };
    for (const auto& [value, expected] : cases) {
        Harness h;
        h.transport->respond(429, {}, { { "retry-after", value } }); // looked up ignoring case
        h.transport->respond(200);
        ASSERT_TRUE(h.send().ok());
        EXPECT_EQ(h.recorded.waits, std::vector { expected }) << value.toStdString();
    }
}

TEST(HTTPClient, RetriesExactlyTheRetryableStatusesAndTransientNetworkFailures)
{
    for (int status : { 408, 429, 500, 502, 503, 504, 200, 302, 400, 401, 404, 501, 505 }) {
        Harness h;
        h.transport->respond(status);
        h.transport->respond(204);
        auto outcome = h.send();
        ASSERT_TRUE(outcome.ok());
        const bool retryable = std::set { 408, 429, 500, 502, 503, 504 }.contains(status);
        EXPECT_EQ(outcome.value->status, retryable ? 204 : status);
    }
    for (const auto& [code, transient] : { std::pair { Code::timedOut, true }, { Code::connectionLost, true },
             { Code::cannotConnect, true }, { Code::cannotFindHost, true }, { Code::notConnected, true },
             { Code::resourceUnavailable, true }, { Code::badServerResponse, false }, { Code::tlsFailure, false },
             { Code::other, false } }) {
        Harness h;
        h.transport->failWith(code, "final");
        h.transport->respond(200);
        auto outcome = h.send();
        EXPECT_EQ(outcome.ok(), transient) << int(code);
        if (!transient) {
            EXPECT_EQ(thrownCode(outcome), code);
            EXPECT_EQ(outcome.errorText(), "final");
            EXPECT_EQ(h.transport->requests.size(), 1u);
        }
    }
    // Retries run out: the last failure, unchanged; one attempt when not idempotent.
    Harness h;
    h.transport->failWith(Code::timedOut, "first");
    h.transport->failWith(Code::timedOut, "second");
    h.transport->failWith(Code::timedOut, "The request timed out");
    auto outcome = h.send();
    EXPECT_EQ(thrownCode(outcome), Code::timedOut);
    EXPECT_EQ(outcome.errorText(), "The request timed out");
    Harness once;
    once.transport->failWith(Code::timedOut, "only");
    EXPECT_EQ(once.send(false).errorText(), "only");
    // Anything that is no NetworkError passes through untried too.
    Harness odd;
    odd.transport->fail(std::runtime_error("odd"));
    EXPECT_EQ(odd.send().errorText(), "odd");
    EXPECT_EQ(odd.transport->requests.size(), 1u);
}

TEST(HTTPClient, CancellationEndsABackoffAndIsNotRetried)
{
    // The real sleep: the server asks for 30 s, the stop comes after a moment.
    auto transport = std::make_shared<FakeHTTPTransport>();
    transport->respond(503, {}, { { "Retry-After", "30" } });
    transport->respond(200);
    HTTPClient client(transport, 3, 0.3, 30);
    std::stop_source source;
    QTimer::singleShot(20ms, [&] { source.request_stop(); });
    auto outcome = waitForTask(client.send(HTTPRequest {}, true, source.get_token()), 10s);
    ASSERT_FALSE(outcome.timedOut);
    EXPECT_THROW(outcome.rethrow(), CancellationError);
    EXPECT_EQ(transport->requests.size(), 1u);

    // Stopped before it began: nothing is sent.
    Harness stopped;
    std::stop_source already;
    already.request_stop();
    EXPECT_THROW(stopped.send(true, already.get_token()).rethrow(), CancellationError);
    EXPECT_TRUE(stopped.transport->requests.empty());
}

TEST(HTTPClient, CopiesShareTheTransportAndOutliveTheOriginal)
{
    Harness h;
    h.transport->respond(500);
    h.transport->respond(200);
    // The client is gone before the task first runs; the retry still carries its timeout.
    auto outcome = waitForTask([&] { return h.client(3, 2.5).send(HTTPRequest {}, true); }());
    ASSERT_TRUE(outcome.ok()) << outcome.errorText();
    ASSERT_EQ(h.transport->requests.size(), 2u);
    EXPECT_EQ(h.transport->requests[1].timeout, 2500ms);
}

} // namespace
