#include "OAuthError.h"

#include "SafeText.h"

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
    // The provider's texts reach logs and the screen: no control characters.
    , m_message(SafeText::clean(message))
    , m_description(prefix(kind) + m_message)
{
}
