// Fault injection, revocation and latency of the stand-in, over real sockets.
#include "DevServerProcess.h"
#include "HTTPTestClient.h"

#include "Balance.h"
#include "VelmoJSON.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace velmo::test;
using Json = nlohmann::json;

namespace {

class DevServerFaultTest : public ::testing::Test {
protected:
    DevServerProcess server { { "--quiet" } };
    DevServerProcess::Session session = server.issueSession();
    httplib::Client client = http::client(server, std::chrono::seconds(2));

    httplib::Result balance() { return client.Get("/v1/credits/balance", http::bearer(session.accessToken)); }
};

} // namespace

TEST_F(DevServerFaultTest, TheNextNAnswersGetTheStatusAndRetryAfter)
{
    server.injectStatus("balance", 503, 2, 7);
    for (int i = 0; i < 2; ++i) {
        auto res = balance();
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 503);
        EXPECT_EQ(res->get_header_value("Retry-After"), "7");
        EXPECT_EQ(Json::parse(res->body), (Json { { "error", { { "message", "Service Unavailable" } } } }));
    }
    auto third = balance();
    ASSERT_TRUE(third);
    EXPECT_EQ(third->status, 200);
    EXPECT_FALSE(third->has_header("Retry-After"));

    const Json counters = server.counters();
    EXPECT_EQ(counters["faults_served"]["balance"], 2);
    EXPECT_EQ(counters["requests"]["balance"], 3);
}

TEST_F(DevServerFaultTest, FaultsQueueInOrderAndOnlyHitTheirEndpoint)
{
    server.injectStatus("usage", 500);
    server.injectStatus("usage", 429, 1, 3);
    auto untouched = balance();
    ASSERT_TRUE(untouched);
    EXPECT_EQ(untouched->status, 200);
    const std::string path = "/v1/usage?start_time=0&end_time=86400&bucket_width=1d&scope=key";
    auto first = client.Get(path, http::bearer(session.accessToken));
    auto second = client.Get(path, http::bearer(session.accessToken));
    auto third = client.Get(path, http::bearer(session.accessToken));
    ASSERT_TRUE(first && second && third);
    EXPECT_EQ(first->status, 500);
    EXPECT_EQ(second->status, 429);
    EXPECT_EQ(second->get_header_value("Retry-After"), "3");
    EXPECT_EQ(third->status, 200);
}

TEST_F(DevServerFaultTest, EveryErrorBodyShapeTheClientReads)
{
    const struct {
        Json fault;
        std::string body;
        std::string contentType;
    } cases[] = {
        { { { "shape", "nested" }, { "message", "token expired" } }, R"({"error":{"message":"token expired"}})",
            "application/json" },
        { { { "shape", "error" }, { "message", "boom" } }, R"({"error":"boom"})", "application/json" },
        { { { "shape", "message" }, { "message", "slow down" } }, R"({"message":"slow down"})", "application/json" },
        { { { "shape", "text" }, { "message", "upstream failed\n" } }, "upstream failed\n", "text/plain" },
        { { { "shape", "empty" } }, "", "" },
        { { { "body", R"({"detail":"x"})" } }, R"({"detail":"x"})", "application/json" },
        { { { "kind", "html" } }, "", "text/html" },
    };
    for (auto c : cases) {
        SCOPED_TRACE(c.fault.dump());
        c.fault["endpoint"] = "balance";
        if (!c.fault.contains("kind"))
            c.fault["status"] = 500;
        server.injectFault(c.fault);
        auto res = balance();
        ASSERT_TRUE(res);
        if (c.fault.value("kind", "") == "html") {
            EXPECT_EQ(res->status, 502);
            EXPECT_NE(res->body.find("<html>"), std::string::npos);
        } else {
            EXPECT_EQ(res->status, 500);
            EXPECT_EQ(res->body, c.body);
        }
        EXPECT_EQ(res->get_header_value("Content-Type").substr(0, c.contentType.size()), c.contentType);
    }
}

TEST_F(DevServerFaultTest, GarbageBodiesFailTheClientsDecoder)
{
    server.injectFault({ { "endpoint", "balance" }, { "kind", "garbage" } });
    auto res = balance();
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    EXPECT_THROW(VelmoJSON::decode<Balance>(res->body), VelmoJSON::DecodingError);
}

TEST_F(DevServerFaultTest, ADroppedConnectionIsATransportError)
{
    server.injectFault({ { "endpoint", "balance" }, { "kind", "drop" } });
    auto dropped = balance();
    EXPECT_FALSE(dropped);
    auto next = balance();
    ASSERT_TRUE(next);
    EXPECT_EQ(next->status, 200);
}

