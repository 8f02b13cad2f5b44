#pragma once

#include <QFile>
#include <QString>
#include <gtest/gtest.h>

#include <array>
#include <fcntl.h>
#include <future>
#include <sys/stat.h>
#include <unistd.h>

namespace velmo::test {

// What a broken or hostile setup can leave where a regular file belongs.
enum class Hostile { fifo, zeroDevice, randomDevice, folder };
inline void PrintTo(Hostile kind, std::ostream* out)
{
    *out << std::array { "fifo", "/dev/zero", "/dev/urandom", "folder" }[int(kind)];
}

inline void plant(Hostile kind, const QString& path)
{
    const QByteArray native = QFile::encodeName(path);
    const int result = kind == Hostile::fifo ? ::mkfifo(native, 0600)
        : kind == Hostile::folder
        ? ::mkdir(native, 0700)
        : ::symlink(kind == Hostile::zeroDevice ? "/dev/zero" : "/dev/urandom", native);
    ASSERT_EQ(result, 0) << native.constData();
}

// Runs `read`, which opens the FIFO or file at `path`. When it has not
// returned after 5 s (blocked opening a FIFO that has no writer), a writer
// opens and closes the FIFO so that it ends. True when it returned by itself.
template <typename Read> bool returnsByItself(const QString& path, Read read)
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

} // namespace velmo::test
