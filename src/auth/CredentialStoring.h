#pragma once

#include "StoredTokens.h"

#include <memory>
#include <optional>
#include <string>

// Room for one save, taken ahead of time (see ReservedFile); destroying it
// unused gives the room back.
class SaveReservation {
public:
    virtual ~SaveReservation() = default;
    // Stores `tokens` in the reserved room. Throws the store's error.
    virtual void commit(const StoredTokens& tokens) = 0;
};

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

    // The lock directory (SessionLock) that serialises renewals of the record
    // across processes; none for a record that lives in this process only.
    virtual std::optional<std::string> lockPath() const { return std::nullopt; }
    // Takes the room the next save needs, before a renewal spends its refresh
    // token; none when saving takes no room of ours. Throws the store's error.
    virtual std::unique_ptr<SaveReservation> reserveSave() { return nullptr; }
};
