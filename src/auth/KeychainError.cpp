#include "KeychainError.h"

KeychainError::KeychainError(std::int32_t status, std::string message)
    : m_status(status)
    , m_description(message.empty() ? "Keychain error " + std::to_string(status) : std::move(message))
{
}
