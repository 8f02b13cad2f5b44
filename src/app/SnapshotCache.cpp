#include "SnapshotCache.h"

#include "FileError.h"
#include "Log.h"
#include "PosixFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

SnapshotCache::SnapshotCache(QString filePath)
    : m_filePath(std::move(filePath))
{
}

SnapshotCache SnapshotCache::defaultCache()
{
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.local/share");
    return SnapshotCache(base + QStringLiteral("/VelmoUsage/snapshot.json"));
}

std::optional<Snapshot> SnapshotCache::load() const
{
    try {
        // A FIFO, a device or a folder in the file's place is refused without
        // blocking, and nothing larger than a snapshot can be is read.
        const auto bytes = PosixFile::readRegularFile(
            QFile::encodeName(m_filePath).toStdString(), VelmoJSON::maxDocumentBytes);
        if (!bytes)
            return std::nullopt;
        return VelmoJSON::decode<Snapshot>(*bytes);
    } catch (const FileError&) {
        return std::nullopt;
    } catch (const VelmoJSON::DecodingError&) {
        return std::nullopt;
    }
}

void SnapshotCache::save(const Snapshot& snapshot) const
{
    const QString folder = QFileInfo(m_filePath).absolutePath();
    try {
        if (!QDir().mkpath(folder))
            throw FileError("cannot create the folder " + folder.toStdString());
        // Account figures are private: the folder and the file are the user's alone.
        QFile::setPermissions(
            folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        // Every write, the fsync and the rename are checked; on failure the
        // old file stays and no temporary file is left.
        PosixFile::writeAtomically(
            QFile::encodeName(m_filePath).toStdString(), VelmoJSON::encode(snapshot), 0600);
    } catch (const std::exception& error) {
        qCCritical(Log::app, "snapshot cache write failed: %s", error.what());
    }
}

void SnapshotCache::clear() const
{
    QFile::remove(m_filePath);
}
