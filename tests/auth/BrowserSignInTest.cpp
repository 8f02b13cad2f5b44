// Browser sign-in end to end against velmo-devserver: the "browser" is a real
// HTTP client that opens the authorization URL, approves on the consent page
// and follows the redirect to the loopback port.

#include "AsyncTask.h"
#include "AsyncWait.h"
#include "CLICredentialReader.h"
#include "CredentialResolver.h"
#include "DevServerProcess.h"
#include "InMemoryCredentialStore.h"
#include "LoginController.h"
#include "LoopbackTestClient.h"
#include "QtPrinters.h"
#include "TestSupport.h"
#include "TokenCoordinator.h"

#include <QUrlQuery>

#include <gtest/gtest.h>

#include <regex>

using namespace std::chrono_literals;
using velmo::test::DevServerProcess;
using velmo::test::LoopbackTestClient;
using velmo::test::spinUntil;
using velmo::test::waitForTask;

namespace {

QString item(const QUrl& url, const char* name)
{
    return QUrlQuery(url).queryItemValue(QString::fromLatin1(name), QUrl::FullyDecoded);
}

HTTPRequest get(const QUrl& url)
{
    HTTPRequest request;
    request.url = url;
    return request;
}

// A browser over real sockets. `tamper` may rewrite the provider's redirect
// before it is followed, as a forged or broken redirect would look.
struct RealBrowser {
    HTTPClient http = HTTPClient::platform(1, 0.3, 30, false);
    std::function<QUrl(QUrl)> tamper = [](QUrl url) { return url; };
    std::vector<QUrl> opened;
    QByteArray finalPage;
    int finalStatus = 0;
    std::string failure;
    bool done = false;

    static QCoro::Task<> visit(RealBrowser* self, QUrl authorizationURL)
    {
        HTTPResponse consent = co_await self->http.send(get(authorizationURL), true);
        QUrl redirect;
        if (consent.status == 200) {
            // The consent page's form: request=<id>&decision=approve.
            std::cmatch match;
            const std::regex hidden("name=\"request\" value=\"([^\"]+)\"");
            if (!std::regex_search(consent.data.constData(), match, hidden))
                throw std::runtime_error("no consent form");
            HTTPRequest decision;
            decision.method = "POST";
            decision.url = OAuthLogin::endpoint(authorizationURL.adjusted(QUrl::RemoveQuery | QUrl::RemovePath),
                                                "oauth/authorize/decision");
            decision.headers = { { "Content-Type", "application/x-www-form-urlencoded" } };
            decision.body = "request=" + QByteArray::fromStdString(match[1].str()) + "&decision=approve";
            consent = co_await self->http.send(decision, false);
        }
        if (consent.status != 302)
            throw std::runtime_error("the provider did not redirect: " + std::to_string(consent.status));
        redirect = self->tamper(QUrl(QString::fromUtf8(consent.header("Location").value_or(""))));
        const HTTPResponse page = co_await self->http.send(get(redirect), true);
        self->finalStatus = page.status;
        self->finalPage = page.data;
        self->done = true;
    }

    LoginController::BrowserOpener opener()
    {
        return [this](const QUrl& url) {
            opened.push_back(url);
            startDetached(visit(this, url), [this](std::exception_ptr error) {
                try {
                    std::rethrow_exception(error);
                } catch (const std::exception& e) {
                    failure = e.what();
                }
                done = true;
            });
            return true;
        };
    }
    quint16 port() const { return quint16(QUrl(item(opened.at(0), "redirect_uri")).port()); }
};

struct EndToEnd {
    DevServerProcess server;
    std::shared_ptr<InMemoryCredentialStore> store = std::make_shared<InMemoryCredentialStore>();
    velmo::test::ScratchDir home;
    RealBrowser browser;

    OAuthLogin login()
    {
        OAuthConfig config = OAuthConfig::velmo();
        config.authServer = server.baseURL();
        return OAuthLogin(config, HTTPClient::platform(3, 0.3, 30, true));
    }

