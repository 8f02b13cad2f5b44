#include "PosixFile.h"

#include "FileError.h"
#include "Log.h"

#include <QRandomGenerator>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <set>
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

// Narrows a secret file that others may read to 0600; says so once.
void makePrivate(int fd, const struct stat& info, const std::string& path)
{
    if ((info.st_mode & 077) == 0 || ::fchmod(fd, 0600) != 0)
        return;
    static std::mutex mutex;
    static std::set<std::string> reported;
    const std::lock_guard lock(mutex);
    if (reported.insert(path).second)
        qCWarning(Log::auth, "%s was readable by others (mode %03o); its permissions are now 0600", path.c_str(),
            static_cast<unsigned>(info.st_mode & 0777));
}

std::optional<std::string> readFile(const std::string& path, std::size_t maxBytes, bool secret)
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
    if (secret)
        makePrivate(fd, info, path);
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

} // namespace

std::optional<std::string> readRegularFile(const std::string& path, std::size_t maxBytes)
{
    return readFile(path, maxBytes, false);
}

std::optional<std::string> readPrivateFile(const std::string& path, std::size_t maxBytes)
{
    return readFile(path, maxBytes, true);
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
    const std::string temporary = temporaryPathFor(path);
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

std::string temporaryPathFor(const std::string& path)
{
    return path + "." + uniqueName() + ".tmp";
}

bool isTemporaryName(const std::string& name, const std::string& baseName)
{
    constexpr std::size_t digits = 32;
    if (name.size() != baseName.size() + 1 + digits + 4 || !name.starts_with(baseName + ".") || !name.ends_with(".tmp"))
        return false;
    const std::string_view unique = std::string_view(name).substr(baseName.size() + 1, digits);
    return std::all_of(unique.begin(), unique.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
}

} // namespace PosixFile
