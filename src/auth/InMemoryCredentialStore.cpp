#include "InMemoryCredentialStore.h"

InMemoryCredentialStore::InMemoryCredentialStore(std::optional<StoredTokens> tokens)
    : m_tokens(std::move(tokens))
{
}

std::optional<StoredTokens> InMemoryCredentialStore::load()
{
    std::lock_guard lock(m_mutex);
    return m_tokens;
}

void InMemoryCredentialStore::save(const StoredTokens& tokens)
{
    std::lock_guard lock(m_mutex);
    m_tokens = tokens;
}

void InMemoryCredentialStore::remove()
{
    std::lock_guard lock(m_mutex);
    m_tokens.reset();
}
