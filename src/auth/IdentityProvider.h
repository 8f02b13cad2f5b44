#pragma once

#include <QUrl>

// The identity provider (Clerk) that issues and renews sessions.
namespace IdentityProvider {

inline constexpr const char* productionBaseURL = "https://clerk.velmo.ai";

// productionBaseURL, or VELMO_AUTH_URL when that is set to an absolute URL
// (development, tests, the demo).
QUrl baseURL();

// `base` with the path component `component` appended ("oauth/token").
QUrl appending(const QUrl& base, const QString& component);

} // namespace IdentityProvider