TEST_F(DevServerFaultTest, AHeldRequestNeverAnswersUntilReleased)
{
    server.injectFault({ { "endpoint", "token" }, { "kind", "hang" }, { "hold_ms", 600'000 } });
    auto held = client.Post("/oauth/token", "grant_type=refresh_token", "application/x-www-form-urlencoded");
    ASSERT_FALSE(held);
    EXPECT_EQ(held.error(), httplib::Error::Read);
    // A reset releases the held worker and clears the queue.
    server.reset();
    EXPECT_EQ(server.counters()["requests"]["token"], 0);
    auto after = client.Post("/oauth/token", "grant_type=x", "application/x-www-form-urlencoded");
    ASSERT_TRUE(after);
    EXPECT_EQ(after->status, 400);
}

TEST_F(DevServerFaultTest, AShortHoldEndsInA504)
{
    server.injectFault({ { "endpoint", "balance" }, { "kind", "hang" }, { "hold_ms", 50 } });
    auto res = balance();
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 504);
}

TEST_F(DevServerFaultTest, RevokingAccessTokensKeepsRefreshTokensUnlessAsked)
{
    EXPECT_EQ(server.revokeAccessTokens(), 1);
    auto revoked = balance();
    ASSERT_TRUE(revoked);
    EXPECT_EQ(revoked->status, 401);
    EXPECT_EQ(Json::parse(revoked->body)["error"]["message"], "access token revoked");

    const std::string form = http::form(
        { { "grant_type", "refresh_token" }, { "refresh_token", session.refreshToken }, { "client_id", "velmo-cli" } });
    auto renewed = client.Post("/oauth/token", form, "application/x-www-form-urlencoded");
    ASSERT_TRUE(renewed);
    ASSERT_EQ(renewed->status, 200);
    const Json tokens = Json::parse(renewed->body);
    auto ok = client.Get("/v1/credits/balance", http::bearer(tokens["access_token"]));
    ASSERT_TRUE(ok);
    EXPECT_EQ(ok->status, 200);

    EXPECT_EQ(server.revokeAccessTokens(true), 1);
    const std::string again = http::form({ { "grant_type", "refresh_token" },
        { "refresh_token", tokens["refresh_token"].get<std::string>() }, { "client_id", "velmo-cli" } });
    auto refused = client.Post("/oauth/token", again, "application/x-www-form-urlencoded");
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 400);
    EXPECT_EQ(Json::parse(refused->body)["error_description"], "the refresh token has been revoked");
}

TEST_F(DevServerFaultTest, LatencyDelaysAnswersPastAClientTimeout)
{
    server.setLatency(5'000, "balance");
    auto late = balance(); // the client gives up after 2 s
    ASSERT_FALSE(late);
    EXPECT_EQ(late.error(), httplib::Error::Read);

    server.setLatency(300, "balance");
    const auto started = std::chrono::steady_clock::now();
    auto delayed = balance();
    ASSERT_TRUE(delayed);
    EXPECT_EQ(delayed->status, 200);
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(300));

    server.setLatency(0, "balance");
    auto prompt = balance();
    ASSERT_TRUE(prompt);
    EXPECT_EQ(prompt->status, 200);
}

TEST_F(DevServerFaultTest, ResetForgetsSessionsFaultsAndCounters)
{
    server.injectStatus("balance", 500, -1);
    server.reset();
    auto res = balance();
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 401); // the session is gone, and so is the fault
    EXPECT_EQ(server.counters()["faults_served"]["balance"], 0);
}

TEST_F(DevServerFaultTest, AdminMisuseIsA400WithAMessage)
{
    const struct {
        std::string path;
        std::string body;
    } cases[] = {
        { "/admin/fault", R"({"endpoint":"nowhere"})" },
        { "/admin/fault", R"({"endpoint":"balance","kind":"explode"})" },
        { "/admin/fault", R"({"endpoint":"balance","status":99})" },
        { "/admin/fault", R"({"endpoint":"balance","count":0})" },
        { "/admin/fault", R"({"endpoint":"balance","retry_after":"1\r\nX-Evil: 1"})" },
        { "/admin/latency", R"({"ms":-5})" },
        { "/admin/config", R"({"expires_in":"soon"})" },
        { "/admin/config", R"({"no_such_key":1})" },
        { "/admin/session", R"({"expires_in":-1})" },
        { "/admin/revoke", "[1,2]" },
        { "/admin/balance", R"({"balance":3})" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path + " " + c.body);
        auto res = client.Post(c.path, c.body, "application/json");
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 400);
        EXPECT_TRUE(Json::parse(res->body)["error"]["message"].is_string());
    }
    // Nothing was queued by the refused calls.
    auto ok = balance();
    ASSERT_TRUE(ok);
    EXPECT_EQ(ok->status, 200);
}

TEST_F(DevServerFaultTest, ABalanceOverrideIsServedAsGiven)
{
    const Json low { { "account_balance_micros_usd", 1'000'000 } };
    server.admin("POST", "/admin/balance", { { "balance", low } });
    auto res = balance();
    ASSERT_TRUE(res);
    EXPECT_EQ(Json::parse(res->body), low);
    EXPECT_TRUE(VelmoJSON::decode<Balance>(res->body).isLow());
}

TEST(DevServerCommandLineFaultTest, FaultsFromTheCommandLineApplyFromTheStart)
{
    DevServerProcess server({ "--quiet", "--fault", "balance:429:1:9", "--fault", R"({"endpoint":"balance","kind":"garbage"})" });
    const auto session = server.issueSession();
    auto client = http::client(server);
    auto first = client.Get("/v1/credits/balance", http::bearer(session.accessToken));
    auto second = client.Get("/v1/credits/balance", http::bearer(session.accessToken));
    auto third = client.Get("/v1/credits/balance", http::bearer(session.accessToken));
    ASSERT_TRUE(first && second && third);
    EXPECT_EQ(first->status, 429);
    EXPECT_EQ(first->get_header_value("Retry-After"), "9");
    EXPECT_EQ(second->status, 200);
    EXPECT_THROW(VelmoJSON::decode<Balance>(second->body), VelmoJSON::DecodingError);
    EXPECT_EQ(third->status, 200);
    EXPECT_NO_THROW(VelmoJSON::decode<Balance>(third->body));
}
