#include "OAuthLogin.h"

#include "Cancellation.h"
#include "JSONFields.h"
#include "LoopbackServer.h"
#include "NetworkError.h"
#include "OAuthError.h"
#include "FormEncoding.h"
#include "IdentityProvider.h"
#include "Log.h"
#include "PKCE.h"
#include "TokenText.h"
#include "VelmoClient.h"

#include <cmath>
#include <memory>

namespace {

// Characters a URL query may carry as they are, except the delimiters of its
// items ("&", "=") and "+", which some servers read as a space.
QByteArray encodeQueryValue(const QString& text)
{
    return QUrl::toPercentEncoding(text, "!$'()*,;:@/?");
}

HTTPRequest post(const QUrl& url, const QByteArray& contentType, QByteArray body)
{
    HTTPRequest request;
    request.method = "POST";
    request.url = url;
    request.headers = { { "Content-Type", contentType } };
    request.body = std::move(body);
    request.timeout = OAuthLogin::requestTimeout;
    return request;
}

// client_id from a registration reply; none when the body is no JSON object
// or has no non-empty string "client_id".
std::optional<std::string> registeredClientID(const QByteArray& body)
{
    try {
        const VelmoJSON::Json json = VelmoJSON::parse(std::string_view(body.constData(), size_t(body.size())));
        VelmoJSON::fields::expectObject(json);
        std::string clientID = VelmoJSON::fields::requiredField(json, "client_id", VelmoJSON::fields::text);
        if (clientID.empty())
            return std::nullopt;
        return clientID;
    } catch (const VelmoJSON::DecodingError&) {
        return std::nullopt;
    }
}

std::optional<OAuthTokens> tokenReply(const QByteArray& body)
{
    try {
        OAuthTokens tokens = VelmoJSON::decode<OAuthTokens>(std::string_view(body.constData(), size_t(body.size())));
        if (tokens.accessToken.empty())
            return std::nullopt;
        return tokens;
    } catch (const VelmoJSON::DecodingError&) {
        return std::nullopt;
    }
}

// Closes the loopback server however the sign-in ends: success, failure, or
// the task being destroyed while suspended.
struct ServerCloser {
    std::unique_ptr<LoopbackServer> server;
    ~ServerCloser()
    {
        if (server)
            server->stop();
    }
};

} // namespace

OAuthLogin::OAuthLogin(OAuthConfig config, HTTPClient http)
    : m_config(std::move(config))
    , m_http(std::move(http))
{
}

QUrl OAuthLogin::endpoint(const QUrl& base, const QString& component)
{
    return IdentityProvider::appending(base, component);
}

QUrl OAuthLogin::authorizationURL(const OAuthConfig& config, const QString& clientID, const QString& redirectURI,
                                  const QString& state, const QString& challenge)
{
    const std::pair<const char*, QString> items[] = {
        { "response_type", QStringLiteral("code") },
        { "client_id", clientID },
        { "redirect_uri", redirectURI },
        { "scope", config.scope },
        { "state", state },
        { "code_challenge", challenge },
        { "code_challenge_method", QStringLiteral("S256") },
    };
    QByteArray query;
    for (const auto& [name, value] : items) {
        if (!query.isEmpty())
            query += '&';
        query += QByteArray(name) + '=' + encodeQueryValue(value);
    }
    QUrl url = endpoint(config.authServer, QStringLiteral("oauth/authorize"));
    url.setQuery(QString::fromLatin1(query), QUrl::StrictMode);
    return url;
}

std::string OAuthLogin::formEncode(const std::map<std::string, std::string>& fields)
{
    return FormEncoding::encode(fields);
}

StoredTokens OAuthLogin::session(const OAuthTokens& tokens, const std::string& clientID, Timestamp now)
{
    const std::string refresh = tokens.refreshToken ? TokenText::trimmed(*tokens.refreshToken) : std::string();
    if (refresh.empty())
        throw OAuthError::exchangeFailed("no refresh token was issued");
    std::optional<double> expiresAt;
    if (tokens.expiresIn && std::isfinite(*tokens.expiresIn) && *tokens.expiresIn >= 0) {
        const double milliseconds = TokenText::toMilliseconds(now) + *tokens.expiresIn * 1000.0;
        if (std::isfinite(milliseconds))
            expiresAt = milliseconds;
    }
    return {
        .accessToken = tokens.accessToken,
        .refreshToken = refresh,
        .expiresAt = expiresAt,
        .clientId = clientID,
    };
}

QCoro::Task<std::string> OAuthLogin::registerClient(QString redirectURI, std::stop_token stop) const
{
    return runRegister(*this, std::move(redirectURI), std::move(stop));
}

