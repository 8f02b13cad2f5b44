#include "LoginController.h"

#include "FakeHTTPTransport.h"
#include "InMemoryCredentialStore.h"
#include "KeychainError.h"
#include "LogCapture.h"
#include "LoopbackTestClient.h"
#include "QtPrinters.h"

#include <QCoreApplication>
#include <QUrlQuery>

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using velmo::test::FakeHTTPTransport;
using velmo::test::LoopbackTestClient;
using velmo::test::spinUntil;

namespace {

const char* const accessToken = "vat_live_0123456789abcdefXYZ9";

QString item(const QUrl& url, const char* name)
{
    return QUrlQuery(url).queryItemValue(QString::fromLatin1(name), QUrl::FullyDecoded);
}

// A store whose save fails like a locked keyring.
class FailingStore final : public CredentialStoring {
public:
    std::optional<StoredTokens> load() override { return std::nullopt; }
    void save(const StoredTokens&) override { throw KeychainError(KeychainError::interactionNotAllowed, "The keyring is locked"); }
    void remove() override { }
};

// A browser that records what it was asked to open and, when told to, sends
// a callback to the redirect URI.
struct Browser {
    std::vector<QUrl> opened;
    std::function<QByteArray(const QUrl&)> answer; // empty: the user never comes back

    LoginController::BrowserOpener opener()
    {
        return [this](const QUrl& url) {
            opened.push_back(url);
            if (answer) {
                const QUrl redirect(item(url, "redirect_uri"));
                velmo::test::exchange(quint16(redirect.port()), "GET /callback?" + answer(url) + " HTTP/1.1\r\n\r\n");
            }
            return true;
        };
    }
    quint16 port(std::size_t index = 0) const { return quint16(QUrl(item(opened.at(index), "redirect_uri")).port()); }
};

QByteArray approve(const QUrl& url)
{
    return "state=" + item(url, "state").toUtf8() + "&code=the-code";
}

struct Fixture {
    std::shared_ptr<FakeHTTPTransport> transport = std::make_shared<FakeHTTPTransport>();
    std::shared_ptr<InMemoryCredentialStore> store = std::make_shared<InMemoryCredentialStore>();
    Browser browser;

    std::unique_ptr<LoginController> controller(std::shared_ptr<CredentialStoring> into = nullptr)
    {
        OAuthConfig config = OAuthConfig::velmo();
        config.authServer = QUrl("https://auth.example.com");
        return std::make_unique<LoginController>(into ? into : store, OAuthLogin(config, HTTPClient(transport, 3, 0.3, 30)),
                                                 browser.opener());
    }
    void scriptSuccess()
    {
        transport->respond(201, R"({"client_id":"cid"})");
        transport->respond(200, QByteArray(R"({"access_token":")") + accessToken
                                    + R"(","refresh_token":"rt","expires_in":3600})");
    }
};

bool waitIdle(const LoginController& controller)
{
    return spinUntil([&] { return !controller.isSigningIn(); });
}

} // namespace

TEST(LoginController, SuccessSavesThenAnnouncesOnce)
{
    Fixture f;
    f.scriptSuccess();
    f.browser.answer = approve;
    auto controller = f.controller();
    int announced = 0;
    std::optional<StoredTokens> storedWhenAnnounced;
    controller->setOnSignedIn([&] {
        ++announced;
        storedWhenAnnounced = f.store->load();
    });
    velmo::test::LogCapture log;

    controller->signIn();
    EXPECT_TRUE(controller->isSigningIn());
    controller->signIn(); // already running: nothing new
    ASSERT_TRUE(waitIdle(*controller));
    EXPECT_TRUE(spinUntil([&] { return announced > 0; }));

    EXPECT_EQ(f.browser.opened.size(), 1u);
    EXPECT_EQ(f.transport->requests.size(), 2u);
    EXPECT_EQ(announced, 1);
    ASSERT_TRUE(storedWhenAnnounced.has_value());
    EXPECT_EQ(storedWhenAnnounced->accessToken, accessToken);
    EXPECT_FALSE(controller->errorMessage().has_value());

    EXPECT_TRUE(log.contains("velmo-usage.auth", QtInfoMsg,
                             QStringLiteral("browser sign-in complete, session vat_\u2026XYZ9 stored")));
    EXPECT_FALSE(log.mentions(accessToken));
}

