#include "SerialGate.h"

#include <QMetaObject>

#include <algorithm>

QCoro::Task<> SerialGate::enter(std::stop_token stop)
{
    throwIfCancelled(stop);
    if (!m_busy) {
        m_busy = true;
        co_return;
    }
    auto waiter = std::make_shared<Waiter>();
    m_queue.push_back(waiter);
    // A stop may come from any thread: handle it on the gate's thread.
    std::stop_callback onStop(stop, [this, waiter] {
        QMetaObject::invokeMethod(&m_context, [this, waiter] { cancel(waiter); }, Qt::QueuedConnection);
    });
    Suspend suspend { waiter };
    co_await suspend;
    if (waiter->cancelled)
        throw CancellationError();
}

void SerialGate::leave()
{
    if (m_queue.empty()) {
        m_busy = false;
        return;
    }
    // The turn passes straight on; the gate stays busy.
    auto next = m_queue.front();
    m_queue.pop_front();
    next->granted = true;
    resumeLater(next);
}

void SerialGate::cancel(const std::shared_ptr<Waiter>& waiter)
{
    if (waiter->granted || waiter->cancelled)
        return;
    const auto it = std::find(m_queue.begin(), m_queue.end(), waiter);
    if (it == m_queue.end())
        return;
    m_queue.erase(it);
    waiter->cancelled = true;
    resumeLater(waiter);
}

void SerialGate::resumeLater(const std::shared_ptr<Waiter>& waiter)
{
    // From the event loop, not from inside the ending operation: a long queue
    // must not resume itself ever deeper on one stack.
    QMetaObject::invokeMethod(
        &m_context, [waiter] { waiter->handle.resume(); }, Qt::QueuedConnection);
}
