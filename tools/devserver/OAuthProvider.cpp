#include "OAuthProvider.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <stdexcept>

namespace velmo::devserver {

namespace {

using Json = nlohmann::json;

bool startsWith(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

// Media type without parameters, lower-cased: "application/json; charset=utf-8" → "application/json".
std::string mediaType(std::string_view contentType)
{
    std::string type(contentType.substr(0, contentType.find(';')));
    while (!type.empty() && (type.back() == ' ' || type.back() == '\t'))
        type.pop_back();
    std::transform(type.begin(), type.end(), type.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return type;
}

std::string htmlEscape(std::string_view text)
{
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string page(std::string_view title, std::string_view inner)
{
    std::string html = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>";
    html += htmlEscape(title);
    html += "</title><style>body{font-family:sans-serif;max-width:32em;margin:4em auto;color:#222}"
            "button{font-size:1em;padding:.5em 1.5em;margin-right:1em}code{background:#eee;padding:0 .2em}</style>"
            "</head><body>\n";
    html += inner;
    html += "\n</body></html>\n";
    return html;
}

// The one value of a parameter; nothing when absent or repeated (RFC 6749 §3.1).
std::optional<std::string> single(const Params& params, const std::string& key, bool& repeated)
{
    const auto count = params.count(key);
    if (count > 1)
        repeated = true;
    if (count != 1)
        return std::nullopt;
    return params.find(key)->second;
}

bool isUnreserved(unsigned char c)
{
    return std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~';
}

bool isBase64URL(std::string_view text)
{
    return std::all_of(text.begin(), text.end(),
        [](unsigned char c) { return std::isalnum(c) || c == '-' || c == '_'; });
}

std::int64_t epochMillis(OAuthProvider::Clock::time_point t)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
}

} // namespace

Reply Reply::json(int status, const Json& body)
{
    return Reply { status, body.dump(), "application/json", {} };
}

Reply Reply::oauthError(int status, std::string_view code, std::string_view description)
{
    Reply r = json(status, Json { { "error", code }, { "error_description", description } });
    r.headers.emplace_back("Cache-Control", "no-store");
    return r;
}

Reply Reply::html(int status, std::string body)
{
    return Reply { status, std::move(body), "text/html; charset=utf-8", {} };
}

Reply Reply::redirect(std::string location)
{
    Reply r { 302, {}, {}, {} };
    r.headers.emplace_back("Location", std::move(location));
    r.headers.emplace_back("Cache-Control", "no-store");
    return r;
}

OAuthProvider::OAuthProvider(Config config)
    : m_config(config)
{
    m_clients.emplace(std::string(cliClientID),
        Client { "velmo CLI", {}, "openid profile email offline_access" });
}

// --- helpers ---------------------------------------------------------------

std::string OAuthProvider::base64URL(const unsigned char* data, std::size_t size)
{
    static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    std::string out;
    out.reserve((size * 4 + 2) / 3);
    std::size_t i = 0;
    for (; i + 3 <= size; i += 3) {
        const std::uint32_t n = (std::uint32_t(data[i]) << 16) | (std::uint32_t(data[i + 1]) << 8) | data[i + 2];
        out += alphabet[(n >> 18) & 63];
        out += alphabet[(n >> 12) & 63];
        out += alphabet[(n >> 6) & 63];
        out += alphabet[n & 63];
    }
    if (size - i == 1) {
        const std::uint32_t n = std::uint32_t(data[i]) << 16;
        out += alphabet[(n >> 18) & 63];
        out += alphabet[(n >> 12) & 63];
    } else if (size - i == 2) {
        const std::uint32_t n = (std::uint32_t(data[i]) << 16) | (std::uint32_t(data[i + 1]) << 8);
        out += alphabet[(n >> 18) & 63];
        out += alphabet[(n >> 12) & 63];
        out += alphabet[(n >> 6) & 63];
    }
    return out;
}

std::string OAuthProvider::challengeS256(std::string_view verifier)
{
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest {};
    unsigned int length = 0;
    if (EVP_Digest(verifier.data(), verifier.size(), digest.data(), &length, EVP_sha256(), nullptr) != 1)
        throw std::runtime_error("SHA-256 failed");
    return base64URL(digest.data(), length);
}

std::string OAuthProvider::randomToken(std::string_view prefix, std::size_t bytes)
{
    std::vector<unsigned char> buffer(bytes);
    if (RAND_bytes(buffer.data(), static_cast<int>(buffer.size())) != 1)
        throw std::runtime_error("the system random generator failed");
    return std::string(prefix) + base64URL(buffer.data(), buffer.size());
}

std::optional<Params> OAuthProvider::parseForm(std::string_view body)
{
    const auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    };
    const auto decode = [&](std::string_view text) -> std::optional<std::string> {
        std::string out;
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '+') {
                out += ' ';
            } else if (text[i] == '%') {
                if (i + 2 >= text.size())
                    return std::nullopt;
                const int hi = hex(text[i + 1]);
                const int lo = hex(text[i + 2]);
                if (hi < 0 || lo < 0)
                    return std::nullopt;
                out += static_cast<char>(hi * 16 + lo);
                i += 2;
            } else {
                out += text[i];
            }
        }
        return out;
    };

