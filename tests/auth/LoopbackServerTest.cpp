#include "LoopbackServer.h"

#include "AsyncWait.h"
#include "Cancellation.h"
#include "LoopbackTestClient.h"
#include "QtPrinters.h"

#include <QTcpServer>

#include <gtest/gtest.h>

#include <memory>
#include <stop_token>
#include <vector>

using namespace std::chrono_literals;
using velmo::test::exchange;
using velmo::test::LoopbackTestClient;
using velmo::test::parseResponse;
using velmo::test::waitForTask;

namespace {

const QString state = QStringLiteral("s7a_Te-x");

QByteArray get(const QByteArray& target)
{
    return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
}

QByteArray callback(const QByteArray& code)
{
    return get("/callback?state=" + state.toUtf8() + "&code=" + code);
}

QString between(const QByteArray& body, const char* open, const char* close)
{
    const qsizetype start = body.indexOf(open) + qstrlen(open);
    return QString::fromUtf8(body.mid(start, body.indexOf(close) - start));
}

QString paragraphOf(const QByteArray& body) { return between(body, "<p>", "</p>"); }

std::string resultText(const LoopbackServer::Answer& answer)
{
    if (!answer.result)
        return "none";
    return std::visit(
        [](const auto& value) -> std::string {
            if constexpr (std::is_same_v<std::decay_t<decltype(value)>, QString>)
                return "code " + value.toStdString();
            else
                return value.what();
        },
        *answer.result);
}

std::unique_ptr<LoopbackServer> startServer()
{
    return LoopbackServer::start(0, state);
}

} // namespace

TEST(LoopbackServerHandle, EachRequestGetsItsPageAndResult)
{
    const QByteArray garbage("\x00\xff\xfe\x80 \x01\x02\r\n", 10);
    const char* const malformed = "Malformed request.";
    const char* const mismatch = "State mismatch. Start sign-in again from Velmo Usage.";
    const char* const noCode = "Missing authorization code.";
    const struct {
        QString request;
        const char* status;
        QString paragraph;
        std::string result;
    } cases[] = {
        { "GET /callback?state=s7a_Te-x&code=C0de HTTP/1.1\r\nHost: x\r\n\r\n", "200 OK",
          "You can close this window and return to Velmo Usage.", "code C0de" },
        // "+" stays "+", %2B is "+", the first "code" counts, an "error"
        // without a value is no provider error.
        { "GET /callback?error&state=s7a%5FTe-x&code=a+b%2Bc%C3%A9&code=second HTTP/1.1\r\n\r\n", "200 OK",
          "You can close this window and return to Velmo Usage.", "code a+b+c\u00e9" },
        // The method is not looked at; leading empty lines are dropped.
        { "\r\n\r\nPOST /callback?state=s7a_Te-x&code=C", "200 OK", "You can close this window and return to Velmo Usage.", "code C" },
        // The provider's error comes before the state check.
        { "GET /callback?error=access_denied&error_description=User%20cancelled&state=s7a_Te-x HTTP/1.1\r\n\r\n",
          "400 Bad Request", "User cancelled", "Authorization failed: User cancelled" },
        // Anyone can link a browser to this port: the text must not become markup.
        { "GET /callback?error=x&error_description=%3Cscript%3Ealert(1)%3C%2Fscript%3E%20%26%20%22q%22 HTTP/1.1\r\n\r\n",
          "400 Bad Request", "&lt;script&gt;alert(1)&lt;/script&gt; &amp; &quot;q&quot;",
          "Authorization failed: <script>alert(1)</script> & \"q\"" },
        { "GET /callback?code=C HTTP/1.1\r\n\r\n", "400 Bad Request", mismatch, "Sign-in callback did not match this session" },
        { "GET /callback?state=S7A_TE-X&code=C HTTP/1.1\r\n\r\n", "400 Bad Request", mismatch, "Sign-in callback did not match this session" },
        { "GET /callback?state=s7a_Te-x&code= HTTP/1.1\r\n\r\n", "400 Bad Request", noCode, "Authorization failed: missing code" },
        { "GET /favicon.ico HTTP/1.1\r\n\r\n", "404 Not Found", "Nothing here.", "none" },
        // Later lines cannot inject a second target.
        { "GET /favicon.ico HTTP/1.1\r\nX: GET /callback?state=s7a_Te-x&code=C HTTP/1.1\r\n\r\n", "404 Not Found",
          "Nothing here.", "none" },
        { QString(), "400 Bad Request", malformed, "none" },
        { QString::fromUtf8(garbage), "400 Bad Request", malformed, "none" },
        { "GET /callback?state=%zz&code=C HTTP/1.1\r\n", "400 Bad Request", malformed, "none" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.request.toStdString());
        const auto answer = LoopbackServer::handle(c.request, state);
        EXPECT_EQ(answer.status, c.status);
        EXPECT_EQ(paragraphOf(answer.body), c.paragraph);
        EXPECT_EQ(resultText(answer), c.result);
    }
}

