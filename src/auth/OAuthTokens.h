#pragma once

#include "VelmoJSON.h"

#include <optional>
#include <string>

// The identity provider's token endpoint reply. Members other than these
// three are ignored.
struct OAuthTokens {
    std::string accessToken;                 // "access_token", required
    std::optional<std::string> refreshToken; // "refresh_token"
    std::optional<double> expiresIn;         // "expires_in", seconds

    friend bool operator==(const OAuthTokens&, const OAuthTokens&) = default;
};

template <>
struct VelmoJSON::Coder<OAuthTokens> {
    static OAuthTokens decode(const Json& json);
    static Json encode(const OAuthTokens& tokens);
};
