// The controller's own rules with a scripted provider; whole sign-ins (saved,
// announced, refused, failing to save) are in BrowserSignInTest.
#include "LoginController.h"

#include "FakeCredentialStore.h"
#include "FakeHTTPTransport.h"
#include "LogCapture.h"
#include "LoopbackTestClient.h"

#include <gtest/gtest.h>

using velmo::test::callbackPort;
using velmo::test::spinUntil;

namespace {

// Approves at once in the browser when told to.
void approve(const QUrl& url)
{
    velmo::test::exchange(callbackPort(url), "GET /callback?state=" + velmo::test::queryItem(url, "state").toUtf8() + "&code=the-code HTTP/1.1\r\n\r\n");
}

struct Fixture {
    std::shared_ptr<velmo::test::FakeHTTPTransport> transport = std::make_shared<velmo::test::FakeHTTPTransport>();
    std::shared_ptr<velmo::test::FakeCredentialStore> store = std::make_shared<velmo::test::FakeCredentialStore>();
    std::vector<QUrl> opened;
    bool approves = false;
    int announced = 0;

    std::unique_ptr<LoginController> controller()
    {
        OAuthConfig config = OAuthConfig::velmo();
        config.authServer = QUrl("https://auth.example.com");
        auto made = std::make_unique<LoginController>(store, OAuthLogin(config, HTTPClient(transport, 3, 0.3, 30)), [this](const QUrl& url) {
            opened.push_back(url);
            if (approves)
                approve(url);
            return true;
        });
        made->setOnSignedIn([this] { ++announced; });
        return made;
    }
    void scriptSuccess()
    {
        transport->respond(201, R"({"client_id":"cid"})");
        transport->respond(200, R"({"access_token":"access-token-1","refresh_token":"rt","expires_in":3600})");
    }
};

} // namespace

TEST(LoginController, CancelIsImmediateAndFinalInEveryStepAndAFlowOutlivesItsController)
{
    for (const bool duringExchange : { false, true }) {
        SCOPED_TRACE(duringExchange ? "exchange" : "browser");
        Fixture f;
        f.transport->respond(201, R"({"client_id":"first"})");
        if (duringExchange)
            f.transport->hang();
        f.approves = duringExchange;
        auto controller = f.controller();
        velmo::test::LogCapture log;
        controller->signIn();
        ASSERT_TRUE(spinUntil([&] { return f.transport->requests.size() == (duringExchange ? 2u : 1u) && !f.opened.empty(); }));
        controller->cancel();
        EXPECT_FALSE(controller->isSigningIn());
        EXPECT_FALSE(controller->errorMessage().has_value());
        // The abandoned flow ends at once (no 900 s wait), closes its port
        // and saves nothing.
        EXPECT_TRUE(spinUntil([&] { return log.mentions("browser sign-in failed: Cancelled"); }));
        EXPECT_TRUE(velmo::test::refused(callbackPort(f.opened[0])));
        EXPECT_EQ(f.store->saves, 0);
        // A new sign-in is accepted and is not disturbed by the old flow's end.
        f.scriptSuccess();
        f.approves = true;
        controller->signIn();
        ASSERT_TRUE(spinUntil([&] { return f.announced == 1 && !controller->isSigningIn(); }));
        EXPECT_FALSE(controller->errorMessage().has_value());
        EXPECT_EQ(f.store->tokens->clientId, "cid");
    }
    // A flow outlives its controller: it saves the session and announces nothing.
    Fixture f;
    f.scriptSuccess();
    auto controller = f.controller();
    controller->signIn();
    ASSERT_TRUE(spinUntil([&] { return !f.opened.empty(); }));
    controller.reset();
    approve(f.opened[0]);
    EXPECT_TRUE(spinUntil([&] { return f.store->tokens.has_value(); }));
    EXPECT_EQ(f.announced, 0);
}
