#include "OAuthLogin.h"

#include "FakeHTTPTransport.h"
#include "AsyncWait.h"
#include "Cancellation.h"
#include "LoopbackTestClient.h"
#include "OAuthError.h"
#include "PKCE.h"
#include "QtPrinters.h"
#include "VelmoClient.h"

#include <QCoreApplication>
#include <QUrlQuery>

#include <gtest/gtest.h>

#include <regex>

using namespace std::chrono_literals;
using velmo::test::LoopbackTestClient;
using velmo::test::waitForTask;

namespace {

OAuthConfig testConfig(const char* server = "https://auth.example.com")
{
    OAuthConfig config = OAuthConfig::velmo();
    config.authServer = QUrl(QString::fromLatin1(server));
    return config;
}

struct Fixture {
    std::shared_ptr<velmo::test::FakeHTTPTransport> transport = std::make_shared<velmo::test::FakeHTTPTransport>();
    OAuthLogin login { testConfig(), HTTPClient(transport, 3, 0.3, 30) };
};

QString item(const QUrl& url, const char* name)
{
    return QUrlQuery(url).queryItemValue(QString::fromLatin1(name), QUrl::FullyDecoded);
}

} // namespace

TEST(PKCE, RFC7636AppendixB)
{
    const unsigned char octets[] = { 116, 24, 223, 180, 151, 153, 224, 37, 79, 250, 96, 125, 216, 173, 187, 186,
                                     22, 212, 37, 77, 105, 214, 191, 240, 91, 88, 5, 88, 83, 132, 141, 121 };
    const QString verifier = PKCE::base64URL(QByteArray(reinterpret_cast<const char*>(octets), sizeof octets));
    EXPECT_EQ(verifier, "dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk");
    EXPECT_EQ(PKCE::challenge(verifier), "E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM");
    // No padding, URL-safe digits.
    EXPECT_EQ(PKCE::base64URL(QByteArray("\xfb\xff", 2)), "-_8");
    const QString random = PKCE::randomBase64URL(32);
    EXPECT_EQ(random.size(), 43);
    EXPECT_TRUE(std::regex_match(random.toStdString(), std::regex("^[A-Za-z0-9_-]+$")));
    EXPECT_NE(PKCE::randomBase64URL(32), random);
}

TEST(OAuthLoginURLs, AuthorizationURLHasSevenItemsInOrder)
{
    const QUrl url = OAuthLogin::authorizationURL(testConfig(), "client_1", "http://127.0.0.1:4242/callback", "st", "ch");
    EXPECT_EQ(url.toString(QUrl::FullyEncoded),
              "https://auth.example.com/oauth/authorize?response_type=code&client_id=client_1"
              "&redirect_uri=http://127.0.0.1:4242/callback&scope=openid%20profile%20email%20offline_access"
              "&state=st&code_challenge=ch&code_challenge_method=S256");
    // A client ID is the provider's text: it must not add or split items.
    const QUrl escaped = OAuthLogin::authorizationURL(testConfig("https://idp.example/tenant/"), "a&b=c+d#e f%",
                                                      "http://127.0.0.1:1/callback", "s", "c");
    EXPECT_EQ(escaped.path(), "/tenant/oauth/authorize");
    const auto items = QUrlQuery(escaped).queryItems(QUrl::FullyDecoded);
    ASSERT_EQ(items.size(), 7);
    EXPECT_EQ(items[1].second, "a&b=c+d#e f%");
}

