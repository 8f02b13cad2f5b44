#include "AppImageInstaller.h"

#include "UpdateError.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

UpdateError systemError(const QString& what)
{
    return UpdateError(QStringLiteral("%1: %2").arg(what, QString::fromLocal8Bit(std::strerror(errno))));
}

} // namespace

bool AppImageInstaller::canReplace(const QString& appImagePath)
{
    if (appImagePath.isEmpty())
        return false;
    const QFileInfo file(appImagePath);
    return file.isFile() && ::access(QFile::encodeName(file.absolutePath()).constData(), W_OK) == 0;
}

AppImageInstaller::AppImageInstaller(const QString& appImagePath)
    : m_target(QFileInfo(appImagePath).absoluteFilePath())
    , m_scratch(QFileInfo(m_target).dir().filePath(
          QStringLiteral(".%1.update-XXXXXX").arg(QFileInfo(m_target).fileName())))
{
    // Scratch files of installs that were killed midway; one still being
    // written (by another running copy) is younger than an hour.
    const QDir folder = QFileInfo(m_target).dir();
    const QString pattern = QStringLiteral(".%1.update-??????").arg(QFileInfo(m_target).fileName());
    for (const QFileInfo& stale : folder.entryInfoList({ pattern }, QDir::Files | QDir::Hidden)) {
        if (stale.lastModified().secsTo(QDateTime::currentDateTime()) > 3600)
            QFile::remove(stale.absoluteFilePath());
    }
    if (!m_scratch.open())
        throw UpdateError(QStringLiteral("Could not save the update next to %1: %2")
                              .arg(m_target, m_scratch.errorString()));
}

void AppImageInstaller::install()
{
    const QByteArray target = QFile::encodeName(m_target);
    const QByteArray scratch = QFile::encodeName(m_scratch.fileName());
    struct stat old { };
    if (::stat(target.constData(), &old) != 0)
        throw systemError(QStringLiteral("Could not read %1").arg(m_target));
    if (!m_scratch.flush())
        throw UpdateError(QStringLiteral("Could not save the update: %1").arg(m_scratch.errorString()));
    const int fd = m_scratch.handle();
    if (::fchmod(fd, old.st_mode & 07777) != 0 || ::fsync(fd) != 0)
        throw systemError(QStringLiteral("Could not save the update"));
    if (::rename(scratch.constData(), target.constData()) != 0)
        throw systemError(QStringLiteral("Could not replace %1").arg(m_target));
    m_scratch.setAutoRemove(false);
    m_scratch.close();
    // The rename itself reaches the disk with the folder.
    const int folder = ::open(QFile::encodeName(QFileInfo(m_target).absolutePath()).constData(),
        O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
}
