#include "LoopbackServer.h"

#include "AsyncWait.h"
#include "Cancellation.h"
#include "LoopbackTestClient.h"
#include "TestSupport.h"

#include <QTcpServer>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace std::chrono_literals;
using velmo::test::exchange;
using velmo::test::RawClient;
using velmo::test::refused;
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

} // namespace

TEST(LoopbackServerHandle, EachRequestGetsItsPageAndResult)
{
    const QByteArray garbage("\x00\xff\xfe\x80 \x01\x02\r\n", 10);
    const char* const signedIn = "You can close this window and return to Velmo Usage.";
    const char* const mismatch = "State mismatch. Start sign-in again from Velmo Usage.";
    using Result = std::optional<LoopbackServer::Result>;
    const Result noMatch = LoopbackServerError::stateMismatch();
    const char* const malformed = "Malformed request.";
    const struct { QString request; const char* status; QString paragraph; Result result; } cases[] = {
        { "GET /callback?state=s7a_Te-x&code=C0de HTTP/1.1\r\nHost: x\r\n\r\n", "200 OK", signedIn, QString("C0de") },
        // "+" stays "+", %2B is "+", the first "code" counts, an "error"
        // without a value is no provider error.
        { "GET /callback?error&state=s7a%5FTe-x&code=a+b%2Bc%C3%A9&code=second HTTP/1.1\r\n\r\n", "200 OK", signedIn, QString("a+b+c\u00e9") },
        // The method is not looked at; leading empty lines are dropped.
        { "\r\n\r\nPOST /callback?state=s7a_Te-x&code=C", "200 OK", signedIn, QString("C") },
        { "GET /callback?error=access_denied&error_description=User%20cancelled&state=s7a_Te-x HTTP/1.1\r\n\r\n",
          "400 Bad Request", "User cancelled", OAuthError::authorizationDenied("User cancelled") },
        // Anyone can send a browser here: the text must neither become markup
        // nor carry terminal escapes, and without the state it ends nothing.
        { "GET /callback?state=s7a_Te-x&error=x&error_description=%3Cb%3E%26%1B%5D0%3Bt%07%0D%0A HTTP/1.1\r\n\r\n",
          "400 Bad Request", "&lt;b&gt;&amp;]0;t", OAuthError::authorizationDenied("<b>&]0;t") },
        { "GET /callback?error=access_denied&error_description=Forged HTTP/1.1\r\n\r\n", "400 Bad Request", mismatch, std::nullopt },
        { "GET /callback?error=access_denied&state=other HTTP/1.1\r\n\r\n", "400 Bad Request", mismatch, std::nullopt },
        { "GET /callback?code=C HTTP/1.1\r\n\r\n", "400 Bad Request", mismatch, noMatch },
        { "GET /callback?state=S7A_TE-X&code=C HTTP/1.1\r\n\r\n", "400 Bad Request", mismatch, noMatch },
        { "GET /callback?state=s7a_Te-x&code= HTTP/1.1\r\n\r\n", "400 Bad Request", "Missing authorization code.",
          OAuthError::authorizationDenied("missing code") },
        { "GET /favicon.ico HTTP/1.1\r\n\r\n", "404 Not Found", "Nothing here.", std::nullopt },
        // Later lines cannot inject a second target.
        { "GET /favicon.ico HTTP/1.1\r\nX: GET /callback?state=s7a_Te-x&code=C HTTP/1.1\r\n\r\n", "404 Not Found", "Nothing here.", std::nullopt },
        { QString(), "400 Bad Request", malformed, std::nullopt },
        { QString::fromUtf8(garbage), "400 Bad Request", malformed, std::nullopt },
        { "GET /callback?state=%zz&code=C HTTP/1.1\r\n", "400 Bad Request", malformed, std::nullopt },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.request.toStdString());
        const auto answer = LoopbackServer::handle(c.request, state);
        EXPECT_EQ(answer.status, c.status);
        const qsizetype start = answer.body.indexOf("<p>") + 3;
        EXPECT_EQ(QString::fromUtf8(answer.body.mid(start, answer.body.indexOf("</p>") - start)), c.paragraph);
        EXPECT_TRUE(answer.result == c.result);
    }
    // Non-ASCII text reaches the page as UTF-8; the framing is the real browser's to judge (BrowserSignInTest).
    EXPECT_TRUE(LoopbackServer::page(QStringLiteral("Sign-in failed"), QStringLiteral("n\u00f6")).endsWith("<h1>Sign-in failed</h1><p>n\xc3\xb6</p></main></body></html>"));
}

