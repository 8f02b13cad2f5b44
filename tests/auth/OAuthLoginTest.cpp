#include "OAuthLogin.h"

#include "FakeHTTPTransport.h"
#include "AsyncWait.h"
#include "Cancellation.h"
#include "IdentityProvider.h"
#include "LogCapture.h"
#include "LoopbackServerError.h"
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
using velmo::test::FakeHTTPTransport;
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
    std::shared_ptr<FakeHTTPTransport> transport = std::make_shared<FakeHTTPTransport>();
    OAuthLogin login { testConfig(), HTTPClient(transport, 3, 0.3, 30) };
};

QString item(const QUrl& url, const char* name)
{
    return QUrlQuery(url).queryItemValue(QString::fromLatin1(name), QUrl::FullyDecoded);
}

quint16 portOf(const QString& redirectURI)
{
    return quint16(QUrl(redirectURI).port());
}

// The redirect URI a registration request asked for.
QString registeredRedirect(const HTTPRequest& request)
{
    const auto json = VelmoJSON::parse(request.body.toStdString());
    return QString::fromStdString(json.at("redirect_uris").at(0).get<std::string>());
}

// A browser that, once asked, sends the given callback query to the redirect
// URI from the event loop (the opener itself must not block).
struct FakeBrowser {
    std::function<QByteArray(const QUrl& authorizationURL)> callbackQuery;
    std::vector<QUrl> opened;
    QByteArray page;

    OAuthLogin::URLOpener opener()
    {
        return [this](const QUrl& url) {
            opened.push_back(url);
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [this, url] {
                    const QUrl redirect(item(url, "redirect_uri"));
                    page = velmo::test::exchange(quint16(redirect.port()),
                                                 "GET /callback?" + callbackQuery(url) + " HTTP/1.1\r\n\r\n")
                               .received;
                },
                Qt::QueuedConnection);
        };
    }

    static FakeBrowser approving(const QByteArray& code)
    {
        return { [code](const QUrl& url) { return "state=" + item(url, "state").toUtf8() + "&code=" + code; }, {}, {} };
    }
};

} // namespace

// --- PKCE -------------------------------------------------------------------

TEST(PKCE, RFC7636AppendixB)
{
    const unsigned char octets[] = { 116, 24, 223, 180, 151, 153, 224, 37, 79, 250, 96, 125, 216, 173, 187, 186,
                                     22, 212, 37, 77, 105, 214, 191, 240, 91, 88, 5, 88, 83, 132, 141, 121 };
    const QString verifier = PKCE::base64URL(QByteArray(reinterpret_cast<const char*>(octets), sizeof octets));
    EXPECT_EQ(verifier, "dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk");
    EXPECT_EQ(PKCE::challenge(verifier), "E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM");
}

TEST(PKCE, Base64URLHasNoPaddingAndURLSafeDigits)
{
    EXPECT_EQ(PKCE::base64URL(QByteArray("\xfb\xff", 2)), "-_8");
    EXPECT_EQ(PKCE::base64URL(QByteArray("\xfb\xef\xbe", 3)), "----");
    EXPECT_EQ(PKCE::base64URL(QByteArray()), "");
}

TEST(PKCE, RandomTextsHaveTheirLengthAndAlphabet)
{
    const std::regex alphabet("^[A-Za-z0-9_-]+$");
    const QString state = PKCE::randomBase64URL(16);
    const QString verifier = PKCE::randomBase64URL(32);
    EXPECT_EQ(state.size(), 22);
    EXPECT_EQ(verifier.size(), 43);
    EXPECT_TRUE(std::regex_match(state.toStdString(), alphabet));
    EXPECT_TRUE(std::regex_match(verifier.toStdString(), alphabet));
    EXPECT_NE(PKCE::randomBase64URL(32), verifier);
    EXPECT_EQ(PKCE::challenge(verifier).size(), 43);
}

// --- configuration and URLs -------------------------------------------------

