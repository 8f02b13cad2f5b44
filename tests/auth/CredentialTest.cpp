#include "Credential.h"
#include "CredentialSource.h"
#include "StoredTokens.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace std::chrono_literals;

namespace {

Timestamp at(std::int64_t epochSeconds)
{
    return Timestamp(std::chrono::seconds(epochSeconds));
}

} // namespace

TEST(StoredTokensTest, APIKeyOrBlankTokenIsNoCredential)
{
    const StoredTokens key { .accessToken = "  sk-live-123\n", .refreshToken = "r", .clientId = "c" };
    EXPECT_TRUE(key.isAPIKey());
    EXPECT_EQ(key.credential(CredentialSource::app), std::nullopt);
    EXPECT_FALSE((StoredTokens { .accessToken = "tok-sk-1" }.isAPIKey()));
    EXPECT_EQ((StoredTokens { .accessToken = " \t\r\n \u2028\u00a0" }.credential(CredentialSource::app)), std::nullopt);
}

TEST(StoredTokensTest, CredentialTrimsEverything)
{
    const StoredTokens tokens { "\t access-1 \n", " refresh-1\r\n", 1'700'000'000'000.0, "\u3000client-1 " };
    EXPECT_EQ(tokens.credential(CredentialSource::cliTokens),
        (Credential { "access-1", CredentialSource::cliTokens, at(1'700'000'000), "refresh-1", "client-1" }));
}

TEST(StoredTokensTest, HalfTheRefreshDataMeansNoneAndNoExpiry)
{
    const Timestamp now = at(1'700'000'000);
    const std::vector<StoredTokens> cases {
        { .accessToken = "a", .refreshToken = "r", .expiresAt = 1.0, .clientId = "" },
        { .accessToken = "a", .refreshToken = "r", .expiresAt = 1.0, .clientId = "  \n" },
        { .accessToken = "a", .refreshToken = std::nullopt, .expiresAt = 1.0, .clientId = "c" },
        { .accessToken = "a", .refreshToken = " ", .expiresAt = 1.0, .clientId = "c" },
        { .accessToken = "a", .refreshToken = "r", .expiresAt = 1.0, .clientId = std::nullopt },
    };
    for (const auto& tokens : cases) {
        const auto credential = tokens.credential(CredentialSource::app);
        ASSERT_TRUE(credential);
        EXPECT_EQ(credential->token, "a");
        EXPECT_EQ(credential->refreshToken, std::nullopt);
        EXPECT_EQ(credential->clientID, std::nullopt);
        EXPECT_EQ(credential->expiresAt, std::nullopt);
        EXPECT_FALSE(credential->canRefresh());
        EXPECT_FALSE(credential->isExpired(now));
    }
}

TEST(StoredTokensTest, ExpiryIsInMillisecondsAndClamped)
{
    EXPECT_EQ((StoredTokens { .accessToken = "a", .expiresAt = 1500.5 }.expiryDate()->time_since_epoch()),
        std::chrono::microseconds(1'500'500));
    EXPECT_EQ((StoredTokens { .accessToken = "a" }.expiryDate()), std::nullopt);
    EXPECT_EQ((StoredTokens { .accessToken = "a", .expiresAt = 1e300 }.expiryDate()), Timestamp::max());
    EXPECT_EQ((StoredTokens { .accessToken = "a", .expiresAt = -1e300 }.expiryDate()), Timestamp::min());
}

TEST(StoredTokensTest, JSON)
{
    EXPECT_EQ(VelmoJSON::encode(VelmoJSON::decode<StoredTokens>(R"({"accessToken":"a"})")), R"({"accessToken":"a"})");
    const auto tokens = VelmoJSON::decode<StoredTokens>(
        R"({"accessToken":"a","refreshToken":null,"expiresAt":1700000000123.5,"clientId":"c","extra":[1,{"x":2}]})");
    EXPECT_EQ(tokens, (StoredTokens { .accessToken = "a", .expiresAt = 1700000000123.5, .clientId = "c" }));
    EXPECT_EQ(VelmoJSON::decode<StoredTokens>(VelmoJSON::encode(tokens)), tokens);
    // Whole milliseconds are written as an integer.
    const StoredTokens whole { .accessToken = "a", .refreshToken = "r", .expiresAt = 1.7e12, .clientId = "c" };
    EXPECT_EQ(VelmoJSON::encode(whole), R"({"accessToken":"a","clientId":"c","expiresAt":1700000000000,"refreshToken":"r"})");

    for (const char* text : { R"({"refreshToken":"r"})", R"({"accessToken":null})",
             R"({"accessToken":"a","expiresAt":"1700000000000"})", R"({"accessToken":"a","refreshToken":7})",
             R"(["accessToken","a"])", "", "{" }) {
        EXPECT_THROW(VelmoJSON::decode<StoredTokens>(text), VelmoJSON::DecodingError) << text;
    }
}

TEST(CredentialTest, ExpiryMarginIsSixtySeconds)
{
    const Timestamp now = at(1'700'000'000);
    Credential credential { .token = "t", .expiresAt = now + 60s, .refreshToken = "r", .clientID = "c" };
    EXPECT_TRUE(credential.isExpired(now));
    credential.expiresAt = now + 61s;
    EXPECT_FALSE(credential.isExpired(now));
    credential.expiresAt = now - 3600s;
    EXPECT_TRUE(credential.isExpired(now));
    credential.expiresAt.reset();
    EXPECT_FALSE(credential.isExpired(now));
}

TEST(CredentialTest, Masking)
{
    EXPECT_EQ(Credential::mask("abcdefghijklm"), "abcd\u2026jklm");
    EXPECT_EQ(Credential::mask("abcdefghijkl"), "\u2022\u2022\u2022\u2022\u2022\u2022\u2022\u2022\u2022\u2022\u2022\u2022");
    EXPECT_EQ(Credential::mask(""), "\u2022\u2022\u2022\u2022");
    EXPECT_EQ(Credential::mask("abc"), "\u2022\u2022\u2022\u2022");
    EXPECT_EQ(Credential::mask("abcde"), "\u2022\u2022\u2022\u2022\u2022");
    EXPECT_EQ((Credential { .token = "eyJhbGciOiJIUzI1NiJ9.payload.sig" }.masked()), "eyJh\u2026.sig");
}

TEST(CredentialTest, MaskingCountsUserPerceivedCharacters)
{
    // "é" as e + combining acute, and a flag made of two code points: each
    // one character, never cut apart.
    const std::string accented = "e\u0301";
    const std::string flag = "\U0001F1E9\U0001F1EA";
    const std::string thirteen = accented + "bcdefghijkl" + flag;
    EXPECT_EQ(Credential::mask(thirteen), accented + "bcd\u2026jkl" + flag);
    // Twelve user-perceived characters (more code points) still mask whole.
    const std::string twelve = accented + "bcdefghijk" + flag;
    std::string bullets;
    for (int i = 0; i < 12; ++i)
        bullets += "\u2022";
    EXPECT_EQ(Credential::mask(twelve), bullets);
}