TEST(LoopbackServerStart, RetriesOnFreshPortsOnLoopbackOnly)
{
    for (int port : { 65536, -1 })
        EXPECT_THROW(LoopbackServer::start(port, state), LoopbackServerError) << port;
    EXPECT_THROW(LoopbackServer::start(state, 0), LoopbackServerError);
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
    const int freePort = probe.serverPort();
    probe.close();
    auto busy = LoopbackServer::start(0, state);
    // Up to five fresh ports: the first free one is taken; else the fifth failure is reported.
    std::vector<int> ports { busy->port(), busy->port(), busy->port(), busy->port(), 70000 };
    int calls = 0;
    const auto next = [&] { return ports.at(calls++); };
    // waitForTask gives the failure's text.
    EXPECT_EQ(waitForTask([&]() -> QCoro::Task<int> { co_return LoopbackServer::start(state, 5, next)->port(); }()).errorText(),
        LoopbackServerError::bindFailed("invalid port 70000").what());
    ports = { busy->port(), busy->port(), freePort, 70000, 70000 };
    calls = 0;
    auto server = LoopbackServer::start(state, 5, next);
    EXPECT_EQ(std::pair(int(server->port()), calls), std::pair(freePort, 3));
    EXPECT_FALSE(RawClient(server->port(), "::1").connected());
    const auto random = LoopbackServer::start(state, 5);
    EXPECT_TRUE(random->port() >= 10000 && random->port() <= 59999) << random->port();
}

TEST(LoopbackServerWait, TheFirstRealCallbackDecidesTheWait)
{
    for (const QByteArray& request : { callback("the-code"), get("/callback?state=forged&code=C") }) {
        auto server = LoopbackServer::start(0, state);
        auto wait = server->waitForCode(10s);
        // Exactly the answer for the request, whole, and the connection closed.
        EXPECT_EQ(exchange(server->port(), request), LoopbackServer::responseBytes(LoopbackServer::handle(request, state)));
        // A second callback is answered and ignored.
        EXPECT_TRUE(exchange(server->port(), callback("second")).startsWith("HTTP/1.1 200 OK\r\n"));
        const auto outcome = waitForTask(std::move(wait));
        EXPECT_EQ(outcome.ok() ? outcome.value->toStdString() : outcome.errorText(),
            request.contains("forged") ? "Sign-in callback did not match this session" : "the-code");
    }
    // A callback before the wait is returned at once.
    auto server = LoopbackServer::start(0, state);
    ASSERT_FALSE(exchange(server->port(), callback("first")).isEmpty());
    ASSERT_TRUE(velmo::test::spinUntil([&] { return server->hasResult(); }));
    auto wait = server->waitForCode(1h);
    EXPECT_TRUE(wait.isReady());
    EXPECT_EQ(*waitForTask(std::move(wait), 5s).value, "first");
}

