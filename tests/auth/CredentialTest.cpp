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

TEST(CredentialSourceTest, RawValuesLabelsAndOrder)
{
    ASSERT_EQ(allCredentialSources.size(), 2u);
    EXPECT_EQ(allCredentialSources[0], CredentialSource::app);
    EXPECT_EQ(allCredentialSources[1], CredentialSource::cliTokens);
    EXPECT_EQ(rawValue(CredentialSource::app), "app");
    EXPECT_EQ(rawValue(CredentialSource::cliTokens), "cliTokens");
    EXPECT_EQ(label(CredentialSource::app), "Browser sign-in");
    EXPECT_EQ(label(CredentialSource::cliTokens), "velmo CLI (~/.velmo/tokens.json)");
    EXPECT_EQ(credentialSourceFromRawValue("cliTokens"), CredentialSource::cliTokens);
    EXPECT_EQ(credentialSourceFromRawValue("app"), CredentialSource::app);
    EXPECT_EQ(credentialSourceFromRawValue("App"), std::nullopt);
    EXPECT_EQ(credentialSourceFromRawValue(""), std::nullopt);
}

TEST(StoredTokensTest, APIKeyWithBlanksIsNoCredential)
{
    const StoredTokens tokens { .accessToken = "  sk-live-123\n", .refreshToken = "r", .clientId = "c" };
    EXPECT_TRUE(tokens.isAPIKey());
    EXPECT_EQ(tokens.credential(CredentialSource::app), std::nullopt);
    EXPECT_FALSE((StoredTokens { .accessToken = "tok-sk-1" }.isAPIKey()));
}

TEST(StoredTokensTest, BlankTokenIsNoCredential)
{
    EXPECT_EQ((StoredTokens { .accessToken = " \t\r\n \u2028\u00a0" }.credential(CredentialSource::app)), std::nullopt);
    EXPECT_EQ((StoredTokens { .accessToken = "" }.credential(CredentialSource::cliTokens)), std::nullopt);
}

TEST(StoredTokensTest, CredentialTrimsEverything)
{
    const StoredTokens tokens {
        .accessToken = "\t access-1 \n",
        .refreshToken = " refresh-1\r\n",
        .expiresAt = 1'700'000'000'000.0,
        .clientId = "\u3000client-1 ",
    };
    const auto credential = tokens.credential(CredentialSource::cliTokens);
    ASSERT_TRUE(credential);
    EXPECT_EQ(credential->token, "access-1");
    EXPECT_EQ(credential->source, CredentialSource::cliTokens);
    EXPECT_EQ(credential->refreshToken, "refresh-1");
    EXPECT_EQ(credential->clientID, "client-1");
    EXPECT_EQ(credential->expiresAt, at(1'700'000'000));
    EXPECT_TRUE(credential->canRefresh());
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

TEST(StoredTokensTest, ExpiryIsInMilliseconds)
{
    const StoredTokens tokens { .accessToken = "a", .expiresAt = 1.7e12 };
    ASSERT_TRUE(tokens.expiryDate());
    // 1.7e12 ms is 2023-11-14T22:13:20Z.
    EXPECT_EQ(*tokens.expiryDate(), at(1'700'000'000));
    EXPECT_EQ(VelmoJSON::formatDate(*tokens.expiryDate()), "2023-11-14T22:13:20Z");
    const StoredTokens fractional { .accessToken = "a", .expiresAt = 1500.5 };
    EXPECT_EQ(fractional.expiryDate()->time_since_epoch(), std::chrono::microseconds(1'500'500));
    EXPECT_EQ((StoredTokens { .accessToken = "a" }.expiryDate()), std::nullopt);
}

TEST(StoredTokensTest, AbsurdExpiryIsClampedNotOverflowed)
{
    const StoredTokens far { .accessToken = "a", .expiresAt = 1e300 };
    const StoredTokens past { .accessToken = "a", .expiresAt = -1e300 };
    EXPECT_EQ(far.expiryDate(), Timestamp::max());
    EXPECT_EQ(past.expiryDate(), Timestamp::min());
}

TEST(StoredTokensTest, JSONWithOnlyTheAccessToken)
{
    const auto tokens = VelmoJSON::decode<StoredTokens>(R"({"accessToken":"a"})");
    EXPECT_EQ(tokens, (StoredTokens { .accessToken = "a" }));
    EXPECT_EQ(VelmoJSON::encode(tokens), R"({"accessToken":"a"})");
}

TEST(StoredTokensTest, JSONRoundTripNullsAndUnknownKeys)
{
    const auto tokens = VelmoJSON::decode<StoredTokens>(
        R"({"accessToken":"a","refreshToken":null,"expiresAt":1700000000123.5,"clientId":"c","extra":[1,{"x":2}]})");
    EXPECT_EQ(tokens, (StoredTokens { .accessToken = "a", .expiresAt = 1700000000123.5, .clientId = "c" }));
    EXPECT_EQ(VelmoJSON::decode<StoredTokens>(VelmoJSON::encode(tokens)), tokens);
    // Whole milliseconds are written as an integer.
    const StoredTokens whole { .accessToken = "a", .refreshToken = "r", .expiresAt = 1.7e12, .clientId = "c" };
    EXPECT_EQ(VelmoJSON::encode(whole), R"({"accessToken":"a","clientId":"c","expiresAt":1700000000000,"refreshToken":"r"})");
    EXPECT_EQ(VelmoJSON::decode<StoredTokens>(VelmoJSON::encode(whole)), whole);
}

TEST(StoredTokensTest, MalformedJSONFailsToDecode)
{
    for (const char* text : {
             R"({"refreshToken":"r"})",
             R"({"accessToken":null})",
             R"({"accessToken":"a","expiresAt":"1700000000000"})",
             R"({"accessToken":42})",
             R"({"accessToken":"a","refreshToken":7})",
             R"({"accessToken":"a","clientId":false})",
             R"(["accessToken","a"])",
             R"("a")",
             "",
             "{",
             "not json",
         }) {
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

TEST(CredentialTest, CanRefreshNeedsBothNonEmpty)
{
    EXPECT_TRUE((Credential { .token = "t", .refreshToken = "r", .clientID = "c" }.canRefresh()));
    EXPECT_FALSE((Credential { .token = "t", .refreshToken = "", .clientID = "c" }.canRefresh()));
    EXPECT_FALSE((Credential { .token = "t", .refreshToken = "r", .clientID = "" }.canRefresh()));
    EXPECT_FALSE((Credential { .token = "t", .refreshToken = "r" }.canRefresh()));
    EXPECT_FALSE((Credential { .token = "t" }.canRefresh()));
}

TEST(CredentialTest, EqualityCoversEveryField)
{
    const Credential base { .token = "t", .source = CredentialSource::app, .expiresAt = at(5), .refreshToken = "r", .clientID = "c" };
    Credential other = base;
    EXPECT_EQ(base, other);
    other.source = CredentialSource::cliTokens;
    EXPECT_NE(base, other);
    other = base;
    other.expiresAt = at(6);
    EXPECT_NE(base, other);
    other = base;
    other.clientID = "d";
    EXPECT_NE(base, other);
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