    Params params;
    std::size_t from = 0;
    while (from <= body.size()) {
        const std::size_t amp = body.find('&', from);
        const std::string_view pair = body.substr(from, amp == std::string_view::npos ? std::string_view::npos : amp - from);
        if (!pair.empty()) {
            const std::size_t eq = pair.find('=');
            const auto key = decode(pair.substr(0, eq));
            const auto value = decode(eq == std::string_view::npos ? std::string_view {} : pair.substr(eq + 1));
            if (!key || !value)
                return std::nullopt;
            params.emplace(*key, *value);
        }
        if (amp == std::string_view::npos)
            break;
        from = amp + 1;
    }
    return params;
}

std::string OAuthProvider::percentEncode(std::string_view text)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (isUnreserved(c)) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += digits[c >> 4];
            out += digits[c & 15];
        }
    }
    return out;
}

bool OAuthProvider::isLoopbackRedirect(std::string_view uri)
{
    if (!startsWith(uri, "http://"))
        return false;
    if (std::any_of(uri.begin(), uri.end(), [](unsigned char c) { return c <= 0x20 || c >= 0x7f || c == '#'; }))
        return false;
    std::string_view rest = uri.substr(7);
    const std::size_t end = rest.find_first_of("/?");
    std::string_view authority = rest.substr(0, end);
    if (authority.find('@') != std::string_view::npos)
        return false;

    std::string_view host;
    std::string_view port;
    bool hasPort = false;
    if (startsWith(authority, "[")) {
        const std::size_t close = authority.find(']');
        if (close == std::string_view::npos)
            return false;
        host = authority.substr(0, close + 1);
        const std::string_view after = authority.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != ':')
                return false;
            hasPort = true;
            port = after.substr(1);
        }
    } else {
        const std::size_t colon = authority.find(':');
        host = authority.substr(0, colon);
        if (colon != std::string_view::npos) {
            hasPort = true;
            port = authority.substr(colon + 1);
        }
    }
    if (host != "127.0.0.1" && host != "localhost" && host != "[::1]")
        return false;
    if (hasPort) {
        if (port.empty() || port.size() > 5 || !std::all_of(port.begin(), port.end(), [](unsigned char c) { return std::isdigit(c); }))
            return false;
        const int n = std::stoi(std::string(port));
        if (n < 1 || n > 65535)
            return false;
    }
    return true;
}

// --- registration ----------------------------------------------------------

