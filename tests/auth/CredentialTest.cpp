#include "Credential.h"
#include "StoredTokens.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

const Timestamp now = Timestamp(std::chrono::seconds(1'700'000'000));

Credential plain(std::string token) { return { .token = std::move(token), .source = CredentialSource::app }; }

} // namespace

TEST(StoredTokensTest, CredentialIsTrimmedAndKeepsRefreshDataOnlyWhole)
{
    const struct { StoredTokens tokens; std::optional<Credential> expected; } cases[] = {
        { { .accessToken = "  sk-live-123\n", .refreshToken = "r", .clientId = "c" }, std::nullopt },
        { { .accessToken = " \t\r\n \u2028\u00a0" }, std::nullopt },
        { { "\t access-1 \n", " refresh-1\r\n", 1'700'000'000'000.0, "\u3000client-1 " },
            Credential { "access-1", CredentialSource::app, now, "refresh-1", "client-1" } },
        // Half the refresh data is none, and then the expiry goes too.
        { { .accessToken = "a", .refreshToken = "r", .expiresAt = 1.0, .clientId = "" }, plain("a") },
        { { .accessToken = "a", .refreshToken = "r", .expiresAt = 1.0, .clientId = "  \n" }, plain("a") },
        { { .accessToken = "a", .refreshToken = std::nullopt, .expiresAt = 1.0, .clientId = "c" }, plain("a") },
        { { .accessToken = "a", .refreshToken = " ", .expiresAt = 1.0, .clientId = "c" }, plain("a") },
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.tokens.credential(CredentialSource::app), c.expected) << c.tokens.accessToken;
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

TEST(CredentialTest, MaskingCountsUserPerceivedCharacters)
{
    // "é" as e + combining acute, and a flag of two code points: each one
    // character, never cut apart.
    const std::string accented = "e\u0301", flag = "\U0001F1E9\U0001F1EA";
    const auto bullets = [](int n) { std::string out; while (n--) out += "\u2022"; return out; };
    const std::pair<std::string, std::string> cases[] = {
        { "abcdefghijklm", "abcd\u2026jklm" }, { "abcdefghijkl", bullets(12) }, { "", bullets(4) }, { "abc", bullets(4) },
        { "abcde", bullets(5) }, { accented + "bcdefghijkl" + flag, accented + "bcd\u2026jkl" + flag },
        { accented + "bcdefghijk" + flag, bullets(12) },
    };
    for (const auto& [text, masked] : cases)
        EXPECT_EQ(Credential::mask(text), masked) << text;
    EXPECT_EQ(plain("eyJhbGciOiJIUzI1NiJ9.payload.sig").masked(), "eyJh\u2026.sig");
}
