#pragma once

#include "Timestamp.h"

#include <QCoroTask>

#include <chrono>
#include <functional>
#include <memory>
#include <stop_token>
#include <string>
#include <vector>

class QTimer;

// The lock around a session's renewal, shared between processes: the
// directory (~/.velmo/tokens.json.lock for the velmo tool's session, the
// same beside the app's own) exists while someone holds it. Taking it is a
// create-only mkdir (atomic test-and-set), retried every 100 ms until the
// wall-clock deadline. A holder keeps the directory's date fresh with a
// heartbeat every second; one whose date is more than 30 s old is abandoned.
//
// Our holders also record their process and boot on the directory (the
// extended attribute user.velmo-usage.holder, "<pid> <boot id>"), so that a
// lock left by a killed process of ours is taken over at once. Peers that do
// not record themselves (the velmo tool) still get the 30 s rule. Whoever
// takes the lock removes the leftover temporary files of ours beside the
// guarded files: a writer only makes them while holding the lock.
//
// Waiting and the heartbeat run on the event loop and never block it.
class SessionLock {
public:
    static constexpr std::chrono::seconds staleAfter { 30 };
    static constexpr std::chrono::milliseconds pollInterval { 100 };
    static constexpr std::chrono::milliseconds heartbeatInterval { 1000 };
    static constexpr const char* holderAttribute = "user.velmo-usage.holder";

    // A held lock; destroying it stops the heartbeat and removes the directory.
    class Holding {
    public:
        Holding(std::string path, std::chrono::milliseconds heartbeat);
        ~Holding();
        Holding(const Holding&) = delete;
        Holding& operator=(const Holding&) = delete;

    private:
        std::string m_path;
        std::unique_ptr<QTimer> m_heartbeat;
    };

    // `path` is the lock directory; it guards the file named like it without
    // ".lock" and `otherFiles`.
    explicit SessionLock(std::string path, std::vector<std::string> otherFiles = {},
        std::chrono::milliseconds heartbeat = heartbeatInterval);

    const std::string& path() const { return m_path; }

    // Takes the lock, waiting up to `timeout`. Throws
    // TokenCoordinator::Error::lockTimeout at the deadline, or
    // CancellationError when `stop` is requested (the lock is then not taken).
    QCoro::Task<std::unique_ptr<Holding>> acquire(std::chrono::milliseconds timeout, std::stop_token stop) const;

    // Runs `body` while holding the lock; the lock is released whether the
    // body succeeds or throws, and the body's result or error is passed on.
    template <typename T>
    QCoro::Task<T> withLock(std::function<QCoro::Task<T>()> body, std::chrono::milliseconds timeout,
        std::stop_token stop) const
    {
        // Named tasks: GCC 12 destroys temporaries inside co_await twice.
        auto acquiring = acquire(timeout, std::move(stop));
        const auto holding = co_await std::move(acquiring);
        auto running = body();
        co_return co_await std::move(running);
    }

    // This boot's identity (/proc/sys/kernel/random/boot_id).
    static std::string bootID();

private:
    std::string m_path;
    std::vector<std::string> m_guarded;
    std::chrono::milliseconds m_heartbeat;
};
