#include "ReservedFile.h"

#include "FileError.h"
#include "PosixFile.h"

#include <cerrno>
#include <utility>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string baseName(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

ReservedFile::ReservedFile(std::string path, std::size_t bytes, mode_t mode)
    : m_path(std::move(path))
    , m_temporary(PosixFile::temporaryPathFor(m_path))
{
    const std::string context = "cannot reserve space for " + baseName(m_path);
    m_fd = ::open(m_temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
    if (m_fd < 0)
        throw FileError::fromErrno(errno, context);
    // The umask may have narrowed the mode; set it exactly.
    int error = ::fchmod(m_fd, mode) == 0 ? 0 : errno;
    // glibc writes the blocks itself where the file system cannot allocate.
    if (error == 0)
        error = ::posix_fallocate(m_fd, 0, static_cast<off_t>(bytes));
    if (error == 0 && ::fsync(m_fd) != 0)
        error = errno;
    if (error != 0) {
        discard();
        throw FileError::fromErrno(error, context);
    }
}

ReservedFile::~ReservedFile()
{
    discard();
}

void ReservedFile::discard()
{
    if (m_fd < 0)
        return;
    ::close(m_fd);
    m_fd = -1;
    PosixFile::removeQuietly(m_temporary);
}

void ReservedFile::commit(const std::string& content)
{
    const std::string name = baseName(m_path);
    const auto fail = [&](int error, const std::string& context) {
        discard();
        PosixFile::removeQuietly(m_temporary);
        throw FileError::fromErrno(error, context + " " + name);
    };
    std::size_t written = 0;
    while (written < content.size()) {
        const ssize_t n = ::pwrite(m_fd, content.data() + written, content.size() - written, static_cast<off_t>(written));
        if (n < 0 && errno != EINTR)
            fail(errno, "cannot write");
        written += n > 0 ? static_cast<std::size_t>(n) : 0;
    }
    if (::ftruncate(m_fd, static_cast<off_t>(content.size())) != 0 || ::fsync(m_fd) != 0)
        fail(errno, "cannot write");
    // close() reports delayed write errors (NFS, quota): check it.
    const int fd = std::exchange(m_fd, -1);
    if (::close(fd) != 0)
        fail(errno, "cannot write");
    if (::rename(m_temporary.c_str(), m_path.c_str()) != 0)
        fail(errno, "cannot replace");
}
