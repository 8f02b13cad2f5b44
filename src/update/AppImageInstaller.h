#pragma once

#include <QString>
#include <QTemporaryFile>

// Puts a new AppImage in place of the running one: the download goes to a
// hidden scratch file in the same folder, and once verified it is given the
// old file's mode, synced to disk and renamed over the old file in one step.
// Until then, and whenever anything fails, the old file stays as it was and
// the scratch file is removed (or, when the process was killed midway, by
// the next install).
class AppImageInstaller {
public:
    // True when `appImagePath` names an existing file in a folder we may write.
    static bool canReplace(const QString& appImagePath);

    // Creates the scratch file; throws UpdateError when it cannot.
    explicit AppImageInstaller(const QString& appImagePath);

    // Where the download is written.
    QTemporaryFile& scratch() { return m_scratch; }
    // Replaces the AppImage with the scratch file; throws UpdateError.
    void install();

private:
    QString m_target;
    QTemporaryFile m_scratch;
};
