#pragma once

#include "CLICredentialReader.h"
#include "Credential.h"
#include "CredentialStoring.h"

#include <memory>
#include <optional>

// Which credential to use now: the app's own session first, else the velmo
// tool's. Only reads; never refreshes or writes.
class CredentialResolver {
public:
    CredentialResolver(std::shared_ptr<CredentialStoring> store, CLICredentialReader cliReader);

    const std::shared_ptr<CredentialStoring>& store() const { return m_store; }
    const CLICredentialReader& cliReader() const { return m_cliReader; }

    // Never fails. A store that fails to load counts as empty, so the tool's
    // session is used; the views say that the store failed (never silently).
    std::optional<Credential> resolve() const;
    // Exactly cliReader().readDetailed(), failures passed on.
    std::optional<Credential> cliCredential() const;

private:
    std::shared_ptr<CredentialStoring> m_store;
    CLICredentialReader m_cliReader;
};
