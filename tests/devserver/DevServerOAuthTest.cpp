// The stand-in identity provider over real sockets: registration, the
// authorization redirect, the PKCE code exchange and refresh rotation.
#include "DevServerProcess.h"
#include "HTTPTestClient.h"

#include <gtest/gtest.h>

#include <regex>

using namespace velmo::test;
using Json = nlohmann::json;

namespace {

// RFC 7636 Appendix B.
const std::string rfcVerifier = "dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk";
const std::string rfcChallenge = "E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM";
const std::string otherVerifier = "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa";
const std::string redirectURI = "http://127.0.0.1:54321/callback";
const std::string scope = "openid profile email offline_access";

class DevServerOAuthTest : public ::testing::Test {
protected:
    explicit DevServerOAuthTest(QStringList extra = { "--quiet", "--auto-approve", "--expires-in", "120" })
        : server(extra)
    {
    }

    std::string registerClient()
    {
        const Json body {
            { "client_name", "Velmo Usage" },
            { "redirect_uris", { redirectURI } },
            { "grant_types", { "authorization_code", "refresh_token" } },
            { "response_types", { "code" } },
            { "token_endpoint_auth_method", "none" },
            { "scope", scope },
        };
        auto res = client.Post("/oauth/register", body.dump(), "application/json");
        if (!res || res->status != 201)
            throw std::runtime_error("registration failed");
        return Json::parse(res->body).at("client_id").get<std::string>();
    }

    // The authorization URL's seven query items, in the client's order.
    std::string authorizePath(const std::string& clientID, const std::string& state,
        const std::string& challenge = rfcChallenge, const std::string& method = "S256")
    {
        return "/oauth/authorize?response_type=code&client_id=" + http::encode(clientID)
            + "&redirect_uri=http://127.0.0.1:54321/callback&scope=openid%20profile%20email%20offline_access"
            + "&state=" + http::encode(state) + "&code_challenge=" + challenge + "&code_challenge_method=" + method;
    }

    // Authorizes (auto-approve) and returns the code from the redirect.
    std::string authorizeCode(const std::string& clientID, const std::string& state = "st-1")
    {
        auto res = client.Get(authorizePath(clientID, state));
        if (!res || res->status != 302)
            throw std::runtime_error("authorize did not redirect");
        const auto items = http::queryItems(res->get_header_value("Location"));
        return items.find("code")->second;
    }

    httplib::Result exchange(const std::string& clientID, const std::string& code, const std::string& verifier)
    {
        return client.Post("/oauth/token",
            http::form({ { "grant_type", "authorization_code" }, { "code", code }, { "redirect_uri", redirectURI },
                { "client_id", clientID }, { "code_verifier", verifier } }),
            "application/x-www-form-urlencoded");
    }

    httplib::Result refresh(const std::string& clientID, const std::string& refreshToken)
    {
        return client.Post("/oauth/token",
            http::form({ { "grant_type", "refresh_token" }, { "refresh_token", refreshToken },
                { "client_id", clientID } }),
            "application/x-www-form-urlencoded");
    }

    int balanceStatus(const std::string& accessToken)
    {
        auto res = client.Get("/v1/credits/balance", http::bearer(accessToken));
        return res ? res->status : -1;
    }

    static Json oauthError(const httplib::Result& res)
    {
        return res ? Json::parse(res->body, nullptr, false) : Json();
    }

    DevServerProcess server;
    httplib::Client client = http::client(server);
};

class DevServerConsentTest : public DevServerOAuthTest {
protected:
    DevServerConsentTest()
        : DevServerOAuthTest({ "--quiet" })
    {
    }
};

class DevServerNoRotationTest : public DevServerOAuthTest {
protected:
    DevServerNoRotationTest()
        : DevServerOAuthTest({ "--quiet", "--auto-approve", "--no-rotate" })
    {
    }
};

} // namespace

