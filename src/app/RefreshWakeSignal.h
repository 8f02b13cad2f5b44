#pragma once

#include <QObject>
#include <QCoroTask>

#include <chrono>
#include <coroutine>
#include <cstdint>
#include <functional>
#include <memory>

// Lets the refresh loop sleep until its interval has passed or somebody asks
// for a refresh now. One waiter at a time; a wake-up that comes while nobody
// waits is remembered (several coalesce into one). Each wait tags its timer
// with a generation so a late timer of an earlier wait never ends a later one.
// Lives on the main thread.
class RefreshWakeSignal : public QObject {
    Q_OBJECT
public:
    // Starts a one-shot timer calling `fire` after `timeout`; destroying the
    // returned object cancels it. Tests pass their own.
    using TimerFactory
        = std::function<std::unique_ptr<QObject>(std::chrono::milliseconds timeout, std::function<void()> fire)>;

    explicit RefreshWakeSignal(QObject* parent = nullptr);
    // Resumes a waiter that is still suspended.
    RefreshWakeSignal(TimerFactory timers, QObject* parent = nullptr);
    ~RefreshWakeSignal() override;

    // Ends the current wait, or remembers the wake-up for the next one.
    void wake();
    // Returns when woken, after `timeout` of wall time (suspend included), or at
    // once when a wake-up is pending. Never fails; cancellation of the waiting
    // task is only seen by the caller after this returns.
    QCoro::Task<> wait(std::chrono::milliseconds timeout);

    bool isWaiting() const { return static_cast<bool>(m_continuation); }
    bool isPending() const { return m_pending; }
    std::int64_t generation() const { return m_generation; }

private:
    struct Suspend;
    void timedOut(std::int64_t generation);
    void resumeWaiter();

    TimerFactory m_timers;
    std::coroutine_handle<> m_continuation;
    // Woken, its resumption queued on the event loop.
    std::coroutine_handle<> m_resuming;
    bool m_pending = false;
    std::int64_t m_generation = 0;
    std::unique_ptr<QObject> m_timer;
};