Reply OAuthProvider::registerClient(std::string_view contentType, std::string_view body, Clock::time_point now)
{
    if (mediaType(contentType) != "application/json")
        return Reply::oauthError(400, "invalid_client_metadata", "the registration must be sent as application/json");
    const Json metadata = Json::parse(body, nullptr, false);
    if (metadata.is_discarded() || !metadata.is_object())
        return Reply::oauthError(400, "invalid_client_metadata", "the registration body is not a JSON object");

    const auto stringArray = [&](const char* key, std::vector<std::string>& out) {
        if (!metadata.contains(key))
            return true;
        const Json& v = metadata.at(key);
        if (!v.is_array())
            return false;
        for (const Json& item : v) {
            if (!item.is_string())
                return false;
            out.push_back(item.get<std::string>());
        }
        return true;
    };

    std::vector<std::string> redirectURIs;
    if (!stringArray("redirect_uris", redirectURIs) || redirectURIs.empty())
        return Reply::oauthError(400, "invalid_redirect_uri", "redirect_uris must be a non-empty array of strings");
    for (const std::string& uri : redirectURIs) {
        if (!isLoopbackRedirect(uri))
            return Reply::oauthError(400, "invalid_redirect_uri",
                "only http loopback redirect URIs (127.0.0.1, localhost, [::1]) are allowed");
    }

    std::vector<std::string> grantTypes;
    if (!stringArray("grant_types", grantTypes))
        return Reply::oauthError(400, "invalid_client_metadata", "grant_types must be an array of strings");
    if (grantTypes.empty())
        grantTypes = { "authorization_code" };
    for (const std::string& g : grantTypes) {
        if (g != "authorization_code" && g != "refresh_token")
            return Reply::oauthError(400, "invalid_client_metadata", "unsupported grant type " + g);
    }

    std::vector<std::string> responseTypes;
    if (!stringArray("response_types", responseTypes))
        return Reply::oauthError(400, "invalid_client_metadata", "response_types must be an array of strings");
    if (responseTypes.empty())
        responseTypes = { "code" };
    if (responseTypes != std::vector<std::string> { "code" })
        return Reply::oauthError(400, "invalid_client_metadata", "only the response type code is supported");

    const auto text = [&](const char* key, std::string fallback) -> std::optional<std::string> {
        if (!metadata.contains(key))
            return fallback;
        if (!metadata.at(key).is_string())
            return std::nullopt;
        return metadata.at(key).get<std::string>();
    };
    const auto authMethod = text("token_endpoint_auth_method", "none");
    if (!authMethod || *authMethod != "none")
        return Reply::oauthError(400, "invalid_client_metadata",
            "public clients only: token_endpoint_auth_method must be none");
    const auto name = text("client_name", "");
    const auto scope = text("scope", "openid");
    if (!name || !scope)
        return Reply::oauthError(400, "invalid_client_metadata", "client_name and scope must be strings");

    if (m_clients.size() >= maxClients)
        return Reply::oauthError(400, "invalid_client_metadata", "too many clients registered; reset the dev server");

    const std::string clientID = randomToken("vcl_", 12);
    m_clients.emplace(clientID, Client { *name, redirectURIs, *scope });
    ++m_counters.registrations;

    return Reply::json(201,
        Json {
            { "client_id", clientID },
            { "client_id_issued_at", std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count() },
            { "client_name", *name },
            { "redirect_uris", redirectURIs },
            { "grant_types", grantTypes },
            { "response_types", responseTypes },
            { "token_endpoint_auth_method", "none" },
            { "scope", *scope },
        });
}

// --- authorization -----------------------------------------------------------