    // The flow's error text, after its port is seen closed.
    std::string failingSignIn()
    {
        const auto outcome = waitForTask(login().signIn([this](const QUrl& url) { browser.opener()(url); }), 30s);
        EXPECT_FALSE(outcome.ok());
        EXPECT_FALSE(outcome.timedOut);
        // The browser's own requests end too before the test does.
        EXPECT_TRUE(spinUntil([this] { return browser.done; }, 30s));
        if (!browser.opened.empty()) {
            EXPECT_TRUE(LoopbackTestClient(browser.port()).refused());
        }
        return outcome.errorText();
    }
};

} // namespace

TEST(BrowserSignIn, ApprovedSignInIsStoredResolvedAndRenewable)
{
    EndToEnd e;
    LoginController controller(e.store, e.login(), e.browser.opener());
    int announced = 0;
    controller.setOnSignedIn([&] { ++announced; });
    controller.signIn();
    ASSERT_TRUE(spinUntil([&] { return !controller.isSigningIn(); }, 30s));
    ASSERT_FALSE(controller.errorMessage().has_value()) << controller.errorMessageText().toStdString();
    EXPECT_EQ(announced, 1);

    // The browser saw the success page.
    ASSERT_TRUE(spinUntil([&] { return e.browser.done; }, 30s));
    EXPECT_EQ(e.browser.finalStatus, 200);
    EXPECT_TRUE(e.browser.finalPage.contains("<h1>Signed in</h1>"));
    EXPECT_TRUE(e.browser.failure.empty()) << e.browser.failure;
    EXPECT_TRUE(LoopbackTestClient(e.browser.port()).refused());

    const auto stored = e.store->load();
    ASSERT_TRUE(stored.has_value());
    EXPECT_TRUE(stored->refreshToken.has_value());
    EXPECT_TRUE(stored->expiresAt.has_value());
    EXPECT_EQ(stored->clientId, item(e.browser.opened[0], "client_id").toStdString());
    EXPECT_EQ(e.server.counters()["registrations"], 1);

    // The rest of the system takes it from here.
    const CLICredentialReader reader(e.home.path().toStdString());
    const auto credential = CredentialResolver(e.store, reader).resolve();
    ASSERT_TRUE(credential.has_value());
    EXPECT_EQ(credential->source, CredentialSource::app);
    EXPECT_TRUE(credential->canRefresh());

    const TokenCoordinator coordinator(e.store, reader, HTTPClient::platform(1, 0.3, 30, false), e.server.baseURL(), 40);
    const auto renewed = waitForTask(coordinator.refreshAfterUnauthorized(*credential), 30s);
    ASSERT_TRUE(renewed.ok()) << renewed.errorText();
    ASSERT_TRUE(renewed.value->has_value());
    EXPECT_NE((*renewed.value)->token, credential->token);
    EXPECT_EQ(e.store->load()->accessToken, (*renewed.value)->token);
}

TEST(BrowserSignIn, ProviderDenial)
{
    EndToEnd e;
    e.server.setConfig({ { "authorize", "deny" } });
    EXPECT_EQ(e.failingSignIn(), "Authorization failed: The user denied the request");
    EXPECT_TRUE(e.browser.finalPage.contains("The user denied the request"));
}

TEST(BrowserSignIn, TamperedRedirects)
{
    // A forged state, and a redirect that lost its code.
    const struct {
        const char* item;
        const char* replacement;
        std::string error;
    } cases[] = {
        { "state", "forged", "Sign-in callback did not match this session" },
        { "code", nullptr, "Authorization failed: missing code" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.item);
        EndToEnd e;
        e.browser.tamper = [&c](QUrl url) {
            QUrlQuery query(url);
            query.removeAllQueryItems(c.item);
            if (c.replacement)
                query.addQueryItem(c.item, c.replacement);
            url.setQuery(query);
            return url;
        };
        EXPECT_EQ(e.failingSignIn(), c.error);
        EXPECT_EQ(e.browser.finalStatus, 400);
        EXPECT_EQ(e.server.counters()["code_grants"]["accepted"], 0);
    }
}

TEST(BrowserSignIn, TokenReplyWithoutRefreshToken)
{
    EndToEnd e;
    e.server.injectFault({ { "endpoint", "token" }, { "status", 200 },
                           { "body", R"({"access_token":"vat_only","token_type":"Bearer","expires_in":3600})" },
                           { "content_type", "application/json" } });
    EXPECT_EQ(e.failingSignIn(), "Token exchange failed: no refresh token was issued");
    EXPECT_FALSE(e.store->load().has_value());
}
