#pragma once

#include "Timestamp.h"

#include <QCoroTask>

#include <chrono>
#include <functional>
#include <memory>
#include <stop_token>
#include <string>

class QTimer;

// The lock the app shares with the velmo tool around a rotation of
// tokens.json: the directory ~/.velmo/tokens.json.lock exists while someone
// holds it. Taking it is a create-only mkdir (atomic test-and-set), retried
// every 100 ms until the wall-clock deadline. A lock whose modification date
// is more than 30 s old is abandoned and removed; a holder keeps the date
// fresh with a heartbeat every second.
//
// Waiting and the heartbeat run on the event loop and never block it.
class CLICredentialLock {
public:
    static constexpr std::chrono::seconds staleAfter { 30 };
    static constexpr std::chrono::milliseconds pollInterval { 100 };
    static constexpr std::chrono::milliseconds heartbeatInterval { 1000 };

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

    explicit CLICredentialLock(std::string path, std::chrono::milliseconds heartbeat = heartbeatInterval);

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

private:
    std::string m_path;
    std::chrono::milliseconds m_heartbeat;
};
