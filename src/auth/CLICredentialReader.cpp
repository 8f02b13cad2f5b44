#include "CLICredentialReader.h"

#include "FileError.h"
#include "PosixFile.h"
#include "ReservedFile.h"
#include "TokenText.h"

#include <QDir>

#include <cerrno>
#include <filesystem>
#include <sys/stat.h>

namespace {

// Far more than tokens.json or key takes (tokens are a few hundred bytes).
constexpr std::size_t reservedBytes = 16 * 1024;

void makeFolder(const std::string& directory)
{
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    if (error)
        throw FileError("cannot create " + directory + ": " + error.message());
}

class ReservedTokens final : public SaveReservation {
public:
    explicit ReservedTokens(const CLICredentialReader& reader)
        : m_tokens(reader.tokensFile(), reservedBytes, 0600)
        , m_key(reader.keyFile(), reservedBytes, 0600)
    {
    }
    void commit(const StoredTokens& tokens) override
    {
        m_tokens.commit(VelmoJSON::encode(tokens) + "\n");
        try {
            m_key.commit(tokens.accessToken + "\n");
        } catch (const FileError&) {
            // key is a convenience copy for the tool; tokens.json is what counts.
        }
    }

private:
    ReservedFile m_tokens;
    ReservedFile m_key;
};

} // namespace

const char* CLICredentialReader::ReaderError::what() const noexcept
{
    switch (m_kind) {
    case invalidToken:
        return "tokens.json contains an empty access token";
    case staticKey:
        return "velmo CLI is using an API key, not a sign-in; run `velmo login`";
    }
    return "tokens.json contains an empty access token";
}

CLICredentialReader::CLICredentialReader(const std::string& home)
    : m_directory(home + "/.velmo")
{
}

CLICredentialReader CLICredentialReader::forCurrentUser()
{
    return CLICredentialReader(QDir::homePath().toStdString());
}

std::optional<Credential> CLICredentialReader::readDetailed() const
{
    const auto content = PosixFile::readPrivateFile(tokensFile(), maxTokensFileBytes);
    if (!content)
        return std::nullopt;
    const auto tokens = VelmoJSON::decode<StoredTokens>(*content);
    if (tokens.isAPIKey())
        throw ReaderError(ReaderError::staticKey);
    auto credential = tokens.credential(CredentialSource::cliTokens);
    if (!credential)
        throw ReaderError(ReaderError::invalidToken);
    return credential;
}

std::optional<Credential> CLICredentialReader::read() const noexcept
{
    try {
        return readDetailed();
    } catch (...) {
        return std::nullopt;
    }
}

void CLICredentialReader::write(const StoredTokens& tokens) const
{
    makeFolder(m_directory);
    const std::string bytes = VelmoJSON::encode(tokens) + "\n";
    const std::string path = tokensFile();
    const std::string temporary = PosixFile::temporaryPathFor(path);
    try {
        // Created 0600 from the start: the tokens are never readable by others.
        PosixFile::writeNewFile(temporary, bytes, 0600);
        if (::rename(temporary.c_str(), path.c_str()) != 0)
            throw FileError::fromErrno(errno, "cannot replace tokens.json");
        if (::chmod(path.c_str(), 0600) != 0)
            throw FileError::fromErrno(errno, "cannot set the permissions of tokens.json");
        try {
            PosixFile::writeAtomically(keyFile(), tokens.accessToken + "\n", 0600);
        } catch (const FileError&) {
            // key is a convenience copy for the tool; tokens.json is what counts.
        }
        ::chmod(keyFile().c_str(), 0600);
    } catch (...) {
        PosixFile::removeQuietly(temporary);
        throw;
    }
    PosixFile::removeQuietly(temporary);
}

std::unique_ptr<SaveReservation> CLICredentialReader::reserveWrite() const
{
    makeFolder(m_directory);
    return std::make_unique<ReservedTokens>(*this);
}
