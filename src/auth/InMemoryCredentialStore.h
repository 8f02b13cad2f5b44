#pragma once

#include "CredentialStoring.h"

#include <mutex>

// One record in memory, for the offline renderer and for tests. Never fails.
class InMemoryCredentialStore final : public CredentialStoring {
public:
    explicit InMemoryCredentialStore(std::optional<StoredTokens> tokens = std::nullopt);

    std::optional<StoredTokens> load() override;
    void save(const StoredTokens& tokens) override;
    void remove() override;

private:
    std::mutex m_mutex;
    std::optional<StoredTokens> m_tokens;
};
