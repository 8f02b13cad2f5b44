#pragma once

#include <exception>
#include <string>

// The failures of a session renewal (TokenCoordinator::Error). what() is the
// user-facing text; messages from outside are cleaned of control characters.
class TokenCoordinatorError : public std::exception {
public:
    enum class Kind {
        refreshRejected,
        persistenceFailed,
        invalidTokenResponse,
        lockTimeout,
    };

    // "Session refresh failed: " + message. `credentialProblem`: the provider
    // refused the grant itself (revoked or unknown refresh token or client),
    // so only signing in again helps; otherwise the failure may pass.
    static TokenCoordinatorError refreshRejected(std::string message, bool credentialProblem = false);
    // "Could not save the refreshed session: " + message
    static TokenCoordinatorError persistenceFailed(std::string message);
    // "Clerk returned an incomplete refresh response"
    static TokenCoordinatorError invalidTokenResponse();
    // "Timed out waiting for the CLI credential lock"
    static TokenCoordinatorError lockTimeout();

    Kind kind() const { return m_kind; }
    // The payload of refreshRejected and persistenceFailed, else empty.
    const std::string& message() const { return m_message; }
    bool isCredentialProblem() const { return m_credentialProblem; }
    const char* what() const noexcept override { return m_description.c_str(); }

    friend bool operator==(const TokenCoordinatorError& a, const TokenCoordinatorError& b)
    {
        return a.m_kind == b.m_kind && a.m_message == b.m_message && a.m_credentialProblem == b.m_credentialProblem;
    }

private:
    TokenCoordinatorError(Kind kind, std::string message, const char* prefix, bool credentialProblem = false);

    Kind m_kind;
    std::string m_message;
    std::string m_description;
    bool m_credentialProblem;
};
