#include "FileCredentialStore.h"

#include "FileError.h"
#include "PosixFile.h"

#include <QDir>
#include <QStandardPaths>

#include <cerrno>
#include <unistd.h>

namespace {
constexpr std::size_t maxRecordBytes = 1 << 20;
}

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
    const auto content = PosixFile::readRegularFile(m_path, maxRecordBytes);
    if (!content || content->empty())
        return std::nullopt;
    return VelmoJSON::decode<StoredTokens>(*content);
}

void FileCredentialStore::save(const StoredTokens& tokens)
{
    const std::string json = VelmoJSON::encode(tokens) + "\n";
    const QString folder = QFileInfo(QString::fromStdString(m_path)).absolutePath();
    if (!QDir().mkpath(folder))
        throw FileError("cannot create " + folder.toStdString());
    QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    PosixFile::writeAtomically(m_path, json, 0600);
}

void FileCredentialStore::remove()
{
    if (::unlink(m_path.c_str()) != 0 && errno != ENOENT)
        throw FileError::fromErrno(errno, "cannot remove the session file");
}
