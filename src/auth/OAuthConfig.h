#pragma once

#include <QString>
#include <QUrl>

#include <chrono>

// Where and how browser sign-in talks to the identity provider.
struct OAuthConfig {
    QUrl authServer;
    QString clientName;
    QString scope;
    std::chrono::seconds callbackTimeout { 900 };

    // The production identity provider's origin.
    static QUrl productionAuthServer();
    // VELMO_AUTH_URL when it holds an absolute http(s) URL (development,
    // tests, the demo), else the production origin.
    static QUrl identityProviderURL();
    // The application's configuration.
    static OAuthConfig velmo();

    bool operator==(const OAuthConfig&) const = default;
};