TEST(OAuthLoginSession, ExpiryRefreshTokenAndClient)
{
    const Timestamp now = std::chrono::system_clock::time_point(std::chrono::seconds(1'700'000'000));
    const auto tokens = VelmoJSON::decode<OAuthTokens>(
        R"({"access_token":" at-1 ","refresh_token":"\n rt-1\t","expires_in":3600,"token_type":"Bearer","id_token":"x"})");
    const StoredTokens session = OAuthLogin::session(tokens, "client-9", now);
    EXPECT_EQ(session, (StoredTokens { " at-1 ", "rt-1", (1'700'000'000.0 + 3600.0) * 1000.0, "client-9" }));

    for (const char* json : { R"({"access_token":"a","refresh_token":"r"})",
                              R"({"access_token":"a","refresh_token":"r","expires_in":-5})",
                              R"({"access_token":"a","refresh_token":"r","expires_in":1e308})" }) {
        EXPECT_FALSE(OAuthLogin::session(VelmoJSON::decode<OAuthTokens>(json), "c", now).expiresAt.has_value()) << json;
    }
    for (const char* json : { R"({"access_token":"a"})", R"({"access_token":"a","refresh_token":" \r\n"})" }) {
        try {
            OAuthLogin::session(VelmoJSON::decode<OAuthTokens>(json), "c", {});
            FAIL() << json;
        } catch (const OAuthError& error) {
            EXPECT_STREQ(error.what(), "Token exchange failed: no refresh token was issued");
        }
    }
}

// --- registration -------------------------------------------------------------

TEST(OAuthLoginRegister, SendsTheSixMembersOnceAndReadsClientID)
{
    Fixture f;
    f.transport->respond(201, R"({"client_id":"cid-1","client_secret_expires_at":0,"redirect_uris":["x"]})");
    const auto outcome = waitForTask(f.login.registerClient("http://127.0.0.1:4242/callback"));
    ASSERT_TRUE(outcome.ok()) << outcome.errorText();
    EXPECT_EQ(*outcome.value, "cid-1");

    ASSERT_EQ(f.transport->requests.size(), 1u);
    const HTTPRequest& request = f.transport->requests[0];
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.url.toString(), "https://auth.example.com/oauth/register");
    EXPECT_EQ(request.headers.value(0), (QPair<QByteArray, QByteArray> { "Content-Type", "application/json" }));
    const auto body = VelmoJSON::parse(request.body.toStdString());
    EXPECT_EQ(body, VelmoJSON::parse(R"({"client_name":"Velmo Usage",
        "redirect_uris":["http://127.0.0.1:4242/callback"],
        "grant_types":["authorization_code","refresh_token"], "response_types":["code"],
        "token_endpoint_auth_method":"none", "scope":"openid profile email offline_access"})"));
}

TEST(OAuthLoginRegister, FailuresCarryTheServerMessageAndAreNotRetried)
{
    for (const auto& [status, body] : std::vector<std::pair<int, QByteArray>> {
             { 400, R"({"error":"invalid_client_metadata","error_description":"bad redirect"})" },
             { 503, "" }, { 200, R"({"client_id":42})" }, { 201, R"({"client_id":""})" } }) {
        SCOPED_TRACE(body.toStdString());
        Fixture f;
        f.transport->respond(status, body);
        f.transport->respond(201, R"({"client_id":"never asked"})");
        const auto outcome = waitForTask(f.login.registerClient("http://127.0.0.1:1/callback"));
        EXPECT_EQ(outcome.errorText(), "Client registration failed: " + VelmoClient::errorMessage(body, status));
        EXPECT_THROW(outcome.rethrow(), OAuthError);
        EXPECT_EQ(f.transport->requests.size(), 1u);
    }
    Fixture f;
    f.transport->failWith(NetworkError::Code::timedOut, "Connection timed out");
    EXPECT_EQ(waitForTask(f.login.registerClient("http://127.0.0.1:1/callback")).errorText(),
              "Client registration failed: Connection timed out");
    EXPECT_EQ(f.transport->requests.size(), 1u);
}

// --- code exchange --------------------------------------------------------------

TEST(OAuthLoginExchange, SendsTheSortedFormAndReadsTheTokens)
{
    Fixture f;
    f.transport->respond(200, R"({"access_token":"at","refresh_token":"rt","expires_in":60,"scope":"openid"})");
    const auto outcome = waitForTask(f.login.exchange("abc", "http://127.0.0.1:4242/callback", "c 1", "v"));
    ASSERT_TRUE(outcome.ok()) << outcome.errorText();
    EXPECT_EQ(*outcome.value, (OAuthTokens { "at", "rt", 60.0 }));
    const HTTPRequest& request = f.transport->requests.at(0);
    EXPECT_EQ(request.url.toString(), "https://auth.example.com/oauth/token");
    EXPECT_EQ(request.headers.value(0).second, "application/x-www-form-urlencoded");
    EXPECT_EQ(request.body, "client_id=c%201&code=abc&code_verifier=v&grant_type=authorization_code"
                            "&redirect_uri=http%3A%2F%2F127.0.0.1%3A4242%2Fcallback");
}

TEST(OAuthLoginExchange, FailuresCarryTheServerMessage)
{
    for (const auto& [status, body] : std::vector<std::pair<int, QByteArray>> {
             { 400, R"({"error":"invalid_grant","error_description":"code expired"})" },
             { 200, "not json" } }) {
        SCOPED_TRACE(body.toStdString());
        Fixture f;
        f.transport->respond(status, body);
        const auto outcome = waitForTask(f.login.exchange("c", "r", "i", "v"));
        EXPECT_EQ(outcome.errorText(), "Token exchange failed: " + VelmoClient::errorMessage(body, status));
        EXPECT_EQ(f.transport->requests.size(), 1u);
    }
    Fixture f;
    f.transport->failWith(NetworkError::Code::connectionLost, "Remote host closed");
    EXPECT_EQ(waitForTask(f.login.exchange("c", "r", "i", "v")).errorText(), "Token exchange failed: Remote host closed");
}

// The whole flow over real sockets is in BrowserSignInTest.

TEST(OAuthLoginSignIn, StopEndsTheBrowserWaitAtOnceAndClosesThePort)
{
    Fixture f;
    f.transport->respond(201, R"({"client_id":"c"})");
    std::stop_source stop;
    QUrl opened;
    auto task = f.login.signIn([&](const QUrl& url) {
        opened = url;
        QMetaObject::invokeMethod(QCoreApplication::instance(), [&] { stop.request_stop(); }, Qt::QueuedConnection);
    }, stop.get_token());
    const auto outcome = waitForTask(std::move(task), 10s);
    EXPECT_FALSE(outcome.timedOut);
    EXPECT_THROW(outcome.rethrow(), CancellationError);
    EXPECT_TRUE(LoopbackTestClient(quint16(QUrl(item(opened, "redirect_uri")).port())).refused());
    EXPECT_EQ(f.transport->requests.size(), 1u); // no exchange
}