TEST(LoopbackServerWait, HostileTrafficNeitherBlocksNorEndsTheWait)
{
    auto server = LoopbackServer::start(0, state);
    auto wait = server->waitForCode(20s);
    // Clients that connect and say nothing: no more than 32 stay open, the
    // oldest going first.
    std::vector<std::unique_ptr<RawClient>> silent;
    for (int i = 0; i < LoopbackServer::maxConnections + 8; ++i)
        silent.push_back(std::make_unique<RawClient>(server->port()));
    ASSERT_TRUE(velmo::test::spinUntil([&] { return silent[7]->closed(); }));
    EXPECT_FALSE(silent[8]->closed() || silent.back()->closed());
    const QByteArray garbage("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03\xff\x00\r\n", 15);
    const std::pair<QByteArray, const char*> cases[] = {
        { garbage, "HTTP/1.1 400 Bad Request" },
        { get("/favicon.ico"), "HTTP/1.1 404 Not Found" },
        { get("/callback?error=access_denied&error_description=Forged"), "HTTP/1.1 400 Bad Request" },
        // 70 000 bytes of one token: the first chunk is a request line
        // without a target; the rest is never looked at.
        { QByteArray(70000, 'A'), "HTTP/1.1 400 Bad Request" },
        { "GET /robots.txt HTTP/1.1\r\nX-Pad: " + QByteArray(70000, 'p') + "\r\n\r\n", "HTTP/1.1 404 Not Found" },
    };
    for (const auto& [request, status] : cases)
        EXPECT_TRUE(exchange(server->port(), request).startsWith(status)) << status;
    EXPECT_FALSE(wait.isReady());
    // The real callback still gets through.
    EXPECT_TRUE(exchange(server->port(), callback("real")).startsWith("HTTP/1.1 200 OK"));
    EXPECT_EQ(*waitForTask(std::move(wait)).value, "real");
    // stop() drops the silent connections and closes the port.
    server->stop();
    EXPECT_TRUE(silent.back()->waitUntilClosed());
    EXPECT_TRUE(silent.back()->received().isEmpty());
    EXPECT_TRUE(refused(server->port()));
}

TEST(LoopbackServerWait, RunningOutOfDescriptorsOnlyDelaysTheCallback)
{
    auto server = LoopbackServer::start(0, state);
    auto wait = server->waitForCode(20s);
    RawClient client(server->port());
    client.send(callback("late"));
    // Every descriptor taken: the server cannot accept the waiting connection.
    rlimit previous {};
    ::getrlimit(RLIMIT_NOFILE, &previous);
    const int lowestFree = ::dup(0);
    ::close(lowestFree);
    rlimit scarce = previous;
    scarce.rlim_cur = static_cast<rlim_t>(lowestFree + 16);
    ::setrlimit(RLIMIT_NOFILE, &scarce);
    std::vector<int> taken;
    for (int fd; (fd = ::dup(0)) >= 0;)
        taken.push_back(fd);
    velmo::test::spinUntil([] { return false; }, 300ms);
    EXPECT_FALSE(wait.isReady());
    for (int fd : taken)
        ::close(fd);
    ::setrlimit(RLIMIT_NOFILE, &previous);
    const auto outcome = waitForTask(std::move(wait), 10s);
    EXPECT_EQ(outcome.ok() ? *outcome.value : QString(), "late");
}

TEST(LoopbackServerWait, EndsAtTheTimeoutTheDeadlineAndStop)
{
    auto server = LoopbackServer::start(0, state);
    EXPECT_EQ(waitForTask(server->waitForCode(30ms)).errorText(), "Sign-in timed out");
    // A connection that stays silent is dropped at its deadline.
    server->setConnectionDeadline(100ms);
    EXPECT_TRUE(RawClient(server->port()).waitUntilClosed());
    auto wait = server->waitForCode(1h);
    server->stop();
    EXPECT_EQ(waitForTask(std::move(wait), 5s).errorText(), "Sign-in cancelled");
    EXPECT_EQ(waitForTask(server->waitForCode(1h), 5s).errorText(), "Sign-in cancelled");
    server->stop(); // idempotent
    // Destroying the server, or a stop token, ends a pending wait too.
    auto other = LoopbackServer::start(0, state);
    auto pending = other->waitForCode(1h);
    other.reset();
    EXPECT_EQ(waitForTask(std::move(pending), 5s).errorText(), "Sign-in cancelled");
    auto third = LoopbackServer::start(0, state);
    std::stop_source source;
    auto stopped = third->waitForCode(1h, source.get_token());
    source.request_stop();
    EXPECT_THROW(waitForTask(std::move(stopped), 5s).rethrow(), CancellationError);
}
