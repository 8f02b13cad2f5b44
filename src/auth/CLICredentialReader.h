#pragma once

#include "Credential.h"
#include "CredentialStoring.h"
#include "StoredTokens.h"

#include <exception>
#include <memory>
#include <optional>
#include <string>

// Reader and writer of the velmo command-line tool's folder ~/.velmo:
// tokens.json (StoredTokens JSON plus a line feed), key (the access token plus
// a line feed) and the lock directory tokens.json.lock (SessionLock).
// File names, formats and 0600 permissions are shared with the tool.
class CLICredentialReader {
public:
    class ReaderError : public std::exception {
    public:
        enum Kind {
            invalidToken, // "tokens.json contains an empty access token"
            staticKey,    // "velmo CLI is using an API key, not a sign-in; run `velmo login`"
        };
        explicit ReaderError(Kind kind)
            : m_kind(kind)
        {
        }
        Kind kind() const { return m_kind; }
        const char* what() const noexcept override;
        friend bool operator==(const ReaderError& a, const ReaderError& b) { return a.m_kind == b.m_kind; }

    private:
        Kind m_kind;
    };

    // tokens.json is a few hundred bytes; anything near this is not ours.
    static constexpr std::size_t maxTokensFileBytes = 1 << 20;

    // `home` + "/.velmo".
    explicit CLICredentialReader(const std::string& home);
    // The current user's home folder.
    static CLICredentialReader forCurrentUser();

    const std::string& velmoDirectory() const { return m_directory; }
    std::string tokensFile() const { return m_directory + "/tokens.json"; }
    std::string keyFile() const { return m_directory + "/key"; }
    std::string lockDirectory() const { return tokensFile() + ".lock"; }

    // Nothing when tokens.json does not exist. Throws FileError (unreadable,
    // a directory, not a regular file), VelmoJSON::DecodingError, or
    // ReaderError (staticKey, invalidToken). The credential has source
    // cliTokens. A tokens.json that others may read is narrowed to 0600.
    std::optional<Credential> readDetailed() const;
    // readDetailed() with every failure turned into nothing.
    std::optional<Credential> read() const noexcept;
    // Replaces tokens.json whole (through tokens.json.<unique>.tmp and a
    // rename, 0600) and refreshes key. Only while holding the CLI lock.
    // Throws FileError or VelmoJSON::DecodingError; on failure the old
    // tokens.json is untouched and no temporary file is left behind.
    void write(const StoredTokens& tokens) const;
    // Takes the room for the next write() ahead of time (ReservedFile);
    // committing it writes tokens.json and key. Only while holding the lock.
    // Throws FileError.
    std::unique_ptr<SaveReservation> reserveWrite() const;

private:
    std::string m_directory;
};
