#pragma once

#include <exception>
#include <string>

// A failure of the loopback callback server: it could not listen, or the wait
// for the browser's redirect ended without a code. what() is the text shown to
// the user.
class LoopbackServerError : public std::exception {
public:
    enum class Kind { bindFailed, timeout, stateMismatch, cancelled };

    static LoopbackServerError bindFailed(std::string message) { return { Kind::bindFailed, std::move(message) }; }
    static LoopbackServerError timeout() { return { Kind::timeout, {} }; }
    static LoopbackServerError stateMismatch() { return { Kind::stateMismatch, {} }; }
    static LoopbackServerError cancelled() { return { Kind::cancelled, {} }; }

    Kind kind() const { return m_kind; }
    // The platform's message for bindFailed; empty for the other kinds.
    const std::string& message() const { return m_message; }
    const char* what() const noexcept override { return m_description.c_str(); }

    bool operator==(const LoopbackServerError& other) const { return m_kind == other.m_kind && m_message == other.m_message; }

private:
    LoopbackServerError(Kind kind, std::string message);

    Kind m_kind;
    std::string m_message;
    std::string m_description;
};
