#pragma once

#include <QByteArray>
#include <QStringList>

#include <string>
#include <sys/resource.h>
#include <sys/stat.h>

namespace velmo::test {

inline mode_t fileMode(const std::string& path)
{
    struct stat info { };
    return ::lstat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

QByteArray readAll(const std::string& path);
void writeFile(const std::string& path, const QByteArray& bytes, mode_t mode = 0600);

// While alive, no file of this process may grow beyond `bytes`: writes and
// allocations fail with EFBIG ("File too large"), even for root.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit m_previous { };
    void (*m_previousHandler)(int) = nullptr;
};

} // namespace velmo::test
