#pragma once

#include "CredentialStoring.h"

#include <string>

// The session record as one Secret Service item (GNOME Keyring, KWallet) with
// the attributes "service" and "account"; its secret is the StoredTokens JSON.
//
// Calls are synchronous D-Bus round trips to the local keyring daemon. A
// locked collection is never read as "no record": it is a KeychainError, as is
// a missing Secret Service. The store does not unlock the keyring itself: an
// unlock prompt would hold up whoever called.
class KeychainCredentialStore final : public CredentialStoring {
public:
    static constexpr const char* defaultService = "velmo-usage";
    static constexpr const char* legacyAPIKeyAccount = "api-key";
    static constexpr const char* sessionAccount = "oauth-session";

    KeychainCredentialStore(std::string service, std::string account);

    const std::string& service() const { return m_service; }
    const std::string& account() const { return m_account; }

    // Throws KeychainError, or VelmoJSON::DecodingError for a record that
    // does not decode (which is not "no record"). Empty data is no record.
    std::optional<StoredTokens> load() override;
    // Replaces the secret of the existing item, or creates the item in the
    // default collection.
    void save(const StoredTokens& tokens) override;
    // Deletes every matching item; none at all is success.
    void remove() override;
    // "<data folder>/VelmoUsage/<service>.<account>.lock": the keyring has no
    // lock of its own that another process could wait on.
    std::optional<std::string> lockPath() const override;

private:
    std::string m_service;
    std::string m_account;
};
