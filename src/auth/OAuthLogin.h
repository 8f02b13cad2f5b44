#pragma once

#include "HTTPClient.h"
#include "OAuthConfig.h"
#include "OAuthTokens.h"
#include "StoredTokens.h"
#include "Timestamp.h"

#include <QCoroTask>
#include <QString>
#include <QUrl>

#include <functional>
#include <map>
#include <stop_token>
#include <string>

// Browser sign-in against the identity provider: an OAuth 2.0
// authorization-code flow for a public client with PKCE (S256), preceded by
// dynamic client registration of a fresh client whose only redirect URI is
// the loopback callback. Stateless and copyable; every call works on copies,
// so the object may go away while a sign-in runs.
class OAuthLogin {
public:
    // Opens a URL in the user's browser; called once, must not block.
    using URLOpener = std::function<void(const QUrl&)>;

    static constexpr int portAttempts = 5;
    static constexpr int stateBytes = 16;
    static constexpr int verifierBytes = 32;
    // Replaced by the HTTP client's own timeout.
    static constexpr std::chrono::seconds requestTimeout { 60 };

    OAuthLogin(OAuthConfig config, HTTPClient http);

    const OAuthConfig& config() const { return m_config; }
    const HTTPClient& http() const { return m_http; }

    // The whole flow, on the calling thread's event loop: loopback server,
    // registration, browser, callback, code exchange. Fails with OAuthError,
    // LoopbackServerError, or CancellationError when `stop` is requested (the
    // wait for the browser ends at once then). The loopback server is closed on
    // every way out.
    QCoro::Task<StoredTokens> signIn(URLOpener openURL, std::stop_token stop = {}) const;

    // The new client's ID; OAuthError::registrationFailed otherwise.
    QCoro::Task<std::string> registerClient(QString redirectURI, std::stop_token stop = {}) const;

    // The token reply for an authorization code; OAuthError::exchangeFailed otherwise.
    QCoro::Task<OAuthTokens> exchange(QString code, QString redirectURI, QString clientID, QString verifier,
                                      std::stop_token stop = {}) const;

    // The record to store: the refresh token trimmed (none issued:
    // exchangeFailed("no refresh token was issued")), the expiry in
    // milliseconds since 1970 when expires_in is a finite, non-negative number.
    static StoredTokens session(const OAuthTokens& tokens, const std::string& clientID, Timestamp now);

    // The browser's first stop: authServer/oauth/authorize with response_type,
    // client_id, redirect_uri, scope, state, code_challenge and
    // code_challenge_method, in that order.
    static QUrl authorizationURL(const OAuthConfig& config, const QString& clientID, const QString& redirectURI,
                                 const QString& state, const QString& challenge);

    // `base` with one path component appended ("oauth/token").
    static QUrl endpoint(const QUrl& base, const QString& component);

    // The one form encoding of every form body (pairs sorted by key).
    static std::string formEncode(const std::map<std::string, std::string>& fields);

private:
    static QCoro::Task<StoredTokens> run(OAuthLogin login, URLOpener openURL, std::stop_token stop);
    static QCoro::Task<std::string> runRegister(OAuthLogin login, QString redirectURI, std::stop_token stop);
    static QCoro::Task<OAuthTokens> runExchange(OAuthLogin login, QString code, QString redirectURI, QString clientID,
                                                QString verifier, std::stop_token stop);

    OAuthConfig m_config;
    HTTPClient m_http;
};
