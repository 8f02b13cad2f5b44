#include "LoopbackServerError.h"

#include "SafeText.h"

namespace {
std::string describe(LoopbackServerError::Kind kind, const std::string& message)
{
    switch (kind) {
    case LoopbackServerError::Kind::bindFailed:
        return "Could not open a local callback port: " + message;
    case LoopbackServerError::Kind::timeout:
        return "Sign-in timed out";
    case LoopbackServerError::Kind::stateMismatch:
        return "Sign-in callback did not match this session";
    case LoopbackServerError::Kind::cancelled:
        return "Sign-in cancelled";
    }
    return {};
}
} // namespace

LoopbackServerError::LoopbackServerError(Kind kind, std::string message)
    : m_kind(kind)
    , m_message(SafeText::clean(message))
    , m_description(describe(kind, m_message))
{
}
