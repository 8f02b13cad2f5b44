#include "TestSupport.h"

#include <QFile>

#include <gtest/gtest.h>

#include <array>
#include <csignal>
#include <fcntl.h>
#include <future>
#include <sys/stat.h>
#include <unistd.h>

namespace velmo::test {

ProcessResult finishProcess(QProcess& process, int timeoutMs)
{
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(10'000);
        ADD_FAILURE() << process.program().toStdString() << " did not finish in " << timeoutMs << " ms";
        return {};
    }
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    return { process.exitCode(), process.readAllStandardOutput(), process.readAllStandardError() };
}

mode_t fileMode(const QString& path)
{
    struct stat info { };
    return ::lstat(QFile::encodeName(path), &info) == 0 ? info.st_mode & 07777 : 0;
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes, mode_t mode)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    file.write(bytes);
    file.close();
    ::chmod(QFile::encodeName(path), mode);
}

void PrintTo(Hostile kind, std::ostream* out)
{
    *out << std::array { "fifo", "/dev/zero", "/dev/urandom", "folder" }[int(kind)];
}

void plant(Hostile kind, const QString& path)
{
    const QByteArray native = QFile::encodeName(path);
    const int result = kind == Hostile::fifo ? ::mkfifo(native, 0600)
        : kind == Hostile::folder            ? ::mkdir(native, 0700)
                                             : ::symlink(kind == Hostile::zeroDevice ? "/dev/zero" : "/dev/urandom", native);
    ASSERT_EQ(result, 0) << native.constData();
}

bool returnsByItself(const QString& path, const std::function<void()>& read)
{
    auto reader = std::async(std::launch::async, read);
    if (reader.wait_for(std::chrono::seconds(5)) == std::future_status::ready)
        return true;
    const int fd = ::open(QFile::encodeName(path), O_WRONLY | O_NONBLOCK);
    if (fd >= 0)
        ::close(fd);
    reader.wait();
    return false;
}

FileSizeLimit::FileSizeLimit(rlim_t bytes)
{
    ::getrlimit(RLIMIT_FSIZE, &m_previous);
    // Exceeding the limit raises SIGXFSZ; ignored, the write fails instead.
    m_previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = m_previous;
    limit.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &limit);
}

FileSizeLimit::~FileSizeLimit()
{
    ::setrlimit(RLIMIT_FSIZE, &m_previous);
    std::signal(SIGXFSZ, m_previousHandler);
}

} // namespace velmo::test