TEST_F(DevServerOAuthTest, RegistrationReturnsAClientIDAndRefusesNonLoopbackRedirects)
{
    const std::string clientID = registerClient();
    EXPECT_FALSE(clientID.empty());
    EXPECT_NE(registerClient(), clientID);
    EXPECT_EQ(server.counters()["registrations"], 2);

    const struct {
        Json body;
        std::string contentType;
        std::string error;
    } refused[] = {
        { { { "redirect_uris", { "https://evil.example/callback" } } }, "application/json", "invalid_redirect_uri" },
        { { { "redirect_uris", { "http://127.0.0.1.evil.example/cb" } } }, "application/json",
            "invalid_redirect_uri" },
        { { { "redirect_uris", { "http://user@127.0.0.1:5/cb" } } }, "application/json", "invalid_redirect_uri" },
        { { { "redirect_uris", Json::array() } }, "application/json", "invalid_redirect_uri" },
        { { { "redirect_uris", { redirectURI } }, { "token_endpoint_auth_method", "client_secret_basic" } },
            "application/json", "invalid_client_metadata" },
        { { { "redirect_uris", { redirectURI } }, { "grant_types", { "password" } } }, "application/json",
            "invalid_client_metadata" },
        { { { "redirect_uris", { redirectURI } } }, "text/plain", "invalid_client_metadata" },
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.body.dump());
        auto res = client.Post("/oauth/register", c.body.dump(), c.contentType);
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 400);
        EXPECT_EQ(oauthError(res)["error"], c.error);
        EXPECT_TRUE(oauthError(res)["error_description"].is_string());
    }
    auto notJSON = client.Post("/oauth/register", "{\"redirect_uris\": [", "application/json");
    ASSERT_TRUE(notJSON);
    EXPECT_EQ(notJSON->status, 400);
}

TEST_F(DevServerOAuthTest, AuthorizeRedirectsToTheLoopbackWithCodeAndState)
{
    const std::string clientID = registerClient();
    auto res = client.Get(authorizePath(clientID, "state with spaces/+"));
    ASSERT_TRUE(res);
    ASSERT_EQ(res->status, 302);
    const std::string location = res->get_header_value("Location");
    EXPECT_EQ(location.rfind(redirectURI + "?code=", 0), 0u) << location;
    const auto items = http::queryItems(location);
    EXPECT_EQ(items.count("code"), 1u);
    ASSERT_EQ(items.count("state"), 1u);
    EXPECT_EQ(items.find("state")->second, "state with spaces/+");
    EXPECT_EQ(server.counters()["requests"]["authorize"], 1);
}

TEST_F(DevServerOAuthTest, AuthorizeErrorsGoToTheRedirectOnlyForAKnownClientAndURI)
{
    const std::string clientID = registerClient();

    // Unknown client or unregistered redirect: an error page, no redirect.
    for (const std::string& path : { authorizePath("vcl_unknown", "s"),
             std::regex_replace(authorizePath(clientID, "s"), std::regex("54321"), "54322") }) {
        auto res = client.Get(path);
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 400);
        EXPECT_FALSE(res->has_header("Location"));
    }

    const struct {
        std::string path;
        std::string error;
    } cases[] = {
        { authorizePath(clientID, "s", rfcChallenge, "plain"), "invalid_request" },
        { authorizePath(clientID, "s", "short"), "invalid_request" },
        { std::regex_replace(authorizePath(clientID, "s"), std::regex("response_type=code"), "response_type=token"),
            "unsupported_response_type" },
        { authorizePath(clientID, "s") + "&state=again", "invalid_request" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        auto res = client.Get(c.path);
        ASSERT_TRUE(res);
        ASSERT_EQ(res->status, 302);
        const auto items = http::queryItems(res->get_header_value("Location"));
        EXPECT_EQ(items.find("error")->second, c.error);
        EXPECT_EQ(items.count("code"), 0u);
    }
}

