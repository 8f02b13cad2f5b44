#include "TokenCoordinatorError.h"

TokenCoordinatorError::TokenCoordinatorError(Kind kind, std::string message, std::string description)
    : m_kind(kind)
    , m_message(std::move(message))
    , m_description(std::move(description))
{
}

TokenCoordinatorError TokenCoordinatorError::refreshRejected(std::string message)
{
    std::string description = "Session refresh failed: " + message;
    return { Kind::refreshRejected, std::move(message), std::move(description) };
}

TokenCoordinatorError TokenCoordinatorError::persistenceFailed(std::string message)
{
    std::string description = "Could not save the refreshed session: " + message;
    return { Kind::persistenceFailed, std::move(message), std::move(description) };
}

TokenCoordinatorError TokenCoordinatorError::invalidTokenResponse()
{
    return { Kind::invalidTokenResponse, {}, "Clerk returned an incomplete refresh response" };
}

TokenCoordinatorError TokenCoordinatorError::lockTimeout()
{
    return { Kind::lockTimeout, {}, "Timed out waiting for the CLI credential lock" };
}
