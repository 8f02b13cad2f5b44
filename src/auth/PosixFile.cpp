#include "PosixFile.h"

#include "FileError.h"

#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

FileError FileError::fromErrno(int code, const std::string& context)
{
    const std::string text = std::strerror(code);
    return FileError(context.empty() ? text : context + ": " + text);
}

namespace PosixFile {

namespace {

class FileDescriptor {
public:
    explicit FileDescriptor(int fd)
        : m_fd(fd)
    {
    }
    ~FileDescriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return m_fd; }
    // close() reports delayed write errors (NFS, quota): check it.
    int close()
    {
        const int result = ::close(m_fd);
        m_fd = -1;
        return result;
    }

private:
    int m_fd;
};

std::string baseName(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

void writeAll(int fd, const std::string& bytes, const std::string& name)
{
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw FileError::fromErrno(errno, "cannot write " + name);
        }
        written += static_cast<std::size_t>(n);
    }
}

} // namespace

std::optional<std::string> readRegularFile(const std::string& path, std::size_t maxBytes)
{
    // O_NONBLOCK: opening a FIFO planted in place of the file must not hang.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        if (errno == ENOENT)
            return std::nullopt;
        throw FileError::fromErrno(errno);
    }
    FileDescriptor file(fd);
    struct stat info { };
    if (::fstat(fd, &info) != 0)
        throw FileError::fromErrno(errno);
    if (S_ISDIR(info.st_mode))
        throw FileError::fromErrno(EISDIR);
    if (!S_ISREG(info.st_mode))
        throw FileError("not a regular file");
    if (static_cast<std::size_t>(info.st_size) > maxBytes)
        throw FileError("file too large (" + std::to_string(info.st_size) + " bytes)");
    std::string content;
    char buffer[8192];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw FileError::fromErrno(errno);
        }
        if (n == 0)
            break;
        content.append(buffer, static_cast<std::size_t>(n));
        if (content.size() > maxBytes)
            throw FileError("file too large");
    }
    return content;
}

void writeNewFile(const std::string& path, const std::string& bytes, mode_t mode)
{
    const std::string name = baseName(path);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
    if (fd < 0)
        throw FileError::fromErrno(errno, "cannot create " + name);
    FileDescriptor file(fd);
    // The umask may have narrowed the mode; set it exactly.
    if (::fchmod(fd, mode) != 0)
        throw FileError::fromErrno(errno, "cannot set the permissions of " + name);
    writeAll(fd, bytes, name);
    if (::fsync(fd) != 0)
        throw FileError::fromErrno(errno, "cannot write " + name);
    if (file.close() != 0)
        throw FileError::fromErrno(errno, "cannot write " + name);
}

void writeAtomically(const std::string& path, const std::string& bytes, mode_t mode)
{
    const std::string temporary = path + "." + uniqueName() + ".tmp";
    try {
        writeNewFile(temporary, bytes, mode);
        if (::rename(temporary.c_str(), path.c_str()) != 0)
            throw FileError::fromErrno(errno, "cannot replace " + baseName(path));
    } catch (...) {
        removeQuietly(temporary);
        throw;
    }
}

void removeQuietly(const std::string& path)
{
    ::unlink(path.c_str());
}

std::string uniqueName()
{
    char text[33];
    auto* random = QRandomGenerator::system();
    std::snprintf(text, sizeof text, "%016llx%016llx", static_cast<unsigned long long>(random->generate64()),
        static_cast<unsigned long long>(random->generate64()));
    return text;
}

} // namespace PosixFile
