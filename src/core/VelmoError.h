#pragma once

#include <exception>
#include <string>

// A failure of the API client; what() is the text shown to the user.
class VelmoError : public std::exception {
public:
    enum class Kind { unauthorized, http, network, decoding, missingCredential };

    // "Credential rejected: <message>" — the service refused the token (401, 403).
    static VelmoError unauthorized(std::string message);
    // "<status>: <message>" — any other unsuccessful status.
    static VelmoError http(int status, std::string message);
    // "Network error: <message>" — no usable answer arrived.
    static VelmoError network(std::string message);
    // "Unexpected response: <message>" — a successful answer we cannot read.
    static VelmoError decoding(std::string message);
    // "No credential configured".
    static VelmoError missingCredential();

    Kind kind() const { return m_kind; }
    // The HTTP status for `http`, else 0.
    int status() const { return m_status; }
    // The payload message ("" for missingCredential).
    const std::string& message() const { return m_message; }
    const std::string& errorDescription() const { return m_description; }
    const char* what() const noexcept override { return m_description.c_str(); }

    // A rejected credential (not a missing one): signing in again may help.
    bool isCredentialProblem() const { return m_kind == Kind::unauthorized; }

    friend bool operator==(const VelmoError& a, const VelmoError& b)
    {
        return a.m_kind == b.m_kind && a.m_status == b.m_status && a.m_message == b.m_message;
    }

private:
    VelmoError(Kind kind, int status, std::string message);

    Kind m_kind;
    int m_status;
    std::string m_message;
    std::string m_description;
};
