#include "TokenCoordinatorError.h"

#include "SafeText.h"

TokenCoordinatorError::TokenCoordinatorError(Kind kind, std::string message, const char* prefix, bool credentialProblem)
    : m_kind(kind)
    , m_message(SafeText::clean(message))
    , m_description(prefix + m_message)
    , m_credentialProblem(credentialProblem)
{
}

TokenCoordinatorError TokenCoordinatorError::refreshRejected(std::string message, bool credentialProblem)
{
    return { Kind::refreshRejected, std::move(message), "Session refresh failed: ", credentialProblem };
}

TokenCoordinatorError TokenCoordinatorError::persistenceFailed(std::string message)
{
    return { Kind::persistenceFailed, std::move(message), "Could not save the refreshed session: " };
}

TokenCoordinatorError TokenCoordinatorError::invalidTokenResponse()
{
    return { Kind::invalidTokenResponse, {}, "Clerk returned an incomplete refresh response" };
}

TokenCoordinatorError TokenCoordinatorError::lockTimeout()
{
    return { Kind::lockTimeout, {}, "Timed out waiting for the CLI credential lock" };
}
