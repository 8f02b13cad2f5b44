#pragma once

#include "Cancellation.h"

#include <QCoroTask>
#include <QObject>

#include <coroutine>
#include <deque>
#include <functional>
#include <memory>
#include <stop_token>

// Runs operations one at a time, strictly in the order run() was called,
// each after the previous one has ended; a failing operation does not stop
// the queue. Lives on the event-loop thread; the gate must outlive every
// run() call (holders share it through a shared_ptr).
class SerialGate {
public:
    SerialGate() = default;
    SerialGate(const SerialGate&) = delete;
    SerialGate& operator=(const SerialGate&) = delete;

    // A stop request while waiting for the turn ends the wait with
    // CancellationError and leaves the queue as it was for the others.
    template <typename T>
    QCoro::Task<T> run(std::function<QCoro::Task<T>()> operation, std::stop_token stop = {})
    {
        // Named tasks: GCC 12 destroys temporaries inside co_await twice.
        auto entering = enter(std::move(stop));
        co_await std::move(entering);
        const Turn turn(this);
        auto running = operation();
        co_return co_await std::move(running);
    }

    // Operations running or waiting.
    std::size_t pending() const { return m_queue.size() + (m_busy ? 1 : 0); }

private:
    struct Waiter {
        std::coroutine_handle<> handle;
        bool granted = false;
        bool cancelled = false;
    };
    struct Suspend {
        std::shared_ptr<Waiter> waiter;
        bool await_ready() const noexcept { return false; }
        void await_suspend(std::coroutine_handle<> handle) noexcept { waiter->handle = handle; }
        void await_resume() const noexcept { }
    };
    // Ends a turn when the operation ends, however it ends.
    struct Turn {
        explicit Turn(SerialGate* gate)
            : gate(gate)
        {
        }
        ~Turn() { gate->leave(); }
        Turn(const Turn&) = delete;
        Turn& operator=(const Turn&) = delete;
        SerialGate* gate;
    };

    QCoro::Task<> enter(std::stop_token stop);
    void leave();
    void cancel(const std::shared_ptr<Waiter>& waiter);
    void resumeLater(const std::shared_ptr<Waiter>& waiter);

    bool m_busy = false;
    std::deque<std::shared_ptr<Waiter>> m_queue;
    // Context of queued calls: they are dropped if the gate is gone.
    QObject m_context;
};
