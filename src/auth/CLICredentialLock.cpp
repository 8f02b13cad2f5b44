#include "CLICredentialLock.h"

#include "CancellableSleep.h"
#include "Cancellation.h"
#include "TokenCoordinatorError.h"

#include <QTimer>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Sets the lock's modification (and access) date to now.
void touch(const std::string& path)
{
    ::utimensat(AT_FDCWD, path.c_str(), nullptr, 0);
}

std::optional<Timestamp> modificationDate(const std::string& path)
{
    struct stat info { };
    if (::stat(path.c_str(), &info) != 0)
        return std::nullopt;
    return Timestamp(std::chrono::duration_cast<Timestamp::duration>(
        std::chrono::seconds(info.st_mtim.tv_sec) + std::chrono::nanoseconds(info.st_mtim.tv_nsec)));
}

} // namespace

CLICredentialLock::Holding::Holding(std::string path, std::chrono::milliseconds heartbeat)
    : m_path(std::move(path))
    , m_heartbeat(std::make_unique<QTimer>())
{
    m_heartbeat->setInterval(heartbeat);
    QObject::connect(m_heartbeat.get(), &QTimer::timeout, [path = m_path] { touch(path); });
    m_heartbeat->start();
}

CLICredentialLock::Holding::~Holding()
{
    m_heartbeat->stop();
    ::rmdir(m_path.c_str());
}

CLICredentialLock::CLICredentialLock(std::string path, std::chrono::milliseconds heartbeat)
    : m_path(std::move(path))
    , m_heartbeat(heartbeat)
{
}

QCoro::Task<std::unique_ptr<CLICredentialLock::Holding>> CLICredentialLock::acquire(
    std::chrono::milliseconds timeout, std::stop_token stop) const
{
    // Copies: the coroutine may outlive this object.
    const std::string path = m_path;
    const auto heartbeat = m_heartbeat;
    const Timestamp deadline = std::chrono::system_clock::now() + timeout;
    for (;;) {
        throwIfCancelled(stop);
        // Without intermediate directories: a missing ~/.velmo is waited on
        // like a held lock.
        if (::mkdir(path.c_str(), 0700) == 0)
            co_return std::make_unique<Holding>(path, heartbeat);
        const Timestamp now = std::chrono::system_clock::now();
        if (now >= deadline)
            throw TokenCoordinatorError::lockTimeout();
        const auto modified = modificationDate(path);
        if (modified && now - *modified > staleAfter) {
            // The holder is gone. Retry at once only when the removal worked:
            // a lock that cannot be removed must not turn into a busy loop.
            if (::rmdir(path.c_str()) == 0)
                continue;
        }
        auto sleeping = cancellableSleep(pollInterval, stop);
        co_await std::move(sleeping);
    }
}
