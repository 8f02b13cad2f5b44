#include "AsyncWait.h"
#include "Cancellation.h"
#include "HTTPClient.h"
#include "NetworkError.h"
#include "QtNetworkTransport.h"
#include "RawHTTPServer.h"

#include <QElapsedTimer>
#include <QTimer>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using velmo::test::RawHTTPServer;
using velmo::test::rawResponse;
using velmo::test::waitForTask;

namespace {

velmo::test::TaskOutcome<HTTPResponse> fetch(const QUrl& url, bool followsRedirects = false,
    std::chrono::milliseconds timeout = 10s, std::stop_token stop = {})
{
    QtNetworkTransport transport(followsRedirects);
    HTTPRequest request;
    request.url = url;
    request.headers = { { "Accept", "application/json" }, { "x-velmo-source", "tests" } };
    request.timeout = timeout;
    return waitForTask(transport.send(request, stop), 20s);
}

NetworkError::Code codeOf(const velmo::test::TaskOutcome<HTTPResponse>& outcome)
{
    try {
        outcome.rethrow();
    } catch (const NetworkError& error) {
        return error.code();
    }
    throw std::logic_error("not a NetworkError: " + outcome.errorText());
}

TEST(QtNetworkTransport, ReturnsStatusBodyAndHeadersOfAnyStatus)
{
    RawHTTPServer server([](QTcpSocket& socket, const QByteArray& head) {
        const int status = head.startsWith("GET /missing") ? 404 : 200;
        socket.write(rawResponse(status, "Whatever", R"({"ok":true})", "Content-Type: application/json\r\nX-Extra: a\r\n"));
    });
    auto ok = fetch(server.url("/v1/credits/balance"));
    ASSERT_TRUE(ok.ok()) << ok.errorText();
    EXPECT_EQ(ok.value->status, 200);
    EXPECT_EQ(ok.value->data, R"({"ok":true})");
    EXPECT_EQ(ok.value->header("content-type"), QByteArray("application/json"));
    EXPECT_EQ(ok.value->header("x-extra"), QByteArray("a"));
    ASSERT_EQ(server.heads.size(), 1u);
    EXPECT_TRUE(server.heads[0].startsWith("GET /v1/credits/balance HTTP/1.1"));
    EXPECT_TRUE(server.heads[0].contains("x-velmo-source: tests"));

    auto missing = fetch(server.url("/missing"));
    ASSERT_TRUE(missing.ok()) << missing.errorText();
    EXPECT_EQ(missing.value->status, 404);
    EXPECT_EQ(missing.value->data, R"({"ok":true})");
}

TEST(QtNetworkTransport, ErrorStatusesAreResponsesWithTheirBodies)
{
    for (int status : { 400, 401, 403, 405, 409, 418, 429, 500, 501, 502, 503, 599 }) {
        RawHTTPServer server([status](QTcpSocket& socket, const QByteArray&) {
            socket.write(rawResponse(status, "Nope", "body " + QByteArray::number(status)));
        });
        auto outcome = fetch(server.url());
        ASSERT_TRUE(outcome.ok()) << status << ": " << outcome.errorText();
        EXPECT_EQ(outcome.value->status, status);
        EXPECT_EQ(outcome.value->data, "body " + QByteArray::number(status));
    }
}

TEST(QtNetworkTransport, RedirectsAreReturnedWhenNotFollowed)
{
    RawHTTPServer server([](QTcpSocket& socket, const QByteArray& head) {
        if (head.startsWith("GET /old"))
            socket.write(rawResponse(302, "Found", "moved", "Location: /new\r\n"));
        else
            socket.write(rawResponse(200, "OK", "new place"));
    });
    auto manual = fetch(server.url("/old"), false);
    ASSERT_TRUE(manual.ok()) << manual.errorText();
    EXPECT_EQ(manual.value->status, 302);
    EXPECT_EQ(manual.value->header("location"), QByteArray("/new"));
    EXPECT_EQ(server.heads.size(), 1u);

    auto followed = fetch(server.url("/old"), true);
    ASSERT_TRUE(followed.ok()) << followed.errorText();
    EXPECT_EQ(followed.value->status, 200);
    EXPECT_EQ(followed.value->data, "new place");
}

TEST(QtNetworkTransport, RedirectToAnotherHostIsRefused)
{
    RawHTTPServer other([](QTcpSocket& socket, const QByteArray&) { socket.write(rawResponse(200, "OK", "stolen")); });
    const QByteArray location = QStringLiteral("http://localhost:%1/").arg(other.port()).toUtf8();
    RawHTTPServer server([location](QTcpSocket& socket, const QByteArray&) {
        socket.write(rawResponse(301, "Moved", {}, "Location: " + location + "\r\n"));
    });
    auto outcome = fetch(server.url(), true);
    ASSERT_FALSE(outcome.ok());
    EXPECT_EQ(codeOf(outcome), NetworkError::Code::badServerResponse);
    EXPECT_EQ(outcome.errorText(), "Redirect to another origin refused");
    EXPECT_TRUE(other.heads.empty());
}

TEST(QtNetworkTransport, ConnectionDroppedMidAnswerIsConnectionLost)
{
    RawHTTPServer server([](QTcpSocket& socket, const QByteArray&) {
        socket.write("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n{\"partial\":");
        socket.flush();
        socket.disconnectFromHost();
    });
    auto outcome = fetch(server.url());
    ASSERT_FALSE(outcome.ok());
    EXPECT_EQ(codeOf(outcome), NetworkError::Code::connectionLost);
    EXPECT_FALSE(outcome.errorText().empty());
}

TEST(QtNetworkTransport, SilentServerTimesOut)
{
    RawHTTPServer server([](QTcpSocket&, const QByteArray&) { });
    QElapsedTimer clock;
    clock.start();
    auto outcome = fetch(server.url(), false, 300ms);
    ASSERT_FALSE(outcome.ok());
    ASSERT_FALSE(outcome.timedOut);
    EXPECT_EQ(codeOf(outcome), NetworkError::Code::timedOut);
    EXPECT_GE(clock.elapsed(), 250);
    EXPECT_TRUE(server.waitUntilClosed());
}

TEST(QtNetworkTransport, TricklingServerTimesOutAtTheDeadline)
{
    // A byte every 50 ms keeps the transfer alive; the whole-exchange limit ends it.
    QTimer drip;
    std::vector<QTcpSocket*> sockets;
    QObject::connect(&drip, &QTimer::timeout, [&] {
        for (QTcpSocket* socket : sockets)
            socket->write(" ");
    });
    RawHTTPServer server([&](QTcpSocket& socket, const QByteArray&) {
        socket.write("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n");
        sockets.push_back(&socket);
        drip.start(50ms);
    });
    auto outcome = fetch(server.url(), false, 400ms);
    ASSERT_FALSE(outcome.ok());
    EXPECT_EQ(codeOf(outcome), NetworkError::Code::timedOut);
    EXPECT_EQ(outcome.errorText(), "The request timed out");
    drip.stop();
    EXPECT_TRUE(server.waitUntilClosed());
}

TEST(QtNetworkTransport, HugeBodiesFailReadably)
{
    RawHTTPServer server([](QTcpSocket& socket, const QByteArray&) {
        socket.write("HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(QtNetworkTransport::maxBodyBytes + 1)
            + "\r\n\r\n" + QByteArray(64 * 1024, 'x'));
    });
    auto outcome = fetch(server.url());
    ASSERT_FALSE(outcome.ok());
    EXPECT_EQ(codeOf(outcome), NetworkError::Code::badServerResponse);
    EXPECT_EQ(outcome.errorText(), "The response is larger than 16 MiB");
    EXPECT_TRUE(server.waitUntilClosed());
}

TEST(QtNetworkTransport, GarbageInsteadOfHTTPIsAFinalFailure)
{
    RawHTTPServer server([](QTcpSocket& socket, const QByteArray&) {
        socket.write("<html>hello</html>\r\n\r\n");
        socket.disconnectFromHost();
    });
    auto outcome = fetch(server.url());
    ASSERT_FALSE(outcome.ok());
    EXPECT_NO_THROW(codeOf(outcome));
    EXPECT_FALSE(outcome.errorText().empty());
}

TEST(QtNetworkTransport, RefusedConnectionAndUnsupportedURLs)
{
    quint16 closedPort = 0;
    {
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
        closedPort = probe.serverPort();
    }
    auto refused = fetch(QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(closedPort)));
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(codeOf(refused), NetworkError::Code::cannotConnect);

