// Fault injection, revocation and latency of the stand-in, over real sockets.
#include "DevServerProcess.h"
#include "HTTPTestClient.h"

#include "Balance.h"
#include "FaultPlan.h"
#include "VelmoJSON.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace velmo::test;
using velmo::devserver::errorBody;
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
        ASSERT_EQ(http::statusOf(res), 503);
        EXPECT_EQ(res->get_header_value("Retry-After"), "7");
        EXPECT_EQ(Json::parse(res->body), (Json { { "error", { { "message", "Service Unavailable" } } } }));
    }
    auto third = balance();
    ASSERT_EQ(http::statusOf(third), 200);
    EXPECT_FALSE(third->has_header("Retry-After"));

    const Json counters = server.counters();
    EXPECT_EQ(counters["faults_served"]["balance"], 2);
    EXPECT_EQ(counters["requests"]["balance"], 3);
}

TEST_F(DevServerFaultTest, FaultsQueueInOrderAndOnlyHitTheirEndpoint)
{
    server.injectStatus("usage", 500);
    server.injectStatus("usage", 429, 1, 3);
    ASSERT_EQ(http::statusOf(balance()), 200);
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

TEST_F(DevServerFaultTest, ErrorBodyShapesArriveAsWritten)
{
    // Every shape's text is checked in-process in FaultPlanTest.
    for (const char* shape : { "nested", "text", "empty" }) {
        SCOPED_TRACE(shape);
        server.injectFault({ { "endpoint", "balance" }, { "status", 500 }, { "shape", shape }, { "message", "m" } });
        auto res = balance();
        ASSERT_EQ(http::statusOf(res), 500);
        EXPECT_EQ(res->body, errorBody(shape, "m").first);
    }
}

TEST_F(DevServerFaultTest, ProxyPagesGarbageAndDroppedAnswers)
{
    server.injectFault({ { "endpoint", "balance" }, { "kind", "html" } });
    server.injectFault({ { "endpoint", "balance" }, { "kind", "garbage" } });
    server.injectFault({ { "endpoint", "balance" }, { "kind", "drop" } });
    auto html = balance();
    ASSERT_EQ(http::statusOf(html), 502);
    EXPECT_NE(html->get_header_value("Content-Type").find("text/html"), std::string::npos);
    auto garbage = balance();
    ASSERT_EQ(http::statusOf(garbage), 200);
    EXPECT_THROW(VelmoJSON::decode<Balance>(garbage->body), VelmoJSON::DecodingError);
    EXPECT_FALSE(balance());
    ASSERT_EQ(http::statusOf(balance()), 200);
}

TEST_F(DevServerFaultTest, AHeldRequestNeverAnswersUntilAResetForgetsEverything)
{
    server.injectFault({ { "endpoint", "token" }, { "kind", "hang" }, { "hold_ms", 600'000 } });
    server.injectStatus("balance", 500, -1);
    auto held = client.Post("/oauth/token", "grant_type=refresh_token", "application/x-www-form-urlencoded");
    ASSERT_FALSE(held);
    EXPECT_EQ(held.error(), httplib::Error::Read);
    // A reset releases the held worker and clears faults, sessions and counters.
    server.reset();
    EXPECT_EQ(server.counters()["requests"]["token"], 0);
    ASSERT_EQ(http::statusOf(client.Post("/oauth/token", "grant_type=x", "application/x-www-form-urlencoded")), 400);
    ASSERT_EQ(http::statusOf(balance()), 401);
}

TEST_F(DevServerFaultTest, RevokingAccessTokensKeepsRefreshTokensUnlessAsked)
{
    EXPECT_EQ(server.revokeAccessTokens(), 1);
    ASSERT_EQ(http::statusOf(balance()), 401);

    const std::string form = http::form(
        { { "grant_type", "refresh_token" }, { "refresh_token", session.refreshToken }, { "client_id", "velmo-cli" } });
    auto renewed = client.Post("/oauth/token", form, "application/x-www-form-urlencoded");
    ASSERT_EQ(http::statusOf(renewed), 200);
    const Json tokens = Json::parse(renewed->body);

    EXPECT_EQ(server.revokeAccessTokens(true), 1);
    const std::string again = http::form({ { "grant_type", "refresh_token" },
        { "refresh_token", tokens["refresh_token"].get<std::string>() }, { "client_id", "velmo-cli" } });
    auto refused = client.Post("/oauth/token", again, "application/x-www-form-urlencoded");
    ASSERT_EQ(http::statusOf(refused), 400);
    EXPECT_EQ(Json::parse(refused->body)["error_description"], "the refresh token has been revoked");
}

TEST_F(DevServerFaultTest, AdminMisuseIsA400WithAMessage)
{
    const struct {
        std::string path;
        std::string body;
    } cases[] = {
        { "/admin/fault", R"({"endpoint":"nowhere"})" },
        { "/admin/fault", R"({"endpoint":"balance","kind":"explode"})" },
        { "/admin/fault", R"({"endpoint":"balance","retry_after":"1\r\nX-Evil: 1"})" },
        { "/admin/latency", R"({"ms":-5})" },
        { "/admin/config", R"({"expires_in":"soon"})" },
        { "/admin/revoke", "[1,2]" },
        { "/admin/balance", R"({"balance":3})" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path + " " + c.body);
        auto res = client.Post(c.path, c.body, "application/json");
        ASSERT_EQ(http::statusOf(res), 400);
        EXPECT_TRUE(Json::parse(res->body)["error"]["message"].is_string());
    }
    // Nothing was queued by the refused calls.
    ASSERT_EQ(http::statusOf(balance()), 200);
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
