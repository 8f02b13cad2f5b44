// The production transport over real loopback sockets. VelmoClient's own
// behaviour over the same transport is covered against the devserver.
#include "AsyncWait.h"
#include "Cancellation.h"
#include "NetworkError.h"
#include "QtNetworkTransport.h"
#include "RawHTTPServer.h"
#include "Thrown.h"

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
    request.headers = { { "x-velmo-source", "tests" } };
    request.timeout = timeout;
    return waitForTask(transport.send(request, stop), 20s);
}

NetworkError::Code codeOf(const velmo::test::TaskOutcome<HTTPResponse>& o) { return thrown<NetworkError>(o.error).code(); }

// Failing statuses reach the client as answers too: the headless process tests
// show a server's 500 page over this transport.
TEST(QtNetworkTransport, AnswersCarryBodyAndHeadersAndTheRequestItsHeaders)
{
    RawHTTPServer server([](QTcpSocket& socket, const QByteArray&) {
        socket.write(rawResponse(200, "Whatever", "body", "X-Extra: a\r\n"));
    });
    auto ok = fetch(server.url("/v1/credits/balance"));
    ASSERT_TRUE(ok.ok()) << ok.errorText();
    EXPECT_EQ(ok.value->status, 200);
    EXPECT_EQ(ok.value->data, "body");
    EXPECT_EQ(ok.value->header("x-extra"), QByteArray("a"));
    EXPECT_TRUE(server.heads.at(0).startsWith("GET /v1/credits/balance HTTP/1.1"));
    EXPECT_TRUE(server.heads.at(0).contains("x-velmo-source: tests"));
}

TEST(QtNetworkTransport, RedirectsAreReturnedUnlessFollowedAndNeverLeaveTheOrigin)
{
    RawHTTPServer other([](QTcpSocket& socket, const QByteArray&) { socket.write(rawResponse(200, "OK", "stolen")); });
    const QByteArray elsewhere = QStringLiteral("http://localhost:%1/").arg(other.port()).toUtf8();
    RawHTTPServer server([&](QTcpSocket& socket, const QByteArray& head) {
        if (head.startsWith("GET /old"))
            socket.write(rawResponse(302, "Found", "moved", "Location: /new\r\n"));
        else if (head.startsWith("GET /away"))
            socket.write(rawResponse(301, "Moved", {}, "Location: " + elsewhere + "\r\n"));
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
    EXPECT_EQ(followed.value->data, "new place");

    auto away = fetch(server.url("/away"), true);
    EXPECT_EQ(codeOf(away), NetworkError::Code::badServerResponse);
    EXPECT_EQ(away.errorText(), "Redirect to another origin refused");
    EXPECT_TRUE(other.heads.empty());
}

TEST(QtNetworkTransport, BrokenAnswersAreReadableFailures)
{
    const QByteArray oversized = "HTTP/1.1 200 OK\r\nContent-Length: "
        + QByteArray::number(QtNetworkTransport::maxBodyBytes + 1) + "\r\n\r\n" + QByteArray(64 * 1024, 'x');
    const std::tuple<QByteArray, std::optional<NetworkError::Code>, std::string> cases[] = {
        { "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n{\"partial\":", NetworkError::Code::connectionLost, "" },
        { oversized, NetworkError::Code::badServerResponse, "The response is larger than 16 MiB" },
        { "<html>hello</html>\r\n\r\n", std::nullopt, "" }, // not HTTP at all: some NetworkError
    };
    for (const auto& [raw, code, text] : cases) {
        RawHTTPServer server([&raw = raw, &oversized](QTcpSocket& socket, const QByteArray&) {
            socket.write(raw);
            if (raw != oversized) {
                socket.flush();
                socket.disconnectFromHost();
            }
        });
        auto outcome = fetch(server.url());
        ASSERT_FALSE(outcome.ok());
        EXPECT_EQ(codeOf(outcome), code.value_or(codeOf(outcome))) << outcome.errorText();
        EXPECT_EQ(outcome.errorText(), text.empty() ? outcome.errorText() : text);
        EXPECT_FALSE(outcome.errorText().empty());
    }
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
    ASSERT_FALSE(outcome.timedOut);
    EXPECT_EQ(codeOf(outcome), NetworkError::Code::timedOut);
    EXPECT_EQ(outcome.errorText(), "The request timed out");
    drip.stop();
    EXPECT_TRUE(server.waitUntilClosed());
}

TEST(QtNetworkTransport, RefusedConnectionAndUnsupportedURLs)
{
    quint16 closedPort = 0;
    {
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
        closedPort = probe.serverPort();
    }
    EXPECT_EQ(codeOf(fetch(QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(closedPort)))),
        NetworkError::Code::cannotConnect);
    for (const char* url : { "file:///etc/passwd", "ftp://example.test/x", "not a url", "http:///nohost" }) {
        auto outcome = fetch(QUrl(url));
        EXPECT_EQ(codeOf(outcome), NetworkError::Code::other) << url;
        EXPECT_TRUE(outcome.errorText().starts_with("Unsupported URL")) << url;
    }
}

TEST(QtNetworkTransport, StopAbortsAnOngoingRequest)
{
    // Stopped once the request is on the wire and the server keeps silent.
    std::stop_source source;
    RawHTTPServer server([&source](QTcpSocket&, const QByteArray&) { source.request_stop(); });
    auto outcome = fetch(server.url(), false, 20s, source.get_token());
    ASSERT_FALSE(outcome.timedOut);
    EXPECT_THROW(outcome.rethrow(), CancellationError);
    EXPECT_TRUE(server.waitUntilClosed());
}

} // namespace
