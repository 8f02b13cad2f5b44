#include "CredentialResolver.h"

CredentialResolver::CredentialResolver(std::shared_ptr<CredentialStoring> store, CLICredentialReader cliReader)
    : m_store(std::move(store))
    , m_cliReader(std::move(cliReader))
{
}

std::optional<Credential> CredentialResolver::resolve() const
{
    std::optional<StoredTokens> tokens;
    try {
        tokens = m_store->load();
    } catch (...) {
        // Whoever shows the state says why the store failed; a valid CLI
        // session still works meanwhile.
        tokens.reset();
    }
    if (tokens) {
        if (auto credential = tokens->credential(CredentialSource::app))
            return credential;
    }
    return m_cliReader.read();
}

std::optional<Credential> CredentialResolver::cliCredential() const
{
    return m_cliReader.readDetailed();
}
