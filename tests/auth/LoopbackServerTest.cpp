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

LoopbackServer::Answer handle(const char* request)
{
    return LoopbackServer::handle(QString::fromUtf8(request), state);
}

QByteArray get(const QByteArray& target)
{
    return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nUser-Agent: test\r\n\r\n";
}

QString paragraphOf(const QByteArray& body)
{
    const qsizetype start = body.indexOf("<p>") + 3;
    return QString::fromUtf8(body.mid(start, body.indexOf("</p>") - start));
}

QString headingOf(const QByteArray& body)
{
    const qsizetype start = body.indexOf("<h1>") + 4;
    return QString::fromUtf8(body.mid(start, body.indexOf("</h1>") - start));
}

template <typename E>
E errorOf(const LoopbackServer::Answer& answer)
{
    EXPECT_TRUE(answer.result.has_value());
    if (!answer.result || !std::holds_alternative<E>(*answer.result)) {
        ADD_FAILURE() << "result is not the expected error type";
        throw std::runtime_error("wrong result");
    }
    return std::get<E>(*answer.result);
}

std::unique_ptr<LoopbackServer> startServer()
{
    return LoopbackServer::start(0, state);
}

QByteArray callback(const QByteArray& code)
{
    return get("/callback?state=" + state.toUtf8() + "&code=" + code);
}

} // namespace

// --- handle(): one request's page and result -------------------------------

