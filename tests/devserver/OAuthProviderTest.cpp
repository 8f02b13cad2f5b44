// The identity provider's helpers, in-process.
#include "OAuthProvider.h"

#include <gtest/gtest.h>

using namespace velmo::devserver;

TEST(OAuthProviderTest, ChallengeMatchesTheRFC7636Example)
{
    EXPECT_EQ(OAuthProvider::challengeS256("dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk"),
        "E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM");
    const unsigned char bytes[] = { 0xfb, 0xff, 0x01 };
    EXPECT_EQ(OAuthProvider::base64URL(bytes, 2), "-_8");
}

TEST(OAuthProviderTest, FormParsingDecodesAndRefusesBrokenEscapes)
{
    const auto form = OAuthProvider::parseForm("a=1&b=x%20y+z&c=&d&a=2");
    ASSERT_TRUE(form.has_value());
    EXPECT_EQ(form->count("a"), 2u);
    EXPECT_EQ(form->find("b")->second, "x y z");
    EXPECT_EQ(form->find("c")->second, "");
    EXPECT_EQ(form->find("d")->second, "");
    for (const char* bad : { "a=%", "a=%2", "a=%zz", "%g1=x" })
        EXPECT_FALSE(OAuthProvider::parseForm(bad).has_value()) << bad;
    EXPECT_EQ(OAuthProvider::percentEncode("a b/~é"), "a%20b%2F~%C3%A9");
}

TEST(OAuthProviderTest, OnlyLoopbackHTTPRedirectsAreAccepted)
{
    for (const char* ok : { "http://127.0.0.1:5000/callback", "http://localhost/cb", "http://[::1]:8080/cb?x=1" }) {
        EXPECT_TRUE(OAuthProvider::isLoopbackRedirect(ok)) << ok;
    }
    for (const char* bad : { "https://127.0.0.1/cb", "http://127.0.0.1.evil.example/cb", "http://127.0.0.1:99999/cb",
             "http://127.0.0.1/cb#frag", "http://a@127.0.0.1/", "http://[::1", "" }) {
        EXPECT_FALSE(OAuthProvider::isLoopbackRedirect(bad)) << bad;
    }
}

TEST(OAuthProviderTest, RevokedAndExpiredTokensAreToldApart)
{
    OAuthProvider provider({ .expiresIn = 60 });
    const auto now = OAuthProvider::Clock::now();
    const auto session = provider.issueSession("velmo-cli", std::nullopt, now);
    const std::string header = "Bearer " + session["access_token"].get<std::string>();
    EXPECT_EQ(provider.checkAccessToken(header, now), OAuthProvider::TokenCheck::valid);
    EXPECT_EQ(provider.checkAccessToken(header, now + std::chrono::seconds(60)), OAuthProvider::TokenCheck::expired);
    EXPECT_EQ(provider.checkAccessToken("Bearer ", now), OAuthProvider::TokenCheck::missing);
    EXPECT_EQ(provider.revoke(false, now), 1);
    EXPECT_EQ(provider.checkAccessToken(header, now), OAuthProvider::TokenCheck::revoked);
}