TEST_F(DevServerOAuthTest, CodeExchangeChecksThePKCEVerifierAndBurnsTheCode)
{
    const std::string clientID = registerClient();

    // A wrong verifier is refused, and the code cannot be tried again.
    const std::string first = authorizeCode(clientID);
    auto wrong = exchange(clientID, first, otherVerifier);
    ASSERT_TRUE(wrong);
    EXPECT_EQ(wrong->status, 400);
    EXPECT_EQ(oauthError(wrong)["error"], "invalid_grant");
    EXPECT_EQ(oauthError(wrong)["error_description"], "code_verifier does not match the code challenge");
    auto retried = exchange(clientID, first, rfcVerifier);
    ASSERT_TRUE(retried);
    EXPECT_EQ(retried->status, 400);
    EXPECT_EQ(oauthError(retried)["error_description"], "the authorization code has already been used");

    // The RFC's verifier for the RFC's challenge is accepted.
    const std::string second = authorizeCode(clientID);
    auto ok = exchange(clientID, second, rfcVerifier);
    ASSERT_TRUE(ok);
    ASSERT_EQ(ok->status, 200);
    EXPECT_EQ(ok->get_header_value("Cache-Control"), "no-store");
    const Json tokens = Json::parse(ok->body);
    EXPECT_EQ(tokens["token_type"], "Bearer");
    EXPECT_EQ(tokens["expires_in"], 120);
    EXPECT_EQ(tokens["scope"], scope);
    ASSERT_TRUE(tokens["access_token"].is_string());
    ASSERT_TRUE(tokens["refresh_token"].is_string());
    EXPECT_EQ(balanceStatus(tokens["access_token"].get<std::string>()), 200);

    // A code is bound to its client and redirect URI.
    const std::string third = authorizeCode(clientID);
    auto otherClient = exchange(registerClient(), third, rfcVerifier);
    ASSERT_TRUE(otherClient);
    EXPECT_EQ(otherClient->status, 400);
    EXPECT_EQ(oauthError(otherClient)["error_description"], "the authorization code was issued to another client");

    const Json counters = server.counters();
    EXPECT_EQ(counters["code_grants"]["accepted"], 1);
    EXPECT_EQ(counters["code_grants"]["rejected"], 3);
    EXPECT_EQ(counters["last_request"]["token"]["form_keys"],
        (Json { "client_id", "code", "code_verifier", "grant_type", "redirect_uri" }));
}

TEST_F(DevServerOAuthTest, RefreshRotatesAndRejectsAReusedRefreshToken)
{
    const std::string clientID = registerClient();
    auto first = exchange(clientID, authorizeCode(clientID), rfcVerifier);
    ASSERT_TRUE(first);
    const Json issued = Json::parse(first->body);
    const std::string oldRefresh = issued["refresh_token"];

    auto rotated = refresh(clientID, oldRefresh);
    ASSERT_TRUE(rotated);
    ASSERT_EQ(rotated->status, 200);
    const Json next = Json::parse(rotated->body);
    EXPECT_EQ(next["expires_in"], 120);
    EXPECT_NE(next["refresh_token"], oldRefresh);
    EXPECT_NE(next["access_token"], issued["access_token"]);
    EXPECT_EQ(balanceStatus(next["access_token"].get<std::string>()), 200);

    // The used refresh token is dead; the new one works.
    auto reused = refresh(clientID, oldRefresh);
    ASSERT_TRUE(reused);
    EXPECT_EQ(reused->status, 400);
    EXPECT_EQ(oauthError(reused)["error"], "invalid_grant");
    EXPECT_EQ(oauthError(reused)["error_description"], "the refresh token has already been used");

    auto wrongClient = refresh("velmo-cli", next["refresh_token"]);
    ASSERT_TRUE(wrongClient);
    EXPECT_EQ(wrongClient->status, 400);

    auto again = refresh(clientID, next["refresh_token"]);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->status, 200);

    const Json counters = server.counters()["refresh_grants"];
    EXPECT_EQ(counters["accepted"], 2);
    EXPECT_EQ(counters["rejected"], 2);
    EXPECT_EQ(counters["reused"], 1);
    EXPECT_EQ(server.counters()["last_request"]["token"]["form_keys"],
        (Json { "client_id", "grant_type", "refresh_token" }));
}

TEST_F(DevServerOAuthTest, TokenEndpointRefusesMalformedRequests)
{
    const auto session = server.issueSession();
    const struct {
        std::string body;
        std::string contentType;
        std::string error;
    } cases[] = {
        { Json { { "grant_type", "refresh_token" } }.dump(), "application/json", "invalid_request" },
        { "grant_type=password&username=a", "application/x-www-form-urlencoded", "unsupported_grant_type" },
        { "client_id=velmo-cli&refresh_token=x", "application/x-www-form-urlencoded", "invalid_request" },
        { "grant_type=refresh_token&client_id=velmo-cli&refresh_token=%zz", "application/x-www-form-urlencoded",
            "invalid_request" },
        { "grant_type=refresh_token&client_id=velmo-cli&refresh_token=" + session.refreshToken
                + "&refresh_token=" + session.refreshToken,
            "application/x-www-form-urlencoded", "invalid_request" },
        { "grant_type=refresh_token&client_id=velmo-cli&refresh_token=vrt_unknown",
            "application/x-www-form-urlencoded", "invalid_grant" },
        { "grant_type=authorization_code&client_id=velmo-cli&code=vac_x&redirect_uri=x&code_verifier="
                + rfcVerifier,
            "application/x-www-form-urlencoded", "invalid_grant" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        auto res = client.Post("/oauth/token", c.body, c.contentType);
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 400);
        EXPECT_EQ(oauthError(res)["error"], c.error);
    }
    // None of that spent the session's refresh token.
    auto ok = refresh("velmo-cli", session.refreshToken);
    ASSERT_TRUE(ok);
    EXPECT_EQ(ok->status, 200);
}

