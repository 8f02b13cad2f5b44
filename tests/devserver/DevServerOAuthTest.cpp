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
            { "scope", "openid profile email offline_access" },
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

} // namespace

TEST_F(DevServerOAuthTest, RegistrationReturnsAClientIDAndRefusesNonLoopbackRedirects)
{
    const std::string clientID = registerClient();
    EXPECT_NE(registerClient(), clientID);

    const struct {
        Json body;
        std::string contentType;
        std::string error;
    } refused[] = {
        { { { "redirect_uris", { "https://evil.example/callback" } } }, "application/json", "invalid_redirect_uri" },
        { { { "redirect_uris", { "http://127.0.0.1.evil.example/cb" } } }, "application/json", "invalid_redirect_uri" },
        { { { "redirect_uris", { redirectURI } }, { "token_endpoint_auth_method", "client_secret_basic" } },
            "application/json", "invalid_client_metadata" },
        { { { "redirect_uris", { redirectURI } } }, "text/plain", "invalid_client_metadata" },
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.body.dump());
        auto res = client.Post("/oauth/register", c.body.dump(), c.contentType);
        ASSERT_EQ(http::statusOf(res), 400);
        EXPECT_EQ(oauthError(res)["error"], c.error);
    }
}

TEST_F(DevServerOAuthTest, AuthorizeRedirectsOnlyToARegisteredLoopbackURI)
{
    const std::string clientID = registerClient();
    auto ok = client.Get(authorizePath(clientID, "state with spaces/+"));
    ASSERT_EQ(http::statusOf(ok), 302);
    const std::string location = ok->get_header_value("Location");
    EXPECT_EQ(location.rfind(redirectURI + "?code=", 0), 0u) << location;
    EXPECT_EQ(http::queryItems(location).find("state")->second, "state with spaces/+");

    // Unknown client or unregistered redirect: an error page, no redirect.
    for (const std::string& path : { authorizePath("vcl_unknown", "s"),
             std::regex_replace(authorizePath(clientID, "s"), std::regex("54321"), "54322") }) {
        auto res = client.Get(path);
        ASSERT_EQ(http::statusOf(res), 400);
        EXPECT_FALSE(res->has_header("Location"));
    }
    // Bad PKCE parameters go back to the client as errors.
    for (const std::string& path : { authorizePath(clientID, "s", rfcChallenge, "plain"), authorizePath(clientID, "s", "short") }) {
        auto res = client.Get(path);
        ASSERT_EQ(http::statusOf(res), 302);
        const auto items = http::queryItems(res->get_header_value("Location"));
        ASSERT_EQ(items.count("error"), 1u);
        EXPECT_EQ(items.find("error")->second, "invalid_request");
        EXPECT_EQ(items.count("code"), 0u);
    }
}

TEST_F(DevServerOAuthTest, CodeExchangeChecksThePKCEVerifierAndBurnsTheCode)
{
    const std::string clientID = registerClient();

    // A wrong verifier is refused, and the code cannot be tried again.
    const std::string first = authorizeCode(clientID);
    auto wrong = exchange(clientID, first, otherVerifier);
    ASSERT_EQ(http::statusOf(wrong), 400);
    EXPECT_EQ(oauthError(wrong)["error"], "invalid_grant");
    EXPECT_EQ(oauthError(wrong)["error_description"], "code_verifier does not match the code challenge");
    auto retried = exchange(clientID, first, rfcVerifier);
    ASSERT_EQ(http::statusOf(retried), 400);
    EXPECT_EQ(oauthError(retried)["error_description"], "the authorization code has already been used");

    // The RFC's verifier for the RFC's challenge is accepted.
    const std::string second = authorizeCode(clientID);
    auto ok = exchange(clientID, second, rfcVerifier);
    ASSERT_EQ(http::statusOf(ok), 200);
    const Json tokens = Json::parse(ok->body);
    EXPECT_EQ(tokens["expires_in"], 120);
    EXPECT_EQ(balanceStatus(tokens["access_token"].get<std::string>()), 200);

    // A code is bound to its client and redirect URI.
    const std::string third = authorizeCode(clientID);
    auto otherClient = exchange(registerClient(), third, rfcVerifier);
    ASSERT_EQ(http::statusOf(otherClient), 400);
    EXPECT_EQ(oauthError(otherClient)["error_description"], "the authorization code was issued to another client");

    EXPECT_EQ(server.counters()["code_grants"]["rejected"], 3);
}

TEST_F(DevServerOAuthTest, RefreshRotatesAndRejectsAReusedRefreshToken)
{
    const std::string clientID = registerClient();
    auto first = exchange(clientID, authorizeCode(clientID), rfcVerifier);
    ASSERT_TRUE(first);
    const Json issued = Json::parse(first->body);
    const std::string oldRefresh = issued["refresh_token"];

    auto rotated = refresh(clientID, oldRefresh);
    ASSERT_EQ(http::statusOf(rotated), 200);
    const Json next = Json::parse(rotated->body);
    EXPECT_NE(next["refresh_token"], oldRefresh);
    EXPECT_NE(next["access_token"], issued["access_token"]);
    EXPECT_EQ(balanceStatus(next["access_token"].get<std::string>()), 200);

    // The used refresh token is dead; the new one works.
    auto reused = refresh(clientID, oldRefresh);
    ASSERT_EQ(http::statusOf(reused), 400);
    EXPECT_EQ(oauthError(reused)["error"], "invalid_grant");
    EXPECT_EQ(oauthError(reused)["error_description"], "the refresh token has already been used");

    ASSERT_EQ(http::statusOf(refresh(clientID, next["refresh_token"])), 200);

    const Json counters = server.counters()["refresh_grants"];
    EXPECT_EQ(counters["accepted"], 2);
    EXPECT_EQ(counters["rejected"], 1);
    EXPECT_EQ(counters["reused"], 1);
}

TEST_F(DevServerConsentTest, TheConsentPageApprovesOrDeniesThroughTheRedirect)
{
    const std::string clientID = registerClient();
    for (const std::string& decision : { std::string("approve"), std::string("deny") }) {
        SCOPED_TRACE(decision);
        auto page = client.Get(authorizePath(clientID, "st-" + decision));
        ASSERT_EQ(http::statusOf(page), 200);
        std::smatch match;
        ASSERT_TRUE(std::regex_search(page->body, match, std::regex("name=\"request\" value=\"([^\"]+)\"")));
        const std::string form = "request=" + http::encode(match[1]) + "&decision=" + decision;

        auto redirect = client.Post("/oauth/authorize/decision", form, "application/x-www-form-urlencoded");
        ASSERT_EQ(http::statusOf(redirect), 302);
        const auto items = http::queryItems(redirect->get_header_value("Location"));
        EXPECT_EQ(items.find("state")->second, "st-" + decision);
        EXPECT_EQ(items.count("code"), decision == "approve" ? 1u : 0u);
        EXPECT_EQ(items.count("error"), decision == "approve" ? 0u : 1u);

        // A decision is taken once.
        ASSERT_EQ(http::statusOf(client.Post("/oauth/authorize/decision", form, "application/x-www-form-urlencoded")), 400);
    }
}
