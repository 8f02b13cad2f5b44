#include "OAuthConfig.h"

#include "IdentityProvider.h"

OAuthConfig OAuthConfig::velmo()
{
    return {
        .authServer = IdentityProvider::baseURL(),
        .clientName = QStringLiteral("Velmo Usage"),
        .scope = QStringLiteral("openid profile email offline_access"),
        .callbackTimeout = std::chrono::seconds(900),
    };
}
