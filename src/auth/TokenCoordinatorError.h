#pragma once

#include <exception>
#include <string>

// The failures of a session renewal (TokenCoordinator::Error). what() is the
// user-facing text.
class TokenCoordinatorError : public std::exception {
public:
    enum class Kind {
        refreshRejected,
        persistenceFailed,
        invalidTokenResponse,
        lockTimeout,
    };

    // "Session refresh failed: " + message
    static TokenCoordinatorError refreshRejected(std::string message);
    // "Could not save the refreshed session: " + message
    static TokenCoordinatorError persistenceFailed(std::string message);
    // "Clerk returned an incomplete refresh response"
    static TokenCoordinatorError invalidTokenResponse();
    // "Timed out waiting for the CLI credential lock"
    static TokenCoordinatorError lockTimeout();

    Kind kind() const { return m_kind; }
    // The payload of refreshRejected and persistenceFailed, else empty.
    const std::string& message() const { return m_message; }
    const char* what() const noexcept override { return m_description.c_str(); }

    friend bool operator==(const TokenCoordinatorError& a, const TokenCoordinatorError& b)
    {
        return a.m_kind == b.m_kind && a.m_message == b.m_message;
    }

private:
    TokenCoordinatorError(Kind kind, std::string message, std::string description);

    Kind m_kind;
    std::string m_message;
    std::string m_description;
};
