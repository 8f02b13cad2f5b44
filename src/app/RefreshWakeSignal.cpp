#include "RefreshWakeSignal.h"

#include "BootClockTimer.h"

#include <QPointer>

struct RefreshWakeSignal::Suspend {
    RefreshWakeSignal* signal;
    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> handle) noexcept { signal->m_continuation = handle; }
    void await_resume() const noexcept { }
};

RefreshWakeSignal::RefreshWakeSignal(QObject* parent)
    : RefreshWakeSignal(
        [](std::chrono::milliseconds timeout, std::function<void()> fire) -> std::unique_ptr<QObject> {
            return std::make_unique<BootClockTimer>(timeout, std::move(fire));
        },
        parent)
{
}

RefreshWakeSignal::RefreshWakeSignal(TimerFactory timers, QObject* parent)
    : QObject(parent)
    , m_timers(std::move(timers))
{
}

RefreshWakeSignal::~RefreshWakeSignal()
{
    // A waiter still suspended, or woken but not yet resumed, is let go, so
    // its task can see that it should end instead of staying suspended for ever.
    if (auto handle = std::exchange(m_continuation, nullptr))
        handle.resume();
    else if (auto woken = std::exchange(m_resuming, nullptr))
        woken.resume();
}

void RefreshWakeSignal::wake()
{
    if (m_continuation)
        resumeWaiter();
    else
        m_pending = true;
}

QCoro::Task<> RefreshWakeSignal::wait(std::chrono::milliseconds timeout)
{
    if (m_pending) {
        m_pending = false;
        co_return;
    }
    const std::int64_t generation = ++m_generation;
    QPointer<RefreshWakeSignal> self(this);
    m_timer = m_timers(timeout, [self, generation] {
        if (self)
            self->timedOut(generation);
    });
    co_await Suspend { this };
    // Resumed by wake() or by this wait's own timer.
    if (self)
        m_timer.reset();
}

void RefreshWakeSignal::timedOut(std::int64_t generation)
{
    if (generation != m_generation || !m_continuation)
        return;
    resumeWaiter();
}

void RefreshWakeSignal::resumeWaiter()
{
    // Resume from the event loop, not from inside the waker's call stack, so a
    // waker never runs the refresh loop's body re-entrantly.
    m_resuming = std::exchange(m_continuation, nullptr);
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (auto handle = std::exchange(m_resuming, nullptr))
                handle.resume();
        },
        Qt::QueuedConnection);
}
