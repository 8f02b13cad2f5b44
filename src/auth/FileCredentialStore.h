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
    // FileError, an undecodable one a VelmoJSON::DecodingError. A file that
    // others may read is narrowed to 0600.
    std::optional<StoredTokens> load() override;
    // Atomic replace; the folder is created (0700) when missing.
    void save(const StoredTokens& tokens) override;
    void remove() override;
    // "session.json.lock" beside the file.
    std::optional<std::string> lockPath() const override { return m_path + ".lock"; }
    std::unique_ptr<SaveReservation> reserveSave() override;

private:
    void makeFolder() const;

    std::string m_path;
};
