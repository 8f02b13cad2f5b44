#include "NetworkError.h"

#include <utility>

NetworkError::NetworkError(Code code, std::string description)
    : m_code(code)
    , m_description(std::move(description))
{
}

bool NetworkError::isTransient() const
{
    switch (m_code) {
    case Code::timedOut:
    case Code::connectionLost:
    case Code::cannotConnect:
    case Code::cannotFindHost:
    case Code::notConnected:
    case Code::resourceUnavailable:
        return true;
    case Code::badServerResponse:
    case Code::tlsFailure:
    case Code::other:
        return false;
    }
    return false;
}
