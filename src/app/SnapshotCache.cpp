#include "SnapshotCache.h"

#include "Log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
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
    QFile file(m_filePath);
    // Refuse anything far larger than a snapshot before reading it whole.
    if (QFileInfo(file).size() > static_cast<qint64>(VelmoJSON::maxDocumentBytes))
        return std::nullopt;
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.readAll();
    try {
        return VelmoJSON::decode<Snapshot>(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
    } catch (const VelmoJSON::DecodingError&) {
        return std::nullopt;
    }
}

void SnapshotCache::save(const Snapshot& snapshot) const
{
    const auto fail = [](const QString& why) {
        qCCritical(Log::app, "snapshot cache write failed: %s", qUtf8Printable(why));
    };
    const QFileInfo info(m_filePath);
    if (!QDir().mkpath(info.absolutePath()))
        return fail(QStringLiteral("cannot create the folder %1").arg(info.absolutePath()));

    const std::string json = VelmoJSON::encode(snapshot);
    QSaveFile file(m_filePath);
    if (!file.open(QIODevice::WriteOnly))
        return fail(file.errorString());
    if (file.write(json.data(), static_cast<qint64>(json.size())) != static_cast<qint64>(json.size()))
        return fail(file.errorString());
    if (!file.commit())
        return fail(file.errorString());
}

void SnapshotCache::clear() const
{
    QFile::remove(m_filePath);
}
