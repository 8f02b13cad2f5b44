#pragma once

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velmo::devserver {

// One HTTP answer, built without touching a socket so the identity provider's
// logic can be driven and tested in-process.
struct Reply {
    int status = 200;
    std::string body;
    std::string contentType;
    std::vector<std::pair<std::string, std::string>> headers;

    static Reply json(int status, const nlohmann::json& body);
    // RFC 6749 §5.2 error: {"error": code, "error_description": description}.
    static Reply oauthError(int status, std::string_view code, std::string_view description);
    static Reply html(int status, std::string body);
    static Reply redirect(std::string location);
};

using Params = std::multimap<std::string, std::string>;

// The identity provider's part of the stand-in: dynamic client registration
// (RFC 7591), the authorization endpoint with its consent page, and the token
// endpoint (authorization code with PKCE S256, refresh token with rotation).
// It also issues and checks the access tokens the API accepts.
// Not thread-safe: the server guards it with its own lock.
class OAuthProvider {
public:
    using Clock = std::chrono::system_clock;

    enum class AuthorizeMode { consent, approve, deny };

    struct Config {
        // "expires_in" of every token reply and session; 0 issues tokens that are already expired.
        std::int64_t expiresIn = 3600;
        // Off: refresh replies carry no "refresh_token" and the old one stays valid.
        bool rotateRefreshTokens = true;
        AuthorizeMode authorize = AuthorizeMode::consent;
    };

    struct Counters {
        std::int64_t registrations = 0;
        std::int64_t codeAccepted = 0;
        std::int64_t codeRejected = 0;
        std::int64_t refreshAccepted = 0;
        std::int64_t refreshRejected = 0;
        // Rejected because the refresh token had been used already (counted in refreshRejected too).
        std::int64_t refreshReused = 0;
    };

    enum class TokenCheck { valid, missing, unknown, expired, revoked };

    // The client that sessions issued through the admin API belong to: the
    // command-line tool's own registration, present from the start.
    static constexpr std::string_view cliClientID = "velmo-cli";
    static constexpr std::int64_t codeLifetimeSeconds = 600;
    static constexpr std::size_t maxClients = 10'000;
    static constexpr std::size_t maxPendingConsents = 1'000;

    explicit OAuthProvider(Config config);

    Config& config() { return m_config; }
    const Config& config() const { return m_config; }
    const Counters& counters() const { return m_counters; }

    // POST /oauth/register
    Reply registerClient(std::string_view contentType, std::string_view body, Clock::time_point now);
    // GET /oauth/authorize
    Reply authorize(const Params& query, Clock::time_point now);
    // POST /oauth/authorize/decision (the consent page's form)
    Reply decide(std::string_view contentType, std::string_view body, Clock::time_point now);
    // POST /oauth/token
    Reply token(std::string_view contentType, std::string_view body, Clock::time_point now);

    // The value of an "Authorization" header against the access tokens issued.
    TokenCheck checkAccessToken(std::string_view authorization, Clock::time_point now) const;

    // A fresh session for `clientID` (registered on the fly when new), as the
    // admin API returns it; `expiresIn` overrides the configured lifetime.
    nlohmann::json issueSession(const std::string& clientID, std::optional<std::int64_t> expiresIn,
        Clock::time_point now);

    // Marks every access token (and, when asked, every refresh token) revoked;
    // returns how many access tokens were still live.
    std::int64_t revoke(bool refreshTokensToo, Clock::time_point now);

    // base64url(SHA-256(verifier)) without padding (RFC 7636 S256).
    static std::string challengeS256(std::string_view verifier);
    static std::string base64URL(const unsigned char* data, std::size_t size);
    // application/x-www-form-urlencoded; nothing for a malformed percent escape.
    static std::optional<Params> parseForm(std::string_view body);
    // Every byte but ASCII letters, digits and "-._~" as %XX.
    static std::string percentEncode(std::string_view text);
    // http://127.0.0.1|localhost|[::1][:port][/path][?query], no fragment.
    static bool isLoopbackRedirect(std::string_view uri);

private:
    struct Client {
        std::string name;
        std::vector<std::string> redirectURIs;
        std::string scope;
    };
    struct AuthRequest {
        std::string clientID;
        std::string redirectURI;
        std::optional<std::string> state;
        std::string challenge;
        std::string scope;
    };
    struct Code {
        AuthRequest request;
        Clock::time_point expiresAt;
        bool used = false;
    };
    struct AccessToken {
        std::string clientID;
        Clock::time_point expiresAt;
        bool revoked = false;
    };
    struct RefreshToken {
        std::string clientID;
        std::string scope;
        bool used = false;
        bool revoked = false;
    };

    Reply finishAuthorization(const AuthRequest& request, bool approved, Clock::time_point now);
    Reply codeGrant(const Params& form, Clock::time_point now);
    Reply refreshGrant(const Params& form, Clock::time_point now);
    // Access token, refresh token (empty when not issued) and the reply body.
    nlohmann::json issueTokens(const std::string& clientID, const std::string& scope, bool withRefresh,
        std::int64_t expiresIn, Clock::time_point now);
    static std::string randomToken(std::string_view prefix, std::size_t bytes);

    Config m_config;
    Counters m_counters;
    std::map<std::string, Client> m_clients;
    std::map<std::string, AuthRequest> m_pending;
    std::vector<std::string> m_pendingOrder;
    std::map<std::string, Code> m_codes;
    std::map<std::string, AccessToken> m_accessTokens;
    std::map<std::string, RefreshToken> m_refreshTokens;
};

} // namespace velmo::devserver
