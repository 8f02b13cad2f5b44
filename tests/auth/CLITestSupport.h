#pragma once

#include <QByteArray>
#include <QString>

#include <csignal>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>

namespace velmo::test {

inline mode_t fileMode(const std::string& path)
{
    struct stat info { };
    if (::lstat(path.c_str(), &info) != 0)
        return 0;
    return info.st_mode & 07777;
}

QByteArray readAll(const std::string& path);
void writeFile(const std::string& path, const QByteArray& bytes, mode_t mode = 0600);
// Names in `dir` that match tokens.json.*.tmp.
QStringList temporaryFiles(const std::string& dir);

// While alive, no file of this process may grow beyond `bytes`: writes fail
// with EFBIG, even for root, so a write failure can be provoked anywhere.
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