Reply OAuthProvider::authorize(const Params& query, Clock::time_point now)
{
    bool repeated = false;
    const auto clientID = single(query, "client_id", repeated);
    const auto redirectURI = single(query, "redirect_uri", repeated);

    // Without a known client and one of its redirect URIs there is nowhere
    // safe to send an error: show it here instead (RFC 6749 §4.1.2.1).
    const auto client = clientID ? m_clients.find(*clientID) : m_clients.end();
    if (client == m_clients.end())
        return Reply::html(400, page("Sign-in error", "<h1>Sign-in error</h1><p>Unknown client.</p>"));
    if (!redirectURI
        || std::find(client->second.redirectURIs.begin(), client->second.redirectURIs.end(), *redirectURI)
            == client->second.redirectURIs.end())
        return Reply::html(400,
            page("Sign-in error", "<h1>Sign-in error</h1><p>The redirect URI is not registered for this client.</p>"));

    AuthRequest request;
    request.clientID = *clientID;
    request.redirectURI = *redirectURI;
    request.state = single(query, "state", repeated);
    const auto responseType = single(query, "response_type", repeated);
    const auto challenge = single(query, "code_challenge", repeated);
    const auto method = single(query, "code_challenge_method", repeated);
    request.scope = single(query, "scope", repeated).value_or(client->second.scope);

    const auto fail = [&](std::string_view code, std::string_view description) {
        std::string location = request.redirectURI;
        location += request.redirectURI.find('?') == std::string::npos ? '?' : '&';
        location += "error=" + percentEncode(code) + "&error_description=" + percentEncode(description);
        if (request.state)
            location += "&state=" + percentEncode(*request.state);
        return Reply::redirect(location);
    };
    if (repeated)
        return fail("invalid_request", "a parameter was sent more than once");
    if (!responseType || *responseType != "code")
        return fail("unsupported_response_type", "response_type must be code");
    if (!method || *method != "S256")
        return fail("invalid_request", "code_challenge_method must be S256");
    if (!challenge || challenge->size() != 43 || !isBase64URL(*challenge))
        return fail("invalid_request", "code_challenge must be 43 base64url characters");
    request.challenge = *challenge;

    switch (m_config.authorize) {
    case AuthorizeMode::approve:
        return finishAuthorization(request, true, now);
    case AuthorizeMode::deny:
        return finishAuthorization(request, false, now);
    case AuthorizeMode::consent:
        break;
    }

    if (m_pendingOrder.size() >= maxPendingConsents) {
        m_pending.erase(m_pendingOrder.front());
        m_pendingOrder.erase(m_pendingOrder.begin());
    }
    const std::string id = randomToken("req_", 12);
    m_pending.emplace(id, request);
    m_pendingOrder.push_back(id);

    const std::string appName = client->second.name.empty() ? std::string("An application") : client->second.name;
    std::string inner = "<h1>Velmo sign-in</h1>\n<p><strong>" + htmlEscape(appName)
        + "</strong> wants to access your Velmo account.</p>\n<p>Scope: <code>" + htmlEscape(request.scope)
        + "</code></p>\n<p>After you decide, the browser returns to <code>" + htmlEscape(request.redirectURI)
        + "</code>.</p>\n<form method=\"post\" action=\"/oauth/authorize/decision\">"
          "<input type=\"hidden\" name=\"request\" value=\""
        + htmlEscape(id)
        + "\"><button type=\"submit\" name=\"decision\" value=\"approve\" id=\"approve\">Approve</button>"
          "<button type=\"submit\" name=\"decision\" value=\"deny\" id=\"deny\">Deny</button></form>\n"
          "<p><small>velmo-devserver: a local stand-in, no real account is involved.</small></p>";
    return Reply::html(200, page("Velmo sign-in", inner));
}

Reply OAuthProvider::decide(std::string_view contentType, std::string_view body, Clock::time_point now)
{
    const auto form = mediaType(contentType) == "application/x-www-form-urlencoded" ? parseForm(body) : std::nullopt;
    bool repeated = false;
    const auto id = form ? single(*form, "request", repeated) : std::nullopt;
    const auto decision = form ? single(*form, "decision", repeated) : std::nullopt;
    const auto it = id ? m_pending.find(*id) : m_pending.end();
    if (it == m_pending.end() || !decision || (*decision != "approve" && *decision != "deny"))
        return Reply::html(400,
            page("Sign-in error",
                "<h1>Sign-in error</h1><p>This sign-in request is unknown or was already answered.</p>"));

    const AuthRequest request = it->second;
    m_pending.erase(it);
    m_pendingOrder.erase(std::remove(m_pendingOrder.begin(), m_pendingOrder.end(), *id), m_pendingOrder.end());
    return finishAuthorization(request, *decision == "approve", now);
}

