#include "OAuthError.h"

namespace {
const char* prefix(OAuthError::Kind kind)
{
    switch (kind) {
    case OAuthError::Kind::registrationFailed:
        return "Client registration failed: ";
    case OAuthError::Kind::authorizationDenied:
        return "Authorization failed: ";
    case OAuthError::Kind::exchangeFailed:
        return "Token exchange failed: ";
    }
    return "";
}
} // namespace

OAuthError::OAuthError(Kind kind, std::string message)
    : m_kind(kind)
    , m_message(std::move(message))
    , m_description(prefix(kind) + m_message)
{
}