TEST(OAuthConfig, ApplicationValuesAndOverride)
{
    qunsetenv("VELMO_AUTH_URL");
    const OAuthConfig config = OAuthConfig::velmo();
    EXPECT_EQ(config.authServer, QUrl(IdentityProvider::productionBaseURL));
    EXPECT_EQ(config.authServer.scheme(), "https");
    EXPECT_EQ(config.clientName, "Velmo Usage");
    EXPECT_EQ(config.scope, "openid profile email offline_access");
    EXPECT_EQ(config.callbackTimeout, 900s);

    qputenv("VELMO_AUTH_URL", "http://127.0.0.1:4100");
    EXPECT_EQ(OAuthConfig::velmo().authServer, QUrl("http://127.0.0.1:4100"));
    qputenv("VELMO_AUTH_URL", "not a url");
    EXPECT_EQ(OAuthConfig::velmo().authServer, QUrl(IdentityProvider::productionBaseURL));
    qunsetenv("VELMO_AUTH_URL");
}

TEST(OAuthLoginURLs, AuthorizationURLHasSevenItemsInOrder)
{
    const QUrl url = OAuthLogin::authorizationURL(testConfig(), "client_1", "http://127.0.0.1:4242/callback", "st", "ch");
    EXPECT_EQ(url.toString(QUrl::FullyEncoded),
              "https://auth.example.com/oauth/authorize?response_type=code&client_id=client_1"
              "&redirect_uri=http://127.0.0.1:4242/callback&scope=openid%20profile%20email%20offline_access"
              "&state=st&code_challenge=ch&code_challenge_method=S256");
}

TEST(OAuthLoginURLs, QueryDelimitersInValuesAreEscaped)
{
    // A client ID is the provider's text: it must not add or split items.
    const QUrl url = OAuthLogin::authorizationURL(testConfig("https://idp.example/tenant/"), "a&b=c+d#e f%",
                                                  "http://127.0.0.1:1/callback", "s", "c");
    EXPECT_EQ(url.path(), "/tenant/oauth/authorize");
    const auto items = QUrlQuery(url).queryItems(QUrl::FullyDecoded);
    ASSERT_EQ(items.size(), 7);
    EXPECT_EQ(items[1].second, "a&b=c+d#e f%");
    const QStringList names { "response_type", "client_id", "redirect_uri", "scope", "state", "code_challenge",
                              "code_challenge_method" };
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(items[i].first, names[i]);
    EXPECT_EQ(OAuthLogin::endpoint(QUrl("https://idp.example/tenant"), "oauth/token").toString(),
              "https://idp.example/tenant/oauth/token");
    EXPECT_EQ(OAuthLogin::endpoint(QUrl("https://idp.example"), "oauth/token").toString(),
              "https://idp.example/oauth/token");
}

// --- the token reply and the stored session -----------------------------------

