#pragma once

#include "Credential.h"
#include "CredentialSource.h"
#include "Timestamp.h"
#include "VelmoJSON.h"

#include <nlohmann/json.hpp>

#include <optional>
#include <string>

// The persisted session record: the same JSON in the keyring item and in the
// velmo tool's tokens.json. expiresAt is in milliseconds since 1970.
struct StoredTokens {
    std::string accessToken;
    std::optional<std::string> refreshToken;
    std::optional<double> expiresAt;
    std::optional<std::string> clientId;

    // The trimmed access token begins with "sk-": a static API key.
    bool isAPIKey() const;
    std::optional<Timestamp> expiryDate() const;
    // The normalised credential, or none for an empty token or an API key.
    // Refresh data (and the expiry) only when both the refresh token and the
    // client ID are non-empty after trimming.
    std::optional<Credential> credential(CredentialSource source) const;

    friend bool operator==(const StoredTokens&, const StoredTokens&) = default;
};

// JSON keys "accessToken" (required), "refreshToken", "expiresAt", "clientId".
// Absent optionals are left out; null or missing reads as absent; unknown keys
// are ignored; a present key of the wrong type is a DecodingError.
template <>
struct VelmoJSON::Coder<StoredTokens> {
    static StoredTokens decode(const Json& json);
    static Json encode(const StoredTokens& tokens);
};
