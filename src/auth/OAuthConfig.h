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

    // The application's configuration; the server is
    // IdentityProvider::baseURL() (VELMO_AUTH_URL overrides it).
    static OAuthConfig velmo();

    bool operator==(const OAuthConfig&) const = default;
};