TEST(LoginController, SaveFailureIsTheErrorAndNothingIsAnnounced)
{
    Fixture f;
    f.scriptSuccess();
    f.browser.answer = approve;
    auto controller = f.controller(std::make_shared<FailingStore>());
    bool announced = false;
    controller->setOnSignedIn([&] { announced = true; });
    velmo::test::LogCapture log;
    controller->signIn();
    ASSERT_TRUE(waitIdle(*controller));
    EXPECT_EQ(controller->errorMessage(), QStringLiteral("The keyring is locked"));
    EXPECT_FALSE(announced);
    EXPECT_TRUE(log.contains("velmo-usage.auth", QtCriticalMsg, "browser sign-in failed: The keyring is locked"));
}

TEST(LoginController, ProviderErrorKeepsTheOldSession)
{
    Fixture f;
    const StoredTokens old { "old-access-token-123", "old-refresh", 1.0, "old-client" };
    f.store->save(old);
    f.transport->respond(201, R"({"client_id":"cid"})");
    f.browser.answer = [](const QUrl&) -> QByteArray { return "error=access_denied&error_description=User%20cancelled"; };
    auto controller = f.controller();
    int errorChanges = 0;
    QObject::connect(controller.get(), &LoginController::errorMessageChanged, [&] { ++errorChanges; });
    controller->signIn();
    ASSERT_TRUE(waitIdle(*controller));
    EXPECT_EQ(controller->errorMessage(), QStringLiteral("Authorization failed: User cancelled"));
    EXPECT_EQ(errorChanges, 1);
    EXPECT_EQ(f.store->load(), old);

    // A new attempt clears the message at once.
    f.transport->respond(201, R"({"client_id":"cid"})");
    f.browser.answer = nullptr;
    velmo::test::LogCapture log;
    controller->signIn();
    EXPECT_FALSE(controller->errorMessage().has_value());
    EXPECT_EQ(errorChanges, 2);
    controller->cancel();
    EXPECT_TRUE(spinUntil([&] { return log.mentions("browser sign-in failed: Cancelled"); }));
}

TEST(LoginController, CancelDuringTheBrowserStepIsImmediateAndFinal)
{
    Fixture f;
    f.transport->respond(201, R"({"client_id":"first"})");
    auto controller = f.controller();
    bool announced = false;
    controller->setOnSignedIn([&] { announced = true; });
    controller->signIn();
    ASSERT_TRUE(spinUntil([&] { return !f.browser.opened.empty(); }));

    controller->cancel();
    EXPECT_FALSE(controller->isSigningIn());
    EXPECT_FALSE(controller->errorMessage().has_value());
    // The abandoned flow closes its port instead of waiting 900 s.
    const quint16 firstPort = f.browser.port(0);
    EXPECT_TRUE(spinUntil([&] { return LoopbackTestClient(firstPort).refused(); }));

    // A new sign-in is accepted and is not disturbed by the old flow's end.
    f.scriptSuccess();
    f.browser.answer = approve;
    controller->signIn();
    EXPECT_TRUE(controller->isSigningIn());
    ASSERT_TRUE(waitIdle(*controller));
    EXPECT_TRUE(spinUntil([&] { return announced; }));
    EXPECT_FALSE(controller->errorMessage().has_value());
    EXPECT_EQ(f.store->load()->clientId, "cid");
}

TEST(LoginController, CancelDuringTheExchangeSavesNothing)
{
    Fixture f;
    f.transport->respond(201, R"({"client_id":"cid"})");
    f.transport->hang();
    f.browser.answer = approve;
    auto controller = f.controller();
    velmo::test::LogCapture log;
    controller->signIn();
    ASSERT_TRUE(spinUntil([&] { return f.transport->requests.size() == 2; }));
    controller->cancel();
    EXPECT_FALSE(controller->isSigningIn());
    EXPECT_TRUE(spinUntil([&] { return log.mentions("browser sign-in failed: Cancelled"); }));
    EXPECT_FALSE(f.store->load().has_value());
    EXPECT_FALSE(controller->errorMessage().has_value());
}

TEST(LoginController, FlowOutlivesItsController)
{
    Fixture f;
    f.transport->respond(201, R"({"client_id":"cid"})");
    f.transport->respond(200, R"({"access_token":"orphan-access-token","refresh_token":"rt"})");
    auto controller = f.controller();
    bool announced = false;
    controller->setOnSignedIn([&] { announced = true; });
    controller->signIn();
    ASSERT_TRUE(spinUntil([&] { return !f.browser.opened.empty(); }));
    controller.reset();
    velmo::test::LogCapture log;
    velmo::test::exchange(f.browser.port(), "GET /callback?" + approve(f.browser.opened[0]) + " HTTP/1.1\r\n\r\n");
    EXPECT_TRUE(spinUntil([&] { return log.mentions("browser sign-in complete"); }));
    ASSERT_TRUE(f.store->load().has_value());
    EXPECT_EQ(f.store->load()->accessToken, "orphan-access-token");
    EXPECT_FALSE(announced);
}
