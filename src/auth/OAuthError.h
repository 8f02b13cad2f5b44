#pragma once

#include <exception>
#include <string>

// A failure of browser sign-in at the identity provider: registering the
// client, the user's authorization, or exchanging the code for tokens. what()
// is the text shown to the user.
class OAuthError : public std::exception {
public:
    enum class Kind { registrationFailed, authorizationDenied, exchangeFailed };

    static OAuthError registrationFailed(std::string message) { return { Kind::registrationFailed, std::move(message) }; }
    static OAuthError authorizationDenied(std::string message) { return { Kind::authorizationDenied, std::move(message) }; }
    static OAuthError exchangeFailed(std::string message) { return { Kind::exchangeFailed, std::move(message) }; }

    Kind kind() const { return m_kind; }
    // The message the error carries, without the fixed prefix.
    const std::string& message() const { return m_message; }
    const char* what() const noexcept override { return m_description.c_str(); }

    bool operator==(const OAuthError& other) const { return m_kind == other.m_kind && m_message == other.m_message; }

private:
    OAuthError(Kind kind, std::string message);

    Kind m_kind;
    std::string m_message;
    std::string m_description;
};
