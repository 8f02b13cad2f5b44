// VelmoClient over the production transport and real loopback sockets.
#include "AsyncWait.h"
#include "RawHTTPServer.h"
#include "VelmoClient.h"
#include "VelmoError.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using velmo::test::RawHTTPServer;
using velmo::test::rawResponse;
using velmo::test::waitForTask;

namespace {

const QByteArray balanceBody = R"({"account_balance_micros_usd":7000000,"available_balance_micros_usd":7000000})";

VelmoClient clientFor(const RawHTTPServer& server, double timeout = 10)
{
    return VelmoClient(server.url("/v1/"), HTTPClient::platform(3, 0.01, timeout, true));
}

VelmoError velmoError(const velmo::test::TaskOutcome<Balance>& outcome)
{
    try {
        outcome.rethrow();
    } catch (const VelmoError& error) {
        return error;
    }
    throw std::logic_error("expected a VelmoError, got: " + outcome.errorText());
}

TEST(VelmoClientSocket, FetchesTheBalanceWithItsHeaders)
{
    RawHTTPServer server([](QTcpSocket& socket, const QByteArray&) {
        socket.write(rawResponse(200, "OK", balanceBody, "Content-Type: application/json\r\n"));
    });
    auto outcome = waitForTask(clientFor(server).balance("tok-123"));
    ASSERT_TRUE(outcome.ok()) << outcome.errorText();
    EXPECT_EQ(outcome.value->accountBalance, MicrosUSD { 7'000'000 });
    ASSERT_EQ(server.heads.size(), 1u);
    const QByteArray& head = server.heads[0];
    EXPECT_TRUE(head.startsWith("GET /v1/credits/balance HTTP/1.1\r\n")) << head.toStdString();
    EXPECT_TRUE(head.contains("\r\nAuthorization: Bearer tok-123\r\n"));
    EXPECT_TRUE(head.contains("\r\nx-velmo-source: menubar\r\n"));
    EXPECT_TRUE(head.contains("\r\nAccept: application/json\r\n"));
}

TEST(VelmoClientSocket, RejectedTokenCarriesTheServersMessage)
{
    RawHTTPServer server([](QTcpSocket& socket, const QByteArray&) {
        socket.write(rawResponse(401, "Unauthorized", R"({"error":{"message":"token expired"}})",
            "WWW-Authenticate: Bearer\r\nContent-Type: application/json\r\n"));
    });
    auto outcome = waitForTask(clientFor(server).balance("tok"));
    const VelmoError error = velmoError(outcome);
    EXPECT_STREQ(error.what(), "Credential rejected: token expired");
    EXPECT_TRUE(error.isCredentialProblem());
    EXPECT_EQ(server.heads.size(), 1u);
}

TEST(VelmoClientSocket, RetriesAServiceUnavailableAnswer)
{
    RawHTTPServer server([&](QTcpSocket& socket, const QByteArray&) {
        if (server.heads.size() == 1)
            socket.write(rawResponse(503, "Service Unavailable", "<html>busy</html>"));
        else
            socket.write(rawResponse(200, "OK", balanceBody));
    });
    auto outcome = waitForTask(clientFor(server).balance("tok"));
    ASSERT_TRUE(outcome.ok()) << outcome.errorText();
    EXPECT_EQ(server.heads.size(), 2u);
}

TEST(VelmoClientSocket, SilentServerEndsInANetworkErrorAfterTheRetries)
{
    RawHTTPServer server([](QTcpSocket&, const QByteArray&) { });
    auto outcome = waitForTask(clientFor(server, 0.3).balance("tok"), 20s);
    ASSERT_FALSE(outcome.timedOut);
    const VelmoError error = velmoError(outcome);
    EXPECT_EQ(error.kind(), VelmoError::Kind::network);
    EXPECT_STREQ(error.what(), "Network error: The request timed out");
    EXPECT_EQ(server.heads.size(), 3u);
    EXPECT_TRUE(server.waitUntilClosed());
}

TEST(VelmoClientSocket, BadAnswersBecomeReadableErrors)
{
    struct Case {
        QByteArray raw;
        VelmoError::Kind kind;
        std::string text;
    };
    const std::vector<Case> cases {
        { rawResponse(502, "Bad Gateway", "\n<html><h1>502 Bad Gateway</h1></html>\n"), VelmoError::Kind::http, "502: <html><h1>502 Bad Gateway</h1></html>" },
        { rawResponse(404, "Not Found", ""), VelmoError::Kind::http, "404: not found" },
        { rawResponse(200, "OK", "<html>maintenance</html>"), VelmoError::Kind::decoding, "" },
        { rawResponse(200, "OK", ""), VelmoError::Kind::decoding, "" },
        // Cut off mid-answer, three times over.
        { "HTTP/1.1 200 OK\r\nContent-Length: 500\r\n\r\n{\"account_", VelmoError::Kind::network, "" },
    };
    for (const auto& c : cases) {
        RawHTTPServer server([&c](QTcpSocket& socket, const QByteArray&) {
            socket.write(c.raw);
            socket.disconnectFromHost();
        });
        auto outcome = waitForTask(clientFor(server).balance("tok"));
        const VelmoError error = velmoError(outcome);
        EXPECT_EQ(error.kind(), c.kind) << error.what();
        if (!c.text.empty()) {
            EXPECT_EQ(error.what(), c.text);
        }
        EXPECT_FALSE(error.message().empty()) << error.what();
    }
}

TEST(VelmoClientSocket, RedirectToAnotherHostIsNotFollowed)
{
    RawHTTPServer elsewhere([](QTcpSocket& socket, const QByteArray&) { socket.write(rawResponse(200, "OK", balanceBody)); });
    const QByteArray location = QStringLiteral("http://localhost:%1/v1/credits/balance").arg(elsewhere.port()).toUtf8();
    RawHTTPServer server([&location](QTcpSocket& socket, const QByteArray&) {
        socket.write(rawResponse(302, "Found", {}, "Location: " + location + "\r\n"));
    });
    auto outcome = waitForTask(clientFor(server).balance("tok"));
    const VelmoError error = velmoError(outcome);
    EXPECT_STREQ(error.what(), "Network error: Redirect to another origin refused");
    EXPECT_TRUE(elsewhere.heads.empty()); // the token never left for the other host
}

} // namespace
