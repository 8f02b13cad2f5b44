// Browser sign-in end to end against velmo-devserver.
#include "AsyncTask.h"
#include "AsyncWait.h"
#include "CredentialResolver.h"
#include "DevServerProcess.h"
#include "FakeCredentialStore.h"
#include "LogCapture.h"
#include "LoginController.h"
#include "LoopbackTestClient.h"
#include "TestSupport.h"
#include "TokenCoordinator.h"

#include <gtest/gtest.h>


using namespace std::chrono_literals;
using velmo::test::spinUntil;
using velmo::test::waitForTask;

namespace {

// A browser over real sockets: it opens the authorization URL and follows
// the provider's redirect (the stand-in answers at once, no consent page) to
// the loopback port.
struct RealBrowser {
    HTTPClient http = HTTPClient::platform(1, 0.3, 30, false);
    QUrl opened;
    HTTPResponse page;
    bool done = false;

    static QCoro::Task<> visit(RealBrowser* self, QUrl authorizationURL)
    {
        HTTPRequest request;
        request.url = authorizationURL;
        auto authorizing = self->http.send(request, true);
        const HTTPResponse redirect = co_await std::move(authorizing);
        request.url = QUrl(QString::fromUtf8(redirect.header("Location").value_or("")));
        auto following = self->http.send(request, true);
        self->page = co_await std::move(following);
        self->done = true;
    }
    LoginController::BrowserOpener opener()
    {
        return [this](const QUrl& url) {
            opened = url;
            startDetached(visit(this, url), [this](std::exception_ptr) { done = true; });
            return true;
        };
    }
};

} // namespace

TEST(BrowserSignIn, EndToEndAgainstTheStandInProvider)
{
    // error: "" for a stored session
    const struct { const char* scenario; nlohmann::json config; bool saveFails; std::string error; int page; } cases[] = {
        { "approved", { { "authorize", "approve" } }, false, "", 200 },
        { "denied", { { "authorize", "deny" } }, false, "Authorization failed: The user denied the request", 400 },
        { "cannot save", { { "authorize", "approve" } }, true, "keyring write refused", 200 },
    };
    velmo::test::DevServerProcess server({ "--quiet" });
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        server.reset();
        server.setConfig(c.config);
        RealBrowser browser;
        OAuthConfig config = OAuthConfig::velmo();
        config.authServer = server.baseURL();
        auto store = std::make_shared<velmo::test::FakeCredentialStore>();
        store->failSave = c.saveFails;
        LoginController controller(store, OAuthLogin(config, HTTPClient::platform(3, 0.3, 30, true)), browser.opener());
        int announced = 0;
        controller.setOnSignedIn([&] { announced += store->tokens ? 1 : 100; });
        velmo::test::LogCapture log;
        controller.signIn();
        controller.signIn(); // already running: nothing new
        ASSERT_TRUE(spinUntil([&] { return !controller.isSigningIn() && browser.done; }, 30s));
        EXPECT_EQ(controller.errorMessageText().toStdString(), c.error);
        EXPECT_EQ(browser.page.status, c.page);
        EXPECT_EQ(log.count(QString::fromStdString("browser sign-in failed: " + c.error), QtCriticalMsg), c.error.empty() ? 0 : 1);
        // The port is closed however the flow ended; only a saved session is announced.
        EXPECT_TRUE(velmo::test::refused(velmo::test::callbackPort(browser.opened)));
        EXPECT_EQ(announced, c.error.empty() ? 1 : 0);
        EXPECT_EQ(server.counters()["registrations"], 1);
        if (!c.error.empty())
            continue;
        EXPECT_TRUE(browser.page.data.contains("<h1>Signed in</h1>"));
        EXPECT_EQ(browser.page.header("Content-Type"), "text/html; charset=utf-8");
        // Logged masked, never whole.
        const QString token = QString::fromStdString(store->tokens->accessToken);
        EXPECT_EQ(log.count("browser sign-in complete, session " + token.left(4) + "\u2026" + token.right(4) + " stored", QtInfoMsg), 1);
        EXPECT_FALSE(log.mentions(token));
        // The rest of the system takes it from here: the session resolves and renews.
        velmo::test::ScratchDir home;
        const CLICredentialReader reader(home.path().toStdString());
        const auto credential = CredentialResolver(store, reader).resolve();
        ASSERT_TRUE(credential && credential->canRefresh());
        EXPECT_EQ(credential->clientID, velmo::test::queryItem(browser.opened, "client_id").toStdString());
        const TokenCoordinator coordinator(store, reader, HTTPClient::platform(1, 0.3, 30, false), server.baseURL(), 40);
        const auto renewed = waitForTask(coordinator.refreshAfterUnauthorized(*credential), 30s);
        ASSERT_TRUE(renewed.ok() && renewed.value->has_value()) << renewed.errorText();
        EXPECT_EQ(store->tokens->accessToken, (*renewed.value)->token);
        EXPECT_NE((*renewed.value)->token, credential->token);
    }
}