TEST(OAuthLoginSession, ExpiryRefreshTokenAndClient)
{
    const Timestamp now = std::chrono::system_clock::time_point(std::chrono::seconds(1'700'000'000));
    const auto tokens = VelmoJSON::decode<OAuthTokens>(
        R"({"access_token":" at-1 ","refresh_token":"\n rt-1\t","expires_in":3600,"token_type":"Bearer","id_token":"x"})");
    const StoredTokens session = OAuthLogin::session(tokens, "client-9", now);
    EXPECT_EQ(session.accessToken, " at-1 "); // as received
    EXPECT_EQ(session.refreshToken, "rt-1");
    EXPECT_EQ(session.clientId, "client-9");
    ASSERT_TRUE(session.expiresAt.has_value());
    EXPECT_DOUBLE_EQ(*session.expiresAt, (1'700'000'000.0 + 3600.0) * 1000.0);

    for (const char* json : { R"({"access_token":"a","refresh_token":"r"})",
                              R"({"access_token":"a","refresh_token":"r","expires_in":-5})",
                              R"({"access_token":"a","refresh_token":"r","expires_in":null})",
                              R"({"access_token":"a","refresh_token":"r","expires_in":1e308})" }) {
        SCOPED_TRACE(json);
        EXPECT_FALSE(OAuthLogin::session(VelmoJSON::decode<OAuthTokens>(json), "c", now).expiresAt.has_value());
    }
}

TEST(OAuthLoginSession, NoRefreshTokenIsAnExchangeFailure)
{
    for (const char* json : { R"({"access_token":"a"})", R"({"access_token":"a","refresh_token":" \r\n"})" }) {
        try {
            OAuthLogin::session(VelmoJSON::decode<OAuthTokens>(json), "c", {});
            FAIL() << json;
        } catch (const OAuthError& error) {
            EXPECT_STREQ(error.what(), "Token exchange failed: no refresh token was issued");
        }
    }
}

TEST(OAuthLoginSession, TokenReplyShape)
{
    EXPECT_THROW(VelmoJSON::decode<OAuthTokens>(R"({"refresh_token":"r"})"), VelmoJSON::DecodingError);
    EXPECT_THROW(VelmoJSON::decode<OAuthTokens>(R"({"access_token":"a","expires_in":"3600"})"), VelmoJSON::DecodingError);
    EXPECT_THROW(VelmoJSON::decode<OAuthTokens>(R"(["access_token"])"), VelmoJSON::DecodingError);
}

TEST(OAuthLoginForm, SortedAndPercentEncoded)
{
    EXPECT_EQ(OAuthLogin::formEncode({ { "z", "1" }, { "a b", "x/y:z~-._" }, { "m", "\xc3\xa9+&=" } }),
              "a%20b=x%2Fy%3Az~-._&m=%C3%A9%2B%26%3D&z=1");
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
    EXPECT_EQ(request.headers.value(0).first, "Content-Type");
    EXPECT_EQ(request.headers.value(0).second, "application/json");
    EXPECT_EQ(request.timeout, 30s); // the client's own timeout wins
    const auto body = VelmoJSON::parse(request.body.toStdString());
    EXPECT_EQ(body, VelmoJSON::parse(R"({"client_name":"Velmo Usage",
        "redirect_uris":["http://127.0.0.1:4242/callback"],
        "grant_types":["authorization_code","refresh_token"], "response_types":["code"],
        "token_endpoint_auth_method":"none", "scope":"openid profile email offline_access"})"));
}

TEST(OAuthLoginRegister, FailuresCarryTheServerMessage)
{
    struct Case {
        int status;
        QByteArray body;
    };
    for (const Case& c : { Case { 400, R"({"error":"invalid_client_metadata","error_description":"bad redirect"})" },
                           Case { 503, "" }, Case { 200, R"({"client_secret":"x"})" },
                           Case { 200, R"({"client_id":42})" }, Case { 201, R"({"client_id":""})" },
                           Case { 200, "<html>proxy</html>" } }) {
        SCOPED_TRACE(c.body.toStdString());
        Fixture f;
        f.transport->respond(c.status, c.body);
        f.transport->respond(201, R"({"client_id":"never asked"})");
        const auto outcome = waitForTask(f.login.registerClient("http://127.0.0.1:1/callback"));
        EXPECT_EQ(outcome.errorText(), "Client registration failed: " + VelmoClient::errorMessage(c.body, c.status));
        EXPECT_THROW(outcome.rethrow(), OAuthError);
        EXPECT_EQ(f.transport->requests.size(), 1u); // never retried
    }
}

TEST(OAuthLoginRegister, NetworkFailureAndCancellation)
{
    Fixture f;
    f.transport->failWith(NetworkError::Code::timedOut, "Connection timed out");
    EXPECT_EQ(waitForTask(f.login.registerClient("http://127.0.0.1:1/callback")).errorText(),
              "Client registration failed: Connection timed out");
    EXPECT_EQ(f.transport->requests.size(), 1u);

    f.transport->hang();
    std::stop_source stop;
    auto task = f.login.registerClient("http://127.0.0.1:1/callback", stop.get_token());
    stop.request_stop();
    EXPECT_THROW(waitForTask(std::move(task), 5s).rethrow(), CancellationError);
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
             { 200, R"({"access_token":""})" },
             { 200, "not json" },
             { 500, "" } }) {
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

// --- the whole flow with a scripted provider and browser ------------------------

TEST(OAuthLoginSignIn, RegistersOpensTheBrowserAndExchangesWithPKCE)
{
    Fixture f;
    f.transport->respond(201, R"({"client_id":"cid-7"})");
    f.transport->respond(200, R"({"access_token":"access-7","refresh_token":"refresh-7","expires_in":3600})");
    FakeBrowser browser = FakeBrowser::approving("code-7");
    velmo::test::LogCapture log;

    const auto before = std::chrono::system_clock::now();
    const auto outcome = waitForTask(f.login.signIn(browser.opener()));
    ASSERT_TRUE(outcome.ok()) << outcome.errorText();
    EXPECT_EQ(outcome.value->accessToken, "access-7");
    EXPECT_EQ(outcome.value->refreshToken, "refresh-7");
    EXPECT_EQ(outcome.value->clientId, "cid-7");
    EXPECT_GE(*outcome.value->expiresAt, (std::chrono::duration<double>(before.time_since_epoch()).count() + 3600) * 1000);

    ASSERT_EQ(browser.opened.size(), 1u);
    const QUrl url = browser.opened[0];
    const QString redirect = item(url, "redirect_uri");
    EXPECT_TRUE(redirect.startsWith("http://127.0.0.1:"));
    EXPECT_TRUE(redirect.endsWith("/callback"));
    EXPECT_GE(portOf(redirect), 10000);
    EXPECT_LE(portOf(redirect), 59999);
    EXPECT_EQ(registeredRedirect(f.transport->requests.at(0)), redirect);
    EXPECT_EQ(item(url, "client_id"), "cid-7");
    EXPECT_EQ(item(url, "state").size(), 22);

    // The verifier sent at the exchange is the one behind the challenge.
    const QUrlQuery form(QString::fromLatin1(f.transport->requests.at(1).body));
    const QString verifier = form.queryItemValue("code_verifier");
    EXPECT_EQ(verifier.size(), 43);
    EXPECT_EQ(PKCE::challenge(verifier), item(url, "code_challenge"));
    EXPECT_EQ(form.queryItemValue("code"), "code-7");
    EXPECT_EQ(QUrl::fromPercentEncoding(form.queryItemValue("redirect_uri").toLatin1()), redirect);

    EXPECT_TRUE(browser.page.contains("Signed in"));
    EXPECT_TRUE(log.contains("velmo-usage.auth", QtInfoMsg, "oauth client registered; opening browser"));
    EXPECT_TRUE(LoopbackTestClient(portOf(redirect)).refused());
}

TEST(OAuthLoginSignIn, EveryFailureClosesTheCallbackPort)
{
    struct Case {
        const char* name;
        std::function<void(FakeHTTPTransport&)> script;
        std::function<QByteArray(const QUrl&)> callback;
        std::string error;
    };
    const auto approve = [](const QUrl& url) { return "state=" + item(url, "state").toUtf8() + "&code=c"; };
    const std::vector<Case> cases {
        { "registration", [](FakeHTTPTransport& t) { t.respond(500, R"({"error":"boom"})"); }, approve,
          "Client registration failed: " + VelmoClient::errorMessage(R"({"error":"boom"})", 500) },
        { "denied", [](FakeHTTPTransport& t) { t.respond(201, R"({"client_id":"c"})"); },
          [](const QUrl&) -> QByteArray { return "error=access_denied&error_description=User%20cancelled"; },
          "Authorization failed: User cancelled" },
        { "state", [](FakeHTTPTransport& t) { t.respond(201, R"({"client_id":"c"})"); },
          [](const QUrl&) -> QByteArray { return "state=forged&code=c"; }, "Sign-in callback did not match this session" },
        { "no refresh token",
          [](FakeHTTPTransport& t) {
              t.respond(201, R"({"client_id":"c"})");
              t.respond(200, R"({"access_token":"a"})");
          },
          approve, "Token exchange failed: no refresh token was issued" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        c.script(*f.transport);
        FakeBrowser browser { c.callback, {}, {} };
        const auto outcome = waitForTask(f.login.signIn(browser.opener()));
        EXPECT_EQ(outcome.errorText(), c.error);
        const quint16 port = portOf(registeredRedirect(f.transport->requests.at(0)));
        EXPECT_TRUE(LoopbackTestClient(port).refused());
    }
}

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
    EXPECT_TRUE(LoopbackTestClient(portOf(item(opened, "redirect_uri"))).refused());
    EXPECT_EQ(f.transport->requests.size(), 1u); // no exchange
}