QCoro::Task<std::string> OAuthLogin::runRegister(OAuthLogin login, QString redirectURI, std::stop_token stop)
{
    const VelmoJSON::Json body = {
        { "client_name", login.m_config.clientName.toStdString() },
        { "redirect_uris", { redirectURI.toStdString() } },
        { "grant_types", { "authorization_code", "refresh_token" } },
        { "response_types", { "code" } },
        { "token_endpoint_auth_method", "none" },
        { "scope", login.m_config.scope.toStdString() },
    };
    HTTPRequest request = post(endpoint(login.m_config.authServer, QStringLiteral("oauth/register")), "application/json",
                               QByteArray::fromStdString(VelmoJSON::dump(body)));
    HTTPResponse response;
    try {
        auto sending = login.m_http.send(std::move(request), false, stop);
        response = co_await std::move(sending);
    } catch (const NetworkError& error) {
        throw OAuthError::registrationFailed(error.what());
    }
    if (response.isSuccess()) {
        if (auto clientID = registeredClientID(response.data))
            co_return *clientID;
    }
    throw OAuthError::registrationFailed(VelmoClient::errorMessage(response.data, response.status));
}

QCoro::Task<OAuthTokens> OAuthLogin::exchange(QString code, QString redirectURI, QString clientID, QString verifier,
                                              std::stop_token stop) const
{
    return runExchange(*this, std::move(code), std::move(redirectURI), std::move(clientID), std::move(verifier),
                       std::move(stop));
}

QCoro::Task<OAuthTokens> OAuthLogin::runExchange(OAuthLogin login, QString code, QString redirectURI, QString clientID,
                                                 QString verifier, std::stop_token stop)
{
    const std::string form = formEncode({
        { "grant_type", "authorization_code" },
        { "code", code.toStdString() },
        { "redirect_uri", redirectURI.toStdString() },
        { "client_id", clientID.toStdString() },
        { "code_verifier", verifier.toStdString() },
    });
    HTTPRequest request = post(endpoint(login.m_config.authServer, QStringLiteral("oauth/token")),
                               "application/x-www-form-urlencoded", QByteArray::fromStdString(form));
    HTTPResponse response;
    try {
        auto sending = login.m_http.send(std::move(request), false, stop);
        response = co_await std::move(sending);
    } catch (const NetworkError& error) {
        throw OAuthError::exchangeFailed(error.what());
    }
    if (response.isSuccess()) {
        if (auto tokens = tokenReply(response.data)) {
            // Such a token would be refused in every request header later;
            // the reply is not echoed: it holds the tokens.
            if (TokenText::hasControlCharacters(TokenText::trimmed(tokens->accessToken))
                || (tokens->refreshToken && TokenText::hasControlCharacters(TokenText::trimmed(*tokens->refreshToken))))
                throw OAuthError::exchangeFailed("the token reply was incomplete");
            co_return *tokens;
        }
    }
    throw OAuthError::exchangeFailed(VelmoClient::errorMessage(response.data, response.status));
}

QCoro::Task<StoredTokens> OAuthLogin::signIn(URLOpener openURL, std::stop_token stop) const
{
    return run(*this, std::move(openURL), std::move(stop));
}

QCoro::Task<StoredTokens> OAuthLogin::run(OAuthLogin login, URLOpener openURL, std::stop_token stop)
{
    throwIfCancelled(stop);
    const QString state = PKCE::randomBase64URL(stateBytes);
    const QString verifier = PKCE::randomBase64URL(verifierBytes);
    const QString challenge = PKCE::challenge(verifier);

    ServerCloser closer { LoopbackServer::start(state, portAttempts) };
    const QString redirectURI = QStringLiteral("http://127.0.0.1:%1/callback").arg(closer.server->port());

    // Named tasks: GCC 12 destroys temporaries inside co_await twice.
    auto registering = login.registerClient(redirectURI, stop);
    const std::string clientID = co_await std::move(registering);
    qCInfo(Log::auth) << "oauth client registered; opening browser";

    const QString client = QString::fromStdString(clientID);
    openURL(authorizationURL(login.m_config, client, redirectURI, state, challenge));

    auto waiting = closer.server->waitForCode(login.m_config.callbackTimeout, stop);
    const QString code = co_await std::move(waiting);
    // The browser has its page; nothing more can arrive that we want.
    closer.server->stop();

    auto exchanging = login.exchange(code, redirectURI, client, verifier, stop);
    const OAuthTokens tokens = co_await std::move(exchanging);
    co_return session(tokens, clientID, std::chrono::system_clock::now());
}
