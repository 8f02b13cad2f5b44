#include "CancellableSleep.h"

#include "Cancellation.h"

#include <QCoroTimer>
#include <QTimer>

QCoro::Task<> cancellableSleep(std::chrono::milliseconds duration, std::stop_token stop)
{
    throwIfCancelled(stop);
    QTimer timer;
    timer.setSingleShot(true);
    timer.start(duration);
    // A stop may be requested from any thread: fire the timer early on its
    // own thread. The queued call dies with the timer if we are gone by then.
    std::stop_callback wake(stop, [&timer] {
        QMetaObject::invokeMethod(&timer, [&timer] { timer.start(0); }, Qt::QueuedConnection);
    });
    // Awaiting the timer itself: awaiting QTimer::timeout through qCoro()
    // passes Qt's private-signal tag as a null reference (UBSan flags it).
    co_await timer;
    throwIfCancelled(stop);
}