    for (const char* url : { "file:///etc/passwd", "ftp://example.test/x", "not a url", "http:///nohost" }) {
        auto outcome = fetch(QUrl(url));
        ASSERT_FALSE(outcome.ok()) << url;
        EXPECT_EQ(codeOf(outcome), NetworkError::Code::other) << url;
        EXPECT_TRUE(outcome.errorText().starts_with("Unsupported URL")) << url;
    }
}

TEST(QtNetworkTransport, StopAbortsAnOngoingRequestAtOnce)
{
    // Stopped once the request is on the wire and the server keeps silent.
    std::stop_source source;
    RawHTTPServer server([&source](QTcpSocket&, const QByteArray&) { source.request_stop(); });
    QElapsedTimer clock;
    clock.start();
    auto outcome = fetch(server.url(), false, 20s, source.get_token());
    ASSERT_FALSE(outcome.timedOut);
    EXPECT_THROW(outcome.rethrow(), CancellationError);
    EXPECT_LT(clock.elapsed(), 10000);
    EXPECT_TRUE(server.waitUntilClosed());
}

TEST(QtNetworkTransport, PlatformClientRetriesOverRealSockets)
{
    int served = 0;
    RawHTTPServer server([&served](QTcpSocket& socket, const QByteArray&) {
        ++served;
        if (served == 1)
            socket.write(rawResponse(503, "Busy", "busy", "Retry-After: 0\r\n"));
        else
            socket.write(rawResponse(200, "OK", "fine"));
    });
    HTTPClient client = HTTPClient::platform(3, 0.3, 10, true);
    HTTPRequest request;
    request.url = server.url();
    auto outcome = waitForTask(client.send(request, true));
    ASSERT_TRUE(outcome.ok()) << outcome.errorText();
    EXPECT_EQ(outcome.value->status, 200);
    EXPECT_EQ(served, 2);
}

} // namespace
