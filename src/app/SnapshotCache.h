#pragma once

#include "Snapshot.h"

#include <QString>

#include <optional>

// The last snapshot in one JSON file, shown at the next start before the
// network answers. Never reports a failure: a bad file reads as no snapshot,
// a failed write is logged.
class SnapshotCache {
public:
    explicit SnapshotCache(QString filePath);

    // $XDG_DATA_HOME/VelmoUsage/snapshot.json (normally ~/.local/share/…).
    // Touches nothing on disk.
    static SnapshotCache defaultCache();

    const QString& filePath() const { return m_filePath; }

    // None for a missing, unreadable, oversized or undecodable file, and for
    // anything that is not a regular file.
    std::optional<Snapshot> load() const;
    // Atomic: a reader sees the old or the new complete file, never half.
    // The file is 0600 and its folder 0700.
    void save(const Snapshot& snapshot) const;
    void clear() const;

    friend bool operator==(const SnapshotCache&, const SnapshotCache&) = default;

private:
    QString m_filePath;
};
