#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

#include <ostream>
#include <string>
#include <sys/resource.h>
#include <sys/types.h>

// Readable gtest failure messages for Qt strings.
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }
inline void PrintTo(const QByteArray& bytes, std::ostream* out) { *out << '"' << bytes.toStdString() << '"'; }

namespace velmo::test {

// A scratch folder removed at the end of the test; fails the test when it
// cannot be created.
class ScratchDir {
public:
    ScratchDir() { EXPECT_TRUE(m_dir.isValid()) << "cannot create a scratch folder"; }
    QString path() const { return m_dir.path(); }
    QString filePath(const QString& name) const { return m_dir.filePath(name); }

private:
    QTemporaryDir m_dir;
};

// Sets (or with a null value, unsets) an environment variable while alive.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const QString& value)
        : m_name(name)
        , m_saved(qgetenv(name))
    {
        value.isNull() ? qunsetenv(name) : qputenv(name, value.toUtf8());
    }
    ~ScopedEnv() { m_saved.isNull() ? qunsetenv(m_name) : qputenv(m_name, m_saved); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* m_name;
    QByteArray m_saved;
};

// Files as the tests meet them: permission bits (0 when missing), whole
// contents ("" when unreadable), a file written with a mode.
mode_t fileMode(const QString& path);
QByteArray readAll(const QString& path);
void writeFile(const QString& path, const QByteArray& bytes, mode_t mode = 0600);
inline mode_t fileMode(const std::string& path) { return fileMode(QString::fromStdString(path)); }
inline QByteArray readAll(const std::string& path) { return readAll(QString::fromStdString(path)); }
inline void writeFile(const std::string& path, const QByteArray& bytes, mode_t mode = 0600)
{
    writeFile(QString::fromStdString(path), bytes, mode);
}

// How a started child process ended and what it printed. One still running
// after `timeoutMs` (a watchdog, not a timing assumption) is killed and fails
// the test; so does a crash.
struct ProcessResult {
    int exitCode = -1;
    QByteArray out, err;
};
ProcessResult finishProcess(QProcess& process, int timeoutMs);

// What a broken or hostile setup can leave where a regular file belongs.
enum class Hostile { fifo, zeroDevice, randomDevice, folder };
void PrintTo(Hostile kind, std::ostream* out);
void plant(Hostile kind, const QString& path);
// Runs `read` (which opens `path`) on a thread; when it has not returned
// after 5 s (blocked on a FIFO without a writer) a writer releases it.
// True when it returned by itself.
bool returnsByItself(const QString& path, const std::function<void()>& read);

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