Reply OAuthProvider::finishAuthorization(const AuthRequest& request, bool approved, Clock::time_point now)
{
    std::string location = request.redirectURI;
    location += request.redirectURI.find('?') == std::string::npos ? '?' : '&';
    if (approved) {
        const std::string code = randomToken("vac_", 24);
        m_codes.emplace(code, Code { request, now + std::chrono::seconds(codeLifetimeSeconds), false });
        location += "code=" + percentEncode(code);
    } else {
        location += "error=access_denied&error_description=" + percentEncode("The user denied the request");
    }
    if (request.state)
        location += "&state=" + percentEncode(*request.state);
    return Reply::redirect(location);
}

// --- token endpoint ----------------------------------------------------------

Reply OAuthProvider::token(std::string_view contentType, std::string_view body, Clock::time_point now)
{
    if (mediaType(contentType) != "application/x-www-form-urlencoded")
        return Reply::oauthError(400, "invalid_request", "the token request must be application/x-www-form-urlencoded");
    const auto form = parseForm(body);
    if (!form)
        return Reply::oauthError(400, "invalid_request", "the form body is malformed");
    for (const auto& [key, value] : *form) {
        if (form->count(key) > 1)
            return Reply::oauthError(400, "invalid_request", key + " was sent more than once");
    }
    const auto grant = form->find("grant_type");
    if (grant == form->end())
        return Reply::oauthError(400, "invalid_request", "missing grant_type");
    if (grant->second == "authorization_code")
        return codeGrant(*form, now);
    if (grant->second == "refresh_token")
        return refreshGrant(*form, now);
    return Reply::oauthError(400, "unsupported_grant_type", "grant_type must be authorization_code or refresh_token");
}

Reply OAuthProvider::codeGrant(const Params& form, Clock::time_point now)
{
    const auto reject = [&](std::string_view code, std::string_view description) {
        ++m_counters.codeRejected;
        return Reply::oauthError(400, code, description);
    };
    for (const char* key : { "code", "redirect_uri", "client_id", "code_verifier" }) {
        if (form.find(key) == form.end())
            return reject("invalid_request", std::string("missing ") + key);
    }
    const std::string& codeText = form.find("code")->second;
    const std::string& clientID = form.find("client_id")->second;
    const std::string& redirectURI = form.find("redirect_uri")->second;
    const std::string& verifier = form.find("code_verifier")->second;

    const auto it = m_codes.find(codeText);
    if (it == m_codes.end())
        return reject("invalid_grant", "the authorization code is invalid");
    Code& code = it->second;
    if (code.used)
        return reject("invalid_grant", "the authorization code has already been used");
    // A code is good for one attempt, right or wrong, so a verifier cannot be guessed.
    code.used = true;
    if (now >= code.expiresAt)
        return reject("invalid_grant", "the authorization code has expired");
    if (code.request.clientID != clientID)
        return reject("invalid_grant", "the authorization code was issued to another client");
    if (code.request.redirectURI != redirectURI)
        return reject("invalid_grant", "redirect_uri does not match the authorization request");
    if (verifier.size() < 43 || verifier.size() > 128
        || !std::all_of(verifier.begin(), verifier.end(), [](unsigned char c) { return isUnreserved(c); }))
        return reject("invalid_grant", "code_verifier must be 43 to 128 unreserved characters");
    if (challengeS256(verifier) != code.request.challenge)
        return reject("invalid_grant", "code_verifier does not match the code challenge");

    ++m_counters.codeAccepted;
    Reply r = Reply::json(200, issueTokens(clientID, code.request.scope, true, m_config.expiresIn, now));
    r.headers.emplace_back("Cache-Control", "no-store");
    return r;
}

