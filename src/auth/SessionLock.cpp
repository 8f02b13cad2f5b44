#include "SessionLock.h"

#include "CancellableSleep.h"
#include "Cancellation.h"
#include "PosixFile.h"
#include "TokenCoordinatorError.h"

#include <QTimer>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

// Sets the lock's modification (and access) date to now.
void touch(const std::string& path)
{
    ::utimensat(AT_FDCWD, path.c_str(), nullptr, 0);
}

Timestamp modificationDate(const struct stat& info)
{
    return Timestamp(std::chrono::duration_cast<Timestamp::duration>(
        std::chrono::seconds(info.st_mtim.tv_sec) + std::chrono::nanoseconds(info.st_mtim.tv_nsec)));
}

std::string holderRecord()
{
    return std::to_string(::getpid()) + " " + SessionLock::bootID();
}

// A holder recorded on the lock that no longer runs: its process has ended,
// or it ran before this boot. Without a record, nothing is known.
bool holderIsGone(int fd)
{
    char buffer[128];
    const ssize_t size = ::fgetxattr(fd, SessionLock::holderAttribute, buffer, sizeof buffer - 1);
    if (size <= 0)
        return false;
    std::istringstream record(std::string(buffer, static_cast<std::size_t>(size)));
    long pid = 0;
    std::string boot;
    if (!(record >> pid >> boot) || pid <= 0)
        return false;
    if (boot != SessionLock::bootID())
        return true;
    return ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

class Descriptor {
public:
    explicit Descriptor(int fd)
        : fd(fd)
    {
    }
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    const int fd;
};

// Removes the lock when its holder is gone (no heartbeat for 30 s, or its
// process has ended). True when the caller should try to take it at once.
bool removeIfAbandoned(const std::string& path, Timestamp now)
{
    const Descriptor lock(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (lock.fd < 0)
        return errno == ENOENT;
    // Two processes of ours that find the same lock abandoned must not both
    // remove "it": the second would remove the one the first has just made.
    // The remover holds flock() on the abandoned directory and checks that the
    // path still names it. (Where flock() is not offered, the check alone.)
    if (::flock(lock.fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)
        return false;
    struct stat info { };
    if (::fstat(lock.fd, &info) != 0)
        return false;
    if (now - modificationDate(info) <= SessionLock::staleAfter && !holderIsGone(lock.fd))
        return false;
    struct stat current { };
    if (::lstat(path.c_str(), &current) != 0)
        return errno == ENOENT;
    if (current.st_ino != info.st_ino || current.st_dev != info.st_dev)
        return true;
    // Retry at once only when the removal worked: a lock that cannot be
    // removed must not turn into a busy loop.
    return ::rmdir(path.c_str()) == 0;
}

// Temporary files of ours beside `file` (file.<32 hex digits>.tmp): whoever
// wrote them held the lock and is gone.
void removeStaleTemporaries(const std::string& file)
{
    const std::filesystem::path guarded(file);
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(guarded.parent_path(), error)) {
        if (PosixFile::isTemporaryName(entry.path().filename().string(), guarded.filename().string()))
            PosixFile::removeQuietly(entry.path().string());
    }
}

} // namespace

SessionLock::Holding::Holding(std::string path, std::chrono::milliseconds heartbeat)
    : m_path(std::move(path))
    , m_heartbeat(std::make_unique<QTimer>())
{
    m_heartbeat->setInterval(heartbeat);
    QObject::connect(m_heartbeat.get(), &QTimer::timeout, [path = m_path] { touch(path); });
    m_heartbeat->start();
}

SessionLock::Holding::~Holding()
{
    m_heartbeat->stop();
    ::rmdir(m_path.c_str());
}

SessionLock::SessionLock(std::string path, std::vector<std::string> otherFiles, std::chrono::milliseconds heartbeat)
    : m_path(std::move(path))
    , m_guarded(std::move(otherFiles))
    , m_heartbeat(heartbeat)
{
    if (m_path.ends_with(".lock"))
        m_guarded.push_back(m_path.substr(0, m_path.size() - 5));
}

std::string SessionLock::bootID()
{
    static const std::string id = [] {
        std::ifstream file("/proc/sys/kernel/random/boot_id");
        std::string text;
        std::getline(file, text);
        return text;
    }();
    return id;
}

QCoro::Task<std::unique_ptr<SessionLock::Holding>> SessionLock::acquire(
    std::chrono::milliseconds timeout, std::stop_token stop) const
{
    // Copies: the coroutine may outlive this object.
    const std::string path = m_path;
    const std::vector<std::string> guarded = m_guarded;
    const auto heartbeat = m_heartbeat;
    const Timestamp deadline = std::chrono::system_clock::now() + timeout;
    for (;;) {
        throwIfCancelled(stop);
        // Without intermediate directories: a missing folder is waited on
        // like a held lock.
        if (::mkdir(path.c_str(), 0700) == 0) {
            // Best effort: where the file system keeps no extended
            // attributes, the 30 s rule is all a waiter has.
            const std::string record = holderRecord();
            ::setxattr(path.c_str(), holderAttribute, record.data(), record.size(), 0);
            for (const std::string& file : guarded)
                removeStaleTemporaries(file);
            co_return std::make_unique<Holding>(path, heartbeat);
        }
        const bool held = errno == EEXIST;
        const Timestamp now = std::chrono::system_clock::now();
        if (now >= deadline)
            throw TokenCoordinatorError::lockTimeout();
        if (held && removeIfAbandoned(path, now))
            continue;
        auto sleeping = cancellableSleep(pollInterval, stop);
        co_await std::move(sleeping);
    }
}
