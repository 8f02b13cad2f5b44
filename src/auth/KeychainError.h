#pragma once

#include <cstdint>
#include <exception>
#include <string>

// A failure of the desktop keyring (Secret Service). what() is the service's
// own message, or "Keychain error <status>" when it gave none.
class KeychainError : public std::exception {
public:
    // Our own codes for conditions the service does not report as errors.
    static constexpr std::int32_t interactionNotAllowed = -25308; // the collection is locked
    static constexpr std::int32_t notAvailable = -25291;          // no Secret Service

    explicit KeychainError(std::int32_t status, std::string message = {});

    std::int32_t status() const { return m_status; }
    const char* what() const noexcept override { return m_description.c_str(); }

private:
    std::int32_t m_status;
    std::string m_description;
};