TEST_F(DevServerOAuthTest, ConfiguredLifetimeAppliesToTheNextTokens)
{
    EXPECT_EQ(server.setConfig({ { "expires_in", 0 } })["expires_in"], 0);
    const auto session = server.issueSession();
    EXPECT_EQ(session.expiresIn, 0);
    EXPECT_EQ(balanceStatus(session.accessToken), 401);
    server.setConfig({ { "expires_in", 900 } });
    auto res = refresh(session.clientId, session.refreshToken);
    ASSERT_TRUE(res);
    const Json tokens = Json::parse(res->body);
    EXPECT_EQ(tokens["expires_in"], 900);
    EXPECT_EQ(balanceStatus(tokens["access_token"].get<std::string>()), 200);
}

TEST_F(DevServerConsentTest, TheConsentPageApprovesOrDeniesThroughTheRedirect)
{
    const std::string clientID = registerClient();
    for (const std::string& decision : { std::string("approve"), std::string("deny") }) {
        SCOPED_TRACE(decision);
        auto page = client.Get(authorizePath(clientID, "st-" + decision));
        ASSERT_TRUE(page);
        ASSERT_EQ(page->status, 200);
        EXPECT_NE(page->get_header_value("Content-Type").find("text/html"), std::string::npos);
        EXPECT_NE(page->body.find("Velmo Usage"), std::string::npos);
        EXPECT_NE(page->body.find(">Approve</button>"), std::string::npos);
        std::smatch match;
        ASSERT_TRUE(std::regex_search(page->body, match, std::regex("name=\"request\" value=\"([^\"]+)\"")));
        const std::string form = "request=" + http::encode(match[1]) + "&decision=" + decision;

        auto redirect = client.Post("/oauth/authorize/decision", form, "application/x-www-form-urlencoded");
        ASSERT_TRUE(redirect);
        ASSERT_EQ(redirect->status, 302);
        const auto items = http::queryItems(redirect->get_header_value("Location"));
        EXPECT_EQ(items.find("state")->second, "st-" + decision);
        if (decision == "approve") {
            ASSERT_EQ(items.count("code"), 1u);
            auto tokens = exchange(clientID, items.find("code")->second, rfcVerifier);
            ASSERT_TRUE(tokens);
            EXPECT_EQ(tokens->status, 200);
        } else {
            EXPECT_EQ(items.count("code"), 0u);
            EXPECT_EQ(items.find("error")->second, "access_denied");
        }

        // A decision is taken once.
        auto replay = client.Post("/oauth/authorize/decision", form, "application/x-www-form-urlencoded");
        ASSERT_TRUE(replay);
        EXPECT_EQ(replay->status, 400);
    }
}

TEST_F(DevServerConsentTest, TheConsentPageEscapesTheClientName)
{
    const Json body { { "client_name", "<script>alert(1)</script>" }, { "redirect_uris", { redirectURI } } };
    auto reg = client.Post("/oauth/register", body.dump(), "application/json");
    ASSERT_TRUE(reg);
    ASSERT_EQ(reg->status, 201);
    auto page = client.Get(authorizePath(Json::parse(reg->body)["client_id"], "s"));
    ASSERT_TRUE(page);
    EXPECT_EQ(page->body.find("<script>"), std::string::npos);
    EXPECT_NE(page->body.find("&lt;script&gt;"), std::string::npos);
}

TEST_F(DevServerNoRotationTest, WithoutRotationTheRefreshTokenStaysAndIsNotReturned)
{
    const auto session = server.issueSession();
    for (int i = 0; i < 2; ++i) {
        auto res = refresh(session.clientId, session.refreshToken);
        ASSERT_TRUE(res);
        ASSERT_EQ(res->status, 200);
        EXPECT_FALSE(Json::parse(res->body).contains("refresh_token"));
    }
}
