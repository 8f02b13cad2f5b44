#pragma once

#include "CredentialSource.h"
#include "Timestamp.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

// A ready-to-use credential: the bearer token and what is needed to renew it.
// Made only by StoredTokens::credential(), which keeps the refresh data whole:
// refreshToken and clientID are both present and non-empty, or both absent and
// then expiresAt is absent too.
struct Credential {
    // How long before its expiry a credential already counts as expired.
    static constexpr std::chrono::seconds expiryMargin { 60 };

    std::string token;
    CredentialSource source = CredentialSource::app;
    std::optional<Timestamp> expiresAt;
    std::optional<std::string> refreshToken;
    std::optional<std::string> clientID;

    bool canRefresh() const;
    // True when the expiry is known and at most 60 s after `now` (or past).
    bool isExpired(Timestamp now) const;
    // The token as it may be logged or shown.
    std::string masked() const { return mask(token); }

    // Fewer than 13 characters: max(count, 4) bullets; otherwise the first
    // four characters, "…", the last four. Counts user-perceived characters.
    static std::string mask(std::string_view text);

    friend bool operator==(const Credential&, const Credential&) = default;
};
