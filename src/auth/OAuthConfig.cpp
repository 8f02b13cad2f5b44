#include "OAuthConfig.h"

#include <QtGlobal>

QUrl OAuthConfig::productionAuthServer()
{
    return QUrl(QStringLiteral("https://auth.velmo.ai"));
}

QUrl OAuthConfig::identityProviderURL()
{
    const QString override = qEnvironmentVariable("VELMO_AUTH_URL").trimmed();
    if (!override.isEmpty()) {
        const QUrl url(override, QUrl::StrictMode);
        if (url.isValid() && (url.scheme() == u"https" || url.scheme() == u"http") && !url.host().isEmpty())
            return url;
    }
    return productionAuthServer();
}

OAuthConfig OAuthConfig::velmo()
{
    return {
        .authServer = identityProviderURL(),
        .clientName = QStringLiteral("Velmo Usage"),
        .scope = QStringLiteral("openid profile email offline_access"),
        .callbackTimeout = std::chrono::seconds(900),
    };
}
