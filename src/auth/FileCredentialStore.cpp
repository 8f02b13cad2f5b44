#include "FileCredentialStore.h"

#include "FileError.h"
#include "PosixFile.h"
#include "ReservedFile.h"

#include <QDir>
#include <QStandardPaths>

#include <cerrno>
#include <unistd.h>

namespace {

constexpr std::size_t maxRecordBytes = 1 << 20;
// Far more than a record takes (tokens are a few hundred bytes).
constexpr std::size_t reservedBytes = 16 * 1024;

std::string encoded(const StoredTokens& tokens)
{
    return VelmoJSON::encode(tokens) + "\n";
}

class ReservedRecord final : public SaveReservation {
public:
    explicit ReservedRecord(const std::string& path)
        : m_file(path, reservedBytes, 0600)
    {
    }
    void commit(const StoredTokens& tokens) override { m_file.commit(encoded(tokens)); }

private:
    ReservedFile m_file;
};

} // namespace

FileCredentialStore::FileCredentialStore(std::string path)
    : m_path(std::move(path))
{
}

std::string FileCredentialStore::defaultPath()
{
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return QDir(base).filePath(QStringLiteral("VelmoUsage/session.json")).toStdString();
}

std::optional<StoredTokens> FileCredentialStore::load()
{
    const auto content = PosixFile::readPrivateFile(m_path, maxRecordBytes);
    if (!content || content->empty())
        return std::nullopt;
    return VelmoJSON::decode<StoredTokens>(*content);
}

void FileCredentialStore::makeFolder() const
{
    const QString folder = QFileInfo(QString::fromStdString(m_path)).absolutePath();
    if (!QDir().mkpath(folder))
        throw FileError("cannot create " + folder.toStdString());
    QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

void FileCredentialStore::save(const StoredTokens& tokens)
{
    const std::string json = encoded(tokens);
    makeFolder();
    PosixFile::writeAtomically(m_path, json, 0600);
}

std::unique_ptr<SaveReservation> FileCredentialStore::reserveSave()
{
    makeFolder();
    return std::make_unique<ReservedRecord>(m_path);
}

void FileCredentialStore::remove()
{
    if (::unlink(m_path.c_str()) != 0 && errno != ENOENT)
        throw FileError::fromErrno(errno, "cannot remove the session file");
}