TEST(LoopbackServerHandle, SuccessAnswersSignedInAndCarriesTheCode)
{
    const auto answer = handle("GET /callback?state=s7a_Te-x&code=C0de HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_EQ(answer.status, "200 OK");
    EXPECT_EQ(headingOf(answer.body), "Signed in");
    EXPECT_EQ(paragraphOf(answer.body), "You can close this window and return to Velmo Usage.");
    ASSERT_TRUE(answer.result.has_value());
    EXPECT_EQ(std::get<QString>(*answer.result), "C0de");
}

TEST(LoopbackServerHandle, ProviderErrorComesBeforeTheStateCheck)
{
    const auto described = handle("GET /callback?error=access_denied&error_description=User%20cancelled&state=s7a_Te-x HTTP/1.1\r\n\r\n");
    EXPECT_EQ(described.status, "400 Bad Request");
    EXPECT_EQ(headingOf(described.body), "Sign-in failed");
    EXPECT_EQ(paragraphOf(described.body), "User cancelled");
    const auto denied = errorOf<OAuthError>(described);
    EXPECT_EQ(denied.kind(), OAuthError::Kind::authorizationDenied);
    EXPECT_STREQ(denied.what(), "Authorization failed: User cancelled");

    // No state at all, and no description: still the provider's page, with its code.
    const auto bare = handle("GET /callback?error=access_denied HTTP/1.1\r\n\r\n");
    EXPECT_EQ(paragraphOf(bare.body), "access_denied");
    EXPECT_EQ(errorOf<OAuthError>(bare), OAuthError::authorizationDenied("access_denied"));

    // "error_description" without "=" has no value: the error code is shown.
    const auto valueless = handle("GET /callback?error=server_error&error_description HTTP/1.1\r\n\r\n");
    EXPECT_EQ(errorOf<OAuthError>(valueless).message(), "server_error");
}

TEST(LoopbackServerHandle, ProviderTextIsEscapedInThePageButKeptInTheError)
{
    // Anyone can link a browser to this port: the text must not become markup.
    const auto answer = handle("GET /callback?error=x&error_description=%3Cscript%3Ealert(1)%3C%2Fscript%3E%20%26%20%22q%22 HTTP/1.1\r\n\r\n");
    EXPECT_FALSE(answer.body.contains("<script>"));
    EXPECT_EQ(paragraphOf(answer.body), "&lt;script&gt;alert(1)&lt;/script&gt; &amp; &quot;q&quot;");
    EXPECT_EQ(errorOf<OAuthError>(answer).message(), "<script>alert(1)</script> & \"q\"");
}

TEST(LoopbackServerHandle, MissingOrWrongStateIsAMismatch)
{
    for (const char* request : { "GET /callback?code=C HTTP/1.1\r\n\r\n",
                                 "GET /callback?state=other&code=C HTTP/1.1\r\n\r\n",
                                 "GET /callback?state=S7A_TE-X&code=C HTTP/1.1\r\n\r\n",
                                 "GET /callback?state&code=C HTTP/1.1\r\n\r\n",
                                 "GET /callback?code=C&state= HTTP/1.1\r\n\r\n" }) {
        SCOPED_TRACE(request);
        const auto answer = handle(request);
        EXPECT_EQ(answer.status, "400 Bad Request");
        EXPECT_EQ(paragraphOf(answer.body), "State mismatch. Start sign-in again from Velmo Usage.");
        EXPECT_EQ(errorOf<LoopbackServerError>(answer), LoopbackServerError::stateMismatch());
    }
}

TEST(LoopbackServerHandle, MissingOrEmptyCodeIsDenied)
{
    for (const char* request : { "GET /callback?state=s7a_Te-x HTTP/1.1\r\n\r\n",
                                 "GET /callback?state=s7a_Te-x&code= HTTP/1.1\r\n\r\n",
                                 "GET /callback?state=s7a_Te-x&code HTTP/1.1\r\n\r\n" }) {
        SCOPED_TRACE(request);
        const auto answer = handle(request);
        EXPECT_EQ(answer.status, "400 Bad Request");
        EXPECT_EQ(paragraphOf(answer.body), "Missing authorization code.");
        const auto denied = errorOf<OAuthError>(answer);
        EXPECT_STREQ(denied.what(), "Authorization failed: missing code");
    }
}

TEST(LoopbackServerHandle, QueryValuesArePercentDecodedAndFirstItemWins)
{
    // "+" stays "+", %2B is "+", the first "code" counts, an "error" without
    // a value is no provider error.
    const auto answer = handle("GET /callback?error&state=s7a%5FTe-x&code=a+b%2Bc%C3%A9&code=second HTTP/1.1\r\n\r\n");
    ASSERT_TRUE(answer.result.has_value());
    EXPECT_EQ(std::get<QString>(*answer.result), QStringLiteral("a+b+c\u00e9"));
}

TEST(LoopbackServerHandle, OnlyTheFirstLineAndTheTargetCount)
{
    // The method is not looked at; leading empty lines are dropped; later
    // lines cannot inject a second target.
    EXPECT_EQ(handle("POST /callback?state=s7a_Te-x&code=C HTTP/1.1\r\n\r\n").status, "200 OK");
    EXPECT_EQ(handle("\r\n\r\nGET /callback?state=s7a_Te-x&code=C HTTP/1.1\r\n\r\n").status, "200 OK");
    EXPECT_EQ(handle("GET   /callback?state=s7a_Te-x&code=C").status, "200 OK");
    const auto injected = handle("GET /favicon.ico HTTP/1.1\r\nX: GET /callback?state=s7a_Te-x&code=C HTTP/1.1\r\n\r\n");
    EXPECT_EQ(injected.status, "404 Not Found");
    EXPECT_FALSE(injected.result.has_value());
}

TEST(LoopbackServerHandle, OtherPathsAreNotFound)
{
    for (const char* request : { "GET /favicon.ico HTTP/1.1\r\n\r\n", "GET / HTTP/1.1\r\n\r\n",
                                 "GET /callbackx?state=s7a_Te-x&code=C HTTP/1.1\r\n\r\n",
                                 "GET /callback/?state=s7a_Te-x&code=C HTTP/1.1\r\n\r\n",
                                 "GET /other/callback?state=s7a_Te-x&code=C HTTP/1.1\r\n\r\n" }) {
        SCOPED_TRACE(request);
        const auto answer = handle(request);
        EXPECT_EQ(answer.status, "404 Not Found");
        EXPECT_EQ(headingOf(answer.body), "Not found");
        EXPECT_EQ(paragraphOf(answer.body), "Nothing here.");
        EXPECT_FALSE(answer.result.has_value());
    }
}

TEST(LoopbackServerHandle, MalformedRequestsGetTheBadRequestPage)
{
    const QByteArray garbage("\x00\xff\xfe\x80 \x01\x02\r\n", 10);
    for (const QString& request : { QString(), QStringLiteral("\r\n\r\n"), QStringLiteral("GET\r\nHost: x\r\n\r\n"),
                                    QStringLiteral("     \r\n"), QString::fromUtf8(garbage),
                                    QStringLiteral("GET /callback?state=%zz&code=C HTTP/1.1\r\n"),
                                    QStringLiteral("GET /call\u00e9back HTTP/1.1\r\n") }) {
        SCOPED_TRACE(request.toStdString());
        const auto answer = LoopbackServer::handle(request, state);
        EXPECT_EQ(answer.status, "400 Bad Request");
        EXPECT_EQ(headingOf(answer.body), "Bad request");
        EXPECT_EQ(paragraphOf(answer.body), "Malformed request.");
        EXPECT_FALSE(answer.result.has_value());
    }
}

TEST(LoopbackServerHandle, PageAndResponseBytes)
{
    const QByteArray body = LoopbackServer::page(QStringLiteral("Sign-in failed"), QStringLiteral("Zugriff verweigert \u2013 n\u00f6"));
    EXPECT_TRUE(body.startsWith("<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Velmo Usage</title><style>"));
    EXPECT_TRUE(body.endsWith("<h1>Sign-in failed</h1><p>Zugriff verweigert \xe2\x80\x93 n\xc3\xb6</p></main></body></html>"));
    for (const char* style : { "-apple-system,system-ui,sans-serif", "background:#f5f5f7", "color:#1d1d1f",
                               "color:#6e6e73", "padding:2rem", "font-size:1.5rem", "margin:0 0 .5rem", "100vh" })
        EXPECT_TRUE(body.contains(style)) << style;

    const LoopbackServer::Answer answer { "400 Bad Request", body, std::nullopt };
    const QByteArray bytes = LoopbackServer::responseBytes(answer);
    const QByteArray expectedHead = "HTTP/1.1 400 Bad Request\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: "
        + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n";
    EXPECT_EQ(bytes, expectedHead + body);
    // The length counts UTF-8 bytes, not characters.
    EXPECT_GT(body.size(), QString::fromUtf8(body).size());
}

TEST(LoopbackServerErrors, Descriptions)
{
    EXPECT_STREQ(LoopbackServerError::bindFailed("boom").what(), "Could not open a local callback port: boom");
    EXPECT_STREQ(LoopbackServerError::timeout().what(), "Sign-in timed out");
    EXPECT_STREQ(LoopbackServerError::stateMismatch().what(), "Sign-in callback did not match this session");
    EXPECT_STREQ(LoopbackServerError::cancelled().what(), "Sign-in cancelled");
    EXPECT_STREQ(OAuthError::registrationFailed("m").what(), "Client registration failed: m");
    EXPECT_STREQ(OAuthError::authorizationDenied("m").what(), "Authorization failed: m");
    EXPECT_STREQ(OAuthError::exchangeFailed("m").what(), "Token exchange failed: m");
    EXPECT_NE(OAuthError::exchangeFailed("m"), OAuthError::registrationFailed("m"));
}

// --- start(): binding -------------------------------------------------------

TEST(LoopbackServerStart, NoAttemptIsABindFailure)
{
    for (int attempts : { 0, -3 }) {
        try {
            LoopbackServer::start(state, attempts);
            FAIL() << "started with " << attempts << " attempts";
        } catch (const LoopbackServerError& error) {
            EXPECT_EQ(error, LoopbackServerError::bindFailed("no attempt made"));
        }
    }
}

TEST(LoopbackServerStart, InvalidAndBusyPortsFailToBind)
{
    for (int port : { 65536, 70000, -1 }) {
        try {
            LoopbackServer::start(port, state);
            FAIL() << "bound " << port;
        } catch (const LoopbackServerError& error) {
            EXPECT_EQ(error, LoopbackServerError::bindFailed("invalid port " + std::to_string(port)));
        }
    }
    auto first = startServer();
    try {
        LoopbackServer::start(first->port(), state);
        FAIL() << "bound a busy port";
    } catch (const LoopbackServerError& error) {
        EXPECT_EQ(error.kind(), LoopbackServerError::Kind::bindFailed);
        EXPECT_TRUE(std::string(error.what()).starts_with("Could not open a local callback port: "));
        EXPECT_GT(error.message().size(), 0u);
    }
}

TEST(LoopbackServerStart, RetriesOnFreshPortsAndReportsTheLastFailure)
{
    std::vector<std::unique_ptr<LoopbackServer>> busy;
    for (int i = 0; i < 4; ++i)
        busy.push_back(startServer());

    // Five failures: the fifth attempt's error is the one reported.
    std::vector<int> ports { busy[0]->port(), busy[1]->port(), busy[2]->port(), busy[3]->port(), 70000 };
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
    ports = { busy[0]->port(), busy[1]->port(), freePort, 70000, 70000 };
    calls = 0;
    auto server = LoopbackServer::start(state, 5, [&] { return ports[calls++]; });
    EXPECT_EQ(server->port(), freePort);
    EXPECT_EQ(calls, 3);
}

TEST(LoopbackServerStart, RandomPortsStayInTheirRange)
{
    int lowest = 65536, highest = -1;
    for (int i = 0; i < 2000; ++i) {
        const int port = LoopbackServer::randomPort();
        lowest = std::min(lowest, port);
        highest = std::max(highest, port);
    }
    EXPECT_GE(lowest, 10000);
    EXPECT_LE(highest, 59999);
    EXPECT_LT(lowest, 12000);
    EXPECT_GT(highest, 58000);

    auto server = LoopbackServer::start(state, 5);
    EXPECT_GE(server->port(), 10000);
    EXPECT_LE(server->port(), 59999);
    EXPECT_TRUE(server->isListening());
}

TEST(LoopbackServerStart, ListensOnIPv4LoopbackOnly)
{
    auto server = startServer();
    LoopbackTestClient v6(server->port(), QStringLiteral("::1"));
    EXPECT_FALSE(v6.connected());
    LoopbackTestClient v4(server->port());
    EXPECT_TRUE(v4.connected());
}

// --- waiting for the callback over real sockets -----------------------------

TEST(LoopbackServerWait, CallbackWhileWaitingAnswersAndResolves)
{
    auto server = startServer();
    auto wait = server->waitForCode(10s);
    const auto reply = exchange(server->port(), callback("the-code"));
    ASSERT_TRUE(reply.closed);
    const auto response = parseResponse(reply.received);
    EXPECT_EQ(response.statusLine, "HTTP/1.1 200 OK");
    EXPECT_EQ(response.header("Content-Type"), "text/html; charset=utf-8");
    EXPECT_EQ(response.header("Connection"), "close");
    EXPECT_EQ(response.header("Content-Length").toLongLong(), response.body.size());
    EXPECT_EQ(headingOf(response.body), "Signed in");

    const auto outcome = waitForTask(std::move(wait));
    ASSERT_TRUE(outcome.ok()) << outcome.errorText();
    EXPECT_EQ(*outcome.value, "the-code");
}

TEST(LoopbackServerWait, CallbackBeforeTheWaitIsReturnedAtOnce)
{
    auto server = startServer();
    // The first of two early callbacks is the one kept.
    ASSERT_TRUE(exchange(server->port(), callback("first")).closed);
    ASSERT_TRUE(exchange(server->port(), callback("second")).closed);
    ASSERT_TRUE(velmo::test::spinUntil([&] { return server->hasResult(); }));
    auto wait = server->waitForCode(1h);
    EXPECT_TRUE(wait.isReady());
    const auto outcome = waitForTask(std::move(wait), 5s);
    ASSERT_TRUE(outcome.ok()) << outcome.errorText();
    EXPECT_EQ(*outcome.value, "first");
}

TEST(LoopbackServerWait, SecondCallbackIsAnsweredAndIgnored)
{
    auto server = startServer();
    auto wait = server->waitForCode(10s);
    ASSERT_TRUE(exchange(server->port(), callback("one")).closed);
    const auto second = exchange(server->port(), get("/callback?error=access_denied"));
    ASSERT_TRUE(second.closed);
    EXPECT_EQ(parseResponse(second.received).statusLine, "HTTP/1.1 400 Bad Request");
    const auto outcome = waitForTask(std::move(wait));
    ASSERT_TRUE(outcome.ok()) << outcome.errorText();
    EXPECT_EQ(*outcome.value, "one");
}

TEST(LoopbackServerWait, ProviderErrorFailsTheWait)
{
    auto server = startServer();
    auto wait = server->waitForCode(10s);
    const auto reply = exchange(server->port(), get("/callback?error=access_denied&error_description=User%20cancelled"));
    EXPECT_EQ(paragraphOf(parseResponse(reply.received).body), "User cancelled");
    const auto outcome = waitForTask(std::move(wait));
    EXPECT_EQ(outcome.errorText(), "Authorization failed: User cancelled");
    EXPECT_THROW(outcome.rethrow(), OAuthError);
}

TEST(LoopbackServerWait, StateMismatchFailsTheWait)
{
    auto server = startServer();
    auto wait = server->waitForCode(10s);
    exchange(server->port(), get("/callback?state=forged&code=C"));
    const auto outcome = waitForTask(std::move(wait));
    EXPECT_EQ(outcome.errorText(), "Sign-in callback did not match this session");
    EXPECT_THROW(outcome.rethrow(), LoopbackServerError);
}

TEST(LoopbackServerWait, HostileTrafficNeitherBlocksNorResolvesTheWait)
{
    auto server = startServer();
    auto wait = server->waitForCode(20s);

    // A client that connects and says nothing stays harmlessly open.
    LoopbackTestClient silent(server->port());
    ASSERT_TRUE(silent.connected());

    const QByteArray garbage("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03\xff\x00\r\n", 15);
    const auto garbageReply = exchange(server->port(), garbage);
    EXPECT_TRUE(garbageReply.closed);
    EXPECT_EQ(parseResponse(garbageReply.received).statusLine, "HTTP/1.1 400 Bad Request");

    const auto noTarget = exchange(server->port(), "GET\r\nHost: 127.0.0.1\r\n\r\n");
    EXPECT_TRUE(noTarget.closed);
    EXPECT_EQ(paragraphOf(parseResponse(noTarget.received).body), "Malformed request.");

    const auto favicon = exchange(server->port(), get("/favicon.ico"));
    EXPECT_TRUE(favicon.closed);
    EXPECT_EQ(parseResponse(favicon.received).statusLine, "HTTP/1.1 404 Not Found");

    // 70 000 bytes of one token: the first chunk is a request line without a
    // target; the rest is never looked at, and the page still arrives.
    const auto flood = exchange(server->port(), QByteArray(70000, 'A'));
    EXPECT_TRUE(flood.closed);
    EXPECT_EQ(parseResponse(flood.received).statusLine, "HTTP/1.1 400 Bad Request");

    // A 70 000-byte request with a valid request line: answered from its
    // first chunk.
    const auto big = exchange(server->port(), "GET /robots.txt HTTP/1.1\r\nX-Pad: " + QByteArray(70000, 'p') + "\r\n\r\n");
    EXPECT_TRUE(big.closed);
    EXPECT_EQ(parseResponse(big.received).statusLine, "HTTP/1.1 404 Not Found");

    EXPECT_FALSE(wait.isReady());

    // The real callback still gets through.
    const auto reply = exchange(server->port(), callback("real"));
    EXPECT_EQ(parseResponse(reply.received).statusLine, "HTTP/1.1 200 OK");
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
    EXPECT_TRUE(silent.received().isEmpty());
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
    const auto outcome = waitForTask(std::move(wait), 5s);
    EXPECT_EQ(outcome.errorText(), "Sign-in cancelled");
    try {
        outcome.rethrow();
    } catch (const LoopbackServerError& error) {
        EXPECT_EQ(error.kind(), LoopbackServerError::Kind::cancelled);
    }
    EXPECT_FALSE(server->isListening());
    // A callback after stop() finds nothing listening.
    EXPECT_TRUE(LoopbackTestClient(port).refused());
    // A wait after stop() ends at once.
    EXPECT_EQ(waitForTask(server->waitForCode(1h), 5s).errorText(), "Sign-in cancelled");
    server->stop(); // idempotent
}

TEST(LoopbackServerWait, StopTokenEndsTheWaitWithCancellation)
{
    auto server = startServer();
    std::stop_source source;
    auto wait = server->waitForCode(1h, source.get_token());
    source.request_stop();
    const auto outcome = waitForTask(std::move(wait), 5s);
    EXPECT_THROW(outcome.rethrow(), CancellationError);

    std::stop_source stopped;
    stopped.request_stop();
    EXPECT_THROW(waitForTask(server->waitForCode(1h, stopped.get_token()), 5s).rethrow(), CancellationError);
}

TEST(LoopbackServerWait, DestroyingTheServerCancelsThePendingWait)
{
    auto server = startServer();
    auto wait = server->waitForCode(1h);
    server.reset();
    const auto outcome = waitForTask(std::move(wait), 5s);
    EXPECT_EQ(outcome.errorText(), "Sign-in cancelled");
}