Reply OAuthProvider::refreshGrant(const Params& form, Clock::time_point now)
{
    const auto reject = [&](std::string_view code, std::string_view description) {
        ++m_counters.refreshRejected;
        return Reply::oauthError(400, code, description);
    };
    const auto refresh = form.find("refresh_token");
    const auto clientID = form.find("client_id");
    if (refresh == form.end())
        return reject("invalid_request", "missing refresh_token");
    if (clientID == form.end())
        return reject("invalid_request", "missing client_id");

    const auto it = m_refreshTokens.find(refresh->second);
    if (it == m_refreshTokens.end())
        return reject("invalid_grant", "the refresh token is invalid");
    RefreshToken& token = it->second;
    if (token.revoked)
        return reject("invalid_grant", "the refresh token has been revoked");
    if (token.used) {
        ++m_counters.refreshReused;
        return reject("invalid_grant", "the refresh token has already been used");
    }
    if (token.clientID != clientID->second)
        return reject("invalid_grant", "the refresh token was issued to another client");

    ++m_counters.refreshAccepted;
    const bool rotate = m_config.rotateRefreshTokens;
    if (rotate)
        token.used = true;
    const std::string scope = token.scope; // issueTokens may rehash the map
    Reply r = Reply::json(200, issueTokens(clientID->second, scope, rotate, m_config.expiresIn, now));
    r.headers.emplace_back("Cache-Control", "no-store");
    return r;
}

Json OAuthProvider::issueTokens(const std::string& clientID, const std::string& scope, bool withRefresh,
    std::int64_t expiresIn, Clock::time_point now)
{
    const std::string access = randomToken("vat_", 24);
    m_accessTokens.emplace(access, AccessToken { clientID, now + std::chrono::seconds(expiresIn), false });
    Json reply {
        { "access_token", access },
        { "token_type", "Bearer" },
        { "expires_in", expiresIn },
        { "scope", scope },
    };
    if (withRefresh) {
        const std::string refresh = randomToken("vrt_", 24);
        m_refreshTokens.emplace(refresh, RefreshToken { clientID, scope, false, false });
        reply["refresh_token"] = refresh;
    }
    return reply;
}

OAuthProvider::TokenCheck OAuthProvider::checkAccessToken(std::string_view authorization, Clock::time_point now) const
{
    // The scheme is case-insensitive (RFC 7235); the token is taken as sent.
    if (authorization.size() < 7)
        return TokenCheck::missing;
    std::string scheme(authorization.substr(0, 7));
    std::transform(scheme.begin(), scheme.end(), scheme.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (scheme != "bearer ")
        return TokenCheck::missing;
    const std::string token(authorization.substr(7));
    if (token.empty())
        return TokenCheck::missing;
    const auto it = m_accessTokens.find(token);
    if (it == m_accessTokens.end())
        return TokenCheck::unknown;
    if (it->second.revoked)
        return TokenCheck::revoked;
    if (now >= it->second.expiresAt)
        return TokenCheck::expired;
    return TokenCheck::valid;
}

Json OAuthProvider::issueSession(const std::string& clientID, std::optional<std::int64_t> expiresIn,
    Clock::time_point now)
{
    if (m_clients.find(clientID) == m_clients.end())
        m_clients.emplace(clientID, Client { "admin session", {}, "openid profile email offline_access" });
    const std::int64_t lifetime = expiresIn.value_or(m_config.expiresIn);
    Json reply = issueTokens(clientID, m_clients.at(clientID).scope, true, lifetime, now);
    const std::int64_t expiresAtMs = epochMillis(now) + lifetime * 1000;
    reply["client_id"] = clientID;
    reply["expires_at_ms"] = expiresAtMs;
    // The command-line tool's token file content, ready to write.
    reply["cli_tokens"] = Json {
        { "accessToken", reply["access_token"] },
        { "refreshToken", reply["refresh_token"] },
        { "expiresAt", expiresAtMs },
        { "clientId", clientID },
    };
    return reply;
}

std::int64_t OAuthProvider::revoke(bool refreshTokensToo, Clock::time_point now)
{
    std::int64_t live = 0;
    for (auto& [token, record] : m_accessTokens) {
        if (!record.revoked && now < record.expiresAt)
            ++live;
        record.revoked = true;
    }
    if (refreshTokensToo) {
        for (auto& [token, record] : m_refreshTokens)
            record.revoked = true;
    }
    return live;
}

} // namespace velmo::devserver
