#pragma once

#include "StoredTokens.h"

#include <optional>

// A store of one session record. Every operation may throw the store's own
// error; "no record" is never an error.
class CredentialStoring {
public:
    virtual ~CredentialStoring() = default;

    virtual std::optional<StoredTokens> load() = 0;
    // Replaces the whole record.
    virtual void save(const StoredTokens& tokens) = 0;
    // Removing a record that does not exist succeeds.
    virtual void remove() = 0;
};
