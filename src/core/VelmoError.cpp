#include "VelmoError.h"

#include "SafeText.h"

#include <utility>

VelmoError::VelmoError(Kind kind, int status, std::string message)
    : m_kind(kind)
    , m_status(status)
    // Messages come from servers and sockets: shown and logged clean.
    , m_message(SafeText::clean(message))
{
    switch (m_kind) {
    case Kind::unauthorized:
        m_description = "Credential rejected: " + m_message;
        break;
    case Kind::http:
        m_description = std::to_string(m_status) + ": " + m_message;
        break;
    case Kind::network:
        m_description = "Network error: " + m_message;
        break;
    case Kind::decoding:
        m_description = "Unexpected response: " + m_message;
        break;
    case Kind::missingCredential:
        m_description = "No credential configured";
        break;
    }
}

VelmoError VelmoError::unauthorized(std::string message) { return { Kind::unauthorized, 0, std::move(message) }; }
VelmoError VelmoError::http(int status, std::string message) { return { Kind::http, status, std::move(message) }; }
VelmoError VelmoError::network(std::string message) { return { Kind::network, 0, std::move(message) }; }
VelmoError VelmoError::decoding(std::string message) { return { Kind::decoding, 0, std::move(message) }; }
VelmoError VelmoError::missingCredential() { return { Kind::missingCredential, 0, {} }; }
