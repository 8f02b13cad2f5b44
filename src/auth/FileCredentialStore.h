#pragma once

#include "CredentialStoring.h"

#include <string>

// The session record as a 0600 JSON file. Stands in for the keyring on a
// desktop without any Secret Service provider.
class FileCredentialStore final : public CredentialStoring {
public:
    explicit FileCredentialStore(std::string path);

    // "<data folder>/VelmoUsage/session.json" (honours XDG_DATA_HOME).
    static std::string defaultPath();

    const std::string& path() const { return m_path; }

    // A missing or empty file is no record; an unreadable file is a
    // FileError, an undecodable one a VelmoJSON::DecodingError.
    std::optional<StoredTokens> load() override;
    // Atomic replace; the folder is created (0700) when missing.
    void save(const StoredTokens& tokens) override;
    void remove() override;

private:
    std::string m_path;
};
