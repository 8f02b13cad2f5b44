#include "OAuthLogin.h"

#include "AsyncWait.h"
#include "FakeHTTPTransport.h"
#include "OAuthError.h"
#include "PKCE.h"
#include "TestSupport.h"
#include "VelmoClient.h"

#include <QUrlQuery>

#include <gtest/gtest.h>

#include <regex>

using namespace std::chrono_literals;
using velmo::test::waitForTask;

namespace {

OAuthConfig testConfig(const char* server = "https://auth.example.com")
{
    OAuthConfig config = OAuthConfig::velmo();
    config.authServer = QUrl(QString::fromLatin1(server));
    return config;
}

} // namespace

// The whole flow, and stopping it, are in BrowserSignInTest and LoginControllerTest.
TEST(PKCE, RFC7636AppendixB)
{
    const unsigned char octets[] = { 116, 24, 223, 180, 151, 153, 224, 37, 79, 250, 96, 125, 216, 173, 187, 186,
                                     22, 212, 37, 77, 105, 214, 191, 240, 91, 88, 5, 88, 83, 132, 141, 121 };
    const QString verifier = PKCE::base64URL(QByteArray(reinterpret_cast<const char*>(octets), sizeof octets));
    EXPECT_EQ(verifier, "dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk");
    EXPECT_EQ(PKCE::challenge(verifier), "E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM");
    const QString random = PKCE::randomBase64URL(32);
    EXPECT_TRUE(std::regex_match(random.toStdString(), std::regex("^[A-Za-z0-9_-]{43}$"))) << random.toStdString();
    EXPECT_NE(PKCE::randomBase64URL(32), random);
}

// The items themselves are checked by the stand-in provider (BrowserSignInTest).
TEST(OAuthLoginURLs, AClientIDCannotAddOrSplitItems)
{
    const QUrl url = OAuthLogin::authorizationURL(testConfig("https://idp.example/tenant/"), "a&b=c+d#e f%",
                                                  "http://127.0.0.1:1/callback", "s", "c");
    EXPECT_EQ(url.path(), "/tenant/oauth/authorize");
    const auto items = QUrlQuery(url).queryItems(QUrl::FullyDecoded);
    ASSERT_EQ(items.size(), 7);
    EXPECT_EQ(items[1].second, "a&b=c+d#e f%");
}

TEST(OAuthLoginSession, ExpiryRefreshTokenAndClient)
{
    const Timestamp now = std::chrono::system_clock::time_point(std::chrono::seconds(1'700'000'000));
    const std::pair<const char*, std::optional<StoredTokens>> cases[] = {
        { R"({"access_token":" at-1 ","refresh_token":"\n rt-1\t","expires_in":3600,"token_type":"Bearer","id_token":"x"})",
            StoredTokens { " at-1 ", "rt-1", (1'700'000'000.0 + 3600.0) * 1000.0, "client-9" } },
        { R"({"access_token":"a","refresh_token":"r"})", StoredTokens { "a", "r", std::nullopt, "client-9" } },
        { R"({"access_token":"a","refresh_token":"r","expires_in":-5})", StoredTokens { "a", "r", std::nullopt, "client-9" } },
        { R"({"access_token":"a","refresh_token":"r","expires_in":1e308})", StoredTokens { "a", "r", std::nullopt, "client-9" } },
        { R"({"access_token":"a","refresh_token":" \r\n"})", std::nullopt },
        { R"({"access_token":"a","expires_in":3600})", std::nullopt },
    };
    for (const auto& [json, expected] : cases) {
        try {
            EXPECT_EQ(OAuthLogin::session(VelmoJSON::decode<OAuthTokens>(json), "client-9", now), expected) << json;
        } catch (const OAuthError& error) {
            EXPECT_FALSE(expected.has_value()) << json;
            EXPECT_STREQ(error.what(), "Token exchange failed: no refresh token was issued");
        }
    }
}

// What registration and exchange send is checked by the stand-in provider,
// which refuses anything else, in BrowserSignInTest.
TEST(OAuthLoginRequests, FailuresCarryTheProvidersCleanedMessageAndAreNotRetried)
{
    // status 0: the connection failed
    const struct { bool registration; int status; QByteArray body; std::string error; } cases[] = {
        { true, 400, R"({"error":"invalid_client_metadata","error_description":"bad redirect"})", "Client registration failed: invalid_client_metadata" },
        { true, 503, "", "Client registration failed: service unavailable" },
        { true, 200, R"({"client_id":42})", "Client registration failed: {\"client_id\":42}" },
        { true, 201, R"({"client_id":""})", "Client registration failed: {\"client_id\":\"\"}" },
        { true, 400, "refused\x1b[2J\x1b]0;owned\x07\r\nnow", "Client registration failed: refused[2J]0;ownednow" },
        { true, 0, "Connection timed out", "Client registration failed: Connection timed out" },
        { false, 400, R"({"error":"invalid_grant","error_description":"code expired"})", "Token exchange failed: invalid_grant" },
        { false, 200, "not json", "Token exchange failed: not json" },
        // A token with control characters would be refused in every header.
        { false, 200, R"({"access_token":"a\u0007t","refresh_token":"rt"})", "Token exchange failed: the token reply was incomplete" },
        { false, 0, "Remote host closed", "Token exchange failed: Remote host closed" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        auto transport = std::make_shared<velmo::test::FakeHTTPTransport>();
        c.status ? transport->respond(c.status, c.body) : transport->failWith(NetworkError::Code::timedOut, c.body.toStdString());
        transport->respond(201, R"({"client_id":"never asked"})");
        const OAuthLogin login(testConfig(), HTTPClient(transport, 3, 0.3, 30));
        EXPECT_EQ(c.registration ? waitForTask(login.registerClient("http://127.0.0.1:1/callback")).errorText()
                                 : waitForTask(login.exchange("c", "r", "i", "v")).errorText(), c.error);
        EXPECT_EQ(transport->requests.size(), 1u);
    }
}