TEST(LoopbackServerHandle, ResponseBytesCountUTF8)
{
    const QByteArray body = LoopbackServer::page(QStringLiteral("Sign-in failed"), QStringLiteral("Zugriff verweigert \u2013 n\u00f6"));
    EXPECT_TRUE(body.endsWith("<h1>Sign-in failed</h1><p>Zugriff verweigert \xe2\x80\x93 n\xc3\xb6</p></main></body></html>"));
    const QByteArray bytes = LoopbackServer::responseBytes({ "400 Bad Request", body, std::nullopt });
    EXPECT_EQ(bytes, "HTTP/1.1 400 Bad Request\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: "
            + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
}

TEST(LoopbackServerStart, BadPortsFailToBind)
{
    for (int port : { 65536, -1 })
        EXPECT_THROW(LoopbackServer::start(port, state), LoopbackServerError) << port;
    EXPECT_THROW(LoopbackServer::start(state, 0), LoopbackServerError);
    auto first = startServer();
    try {
        LoopbackServer::start(first->port(), state);
        FAIL() << "bound a busy port";
    } catch (const LoopbackServerError& error) {
        EXPECT_EQ(error.kind(), LoopbackServerError::Kind::bindFailed);
        EXPECT_TRUE(std::string(error.what()).starts_with("Could not open a local callback port: "));
    }
}

TEST(LoopbackServerStart, RetriesOnFreshPortsAndReportsTheLastFailure)
{
    auto busy = startServer();
    const int busyPort = busy->port();
    // Five failures: the fifth attempt's error is the one reported.
    std::vector<int> ports { busyPort, busyPort, busyPort, busyPort, 70000 };
    int calls = 0;
    try {
        LoopbackServer::start(state, 5, [&] { return ports[calls++]; });
        FAIL() << "started on a busy port";
    } catch (const LoopbackServerError& error) {
        EXPECT_EQ(error, LoopbackServerError::bindFailed("invalid port 70000"));
    }
    EXPECT_EQ(calls, 5);

    // A free port on the third attempt ends the search there.
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
    const quint16 freePort = probe.serverPort();
    probe.close();
    ports = { busyPort, busyPort, freePort, 70000, 70000 };
    calls = 0;
    EXPECT_EQ(LoopbackServer::start(state, 5, [&] { return ports[calls++]; })->port(), freePort);
    EXPECT_EQ(calls, 3);

    auto server = LoopbackServer::start(state, 5);
    EXPECT_GE(server->port(), 10000);
    EXPECT_LE(server->port(), 59999);
}

TEST(LoopbackServerStart, ListensOnIPv4LoopbackOnly)
{
    auto server = startServer();
    EXPECT_FALSE(LoopbackTestClient(server->port(), QStringLiteral("::1")).connected());
    EXPECT_TRUE(LoopbackTestClient(server->port()).connected());
}

TEST(LoopbackServerWait, TheFirstCallbackDecidesTheWait)
{
    const struct {
        QByteArray request;
        std::string outcome;
    } cases[] = {
        { callback("the-code"), "" },
        { get("/callback?error=access_denied&error_description=User%20cancelled"), "Authorization failed: User cancelled" },
        { get("/callback?state=forged&code=C"), "Sign-in callback did not match this session" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.request.toStdString());
        auto server = startServer();
        auto wait = server->waitForCode(10s);
        const auto reply = exchange(server->port(), c.request);
        ASSERT_TRUE(reply.closed);
        const auto response = parseResponse(reply.received);
        EXPECT_EQ(response.header("Content-Length").toLongLong(), response.body.size());
        EXPECT_EQ(response.header("Connection"), "close");
        // A second callback is answered and ignored.
        const auto second = exchange(server->port(), callback("second"));
        EXPECT_EQ(parseResponse(second.received).statusLine, "HTTP/1.1 200 OK");

        const auto outcome = waitForTask(std::move(wait));
        if (c.outcome.empty()) {
            EXPECT_EQ(response.statusLine, "HTTP/1.1 200 OK");
            ASSERT_TRUE(outcome.ok()) << outcome.errorText();
            EXPECT_EQ(*outcome.value, "the-code");
        } else {
            EXPECT_EQ(response.statusLine, "HTTP/1.1 400 Bad Request");
            EXPECT_EQ(outcome.errorText(), c.outcome);
        }
    }
}

TEST(LoopbackServerWait, CallbackBeforeTheWaitIsReturnedAtOnce)
{
    auto server = startServer();
    ASSERT_TRUE(exchange(server->port(), callback("first")).closed);
    ASSERT_TRUE(velmo::test::spinUntil([&] { return server->hasResult(); }));
    auto wait = server->waitForCode(1h);
    EXPECT_TRUE(wait.isReady());
    EXPECT_EQ(*waitForTask(std::move(wait), 5s).value, "first");
}

TEST(LoopbackServerWait, HostileTrafficNeitherBlocksNorResolvesTheWait)
{
    auto server = startServer();
    auto wait = server->waitForCode(20s);

    // A client that connects and says nothing stays harmlessly open.
    LoopbackTestClient silent(server->port());
    ASSERT_TRUE(silent.connected());

    const QByteArray garbage("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03\xff\x00\r\n", 15);
    const struct {
        QByteArray request;
        const char* status;
    } cases[] = {
        { garbage, "HTTP/1.1 400 Bad Request" },
        { "GET\r\nHost: 127.0.0.1\r\n\r\n", "HTTP/1.1 400 Bad Request" },
        { get("/favicon.ico"), "HTTP/1.1 404 Not Found" },
        // 70 000 bytes of one token: the first chunk is a request line
        // without a target; the rest is never looked at.
        { QByteArray(70000, 'A'), "HTTP/1.1 400 Bad Request" },
        { "GET /robots.txt HTTP/1.1\r\nX-Pad: " + QByteArray(70000, 'p') + "\r\n\r\n", "HTTP/1.1 404 Not Found" },
    };
    for (const auto& c : cases) {
        const auto reply = exchange(server->port(), c.request);
        EXPECT_TRUE(reply.closed);
        EXPECT_EQ(parseResponse(reply.received).statusLine, c.status);
    }
    EXPECT_FALSE(wait.isReady());

    // The real callback still gets through.
    EXPECT_EQ(parseResponse(exchange(server->port(), callback("real")).received).statusLine, "HTTP/1.1 200 OK");
    const auto outcome = waitForTask(std::move(wait));
    ASSERT_TRUE(outcome.ok()) << outcome.errorText();
    EXPECT_EQ(*outcome.value, "real");

    // stop() drops the silent connection and closes the port.
    EXPECT_FALSE(silent.closed());
    server->stop();
    EXPECT_TRUE(silent.waitUntilClosed());
    EXPECT_TRUE(silent.received().isEmpty());
    EXPECT_TRUE(LoopbackTestClient(server->port()).refused());
}

TEST(LoopbackServerWait, SilentConnectionsAreDroppedAtTheirDeadline)
{
    auto server = startServer();
    server->setConnectionDeadline(100ms);
    LoopbackTestClient silent(server->port());
    ASSERT_TRUE(silent.connected());
    EXPECT_TRUE(silent.waitUntilClosed(10s));
    EXPECT_TRUE(server->isListening());
}

TEST(LoopbackServerWait, TimesOut)
{
    auto server = startServer();
    const auto outcome = waitForTask(server->waitForCode(30ms));
    EXPECT_EQ(outcome.errorText(), "Sign-in timed out");
    EXPECT_FALSE(outcome.timedOut);
}

TEST(LoopbackServerWait, StopCancelsTheWaitAndClosesThePort)
{
    auto server = startServer();
    const quint16 port = server->port();
    auto wait = server->waitForCode(1h);
    server->stop();
    EXPECT_EQ(waitForTask(std::move(wait), 5s).errorText(), "Sign-in cancelled");
    EXPECT_FALSE(server->isListening());
    // A callback after stop() finds nothing listening; a wait ends at once.
    EXPECT_TRUE(LoopbackTestClient(port).refused());
    EXPECT_EQ(waitForTask(server->waitForCode(1h), 5s).errorText(), "Sign-in cancelled");
    server->stop(); // idempotent

    // Destroying the server cancels a pending wait too.
    auto other = startServer();
    auto pending = other->waitForCode(1h);
    other.reset();
    EXPECT_EQ(waitForTask(std::move(pending), 5s).errorText(), "Sign-in cancelled");

    // A stop token ends the wait with cancellation.
    auto third = startServer();
    std::stop_source source;
    auto stopped = third->waitForCode(1h, source.get_token());
    source.request_stop();
    EXPECT_THROW(waitForTask(std::move(stopped), 5s).rethrow(), CancellationError);
}
