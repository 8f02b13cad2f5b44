#pragma once

#include <QObject>

#include <chrono>
#include <functional>
#include <memory>

class QSocketNotifier;

// A one-shot timer measured on CLOCK_BOOTTIME, which keeps running while the
// computer is suspended (QTimer's monotonic clock stops). Fires `onTimeout`
// once on the event loop of the thread that created it; destroying the timer
// cancels it.
class BootClockTimer : public QObject {
    Q_OBJECT
public:
    BootClockTimer(std::chrono::milliseconds timeout, std::function<void()> onTimeout, QObject* parent = nullptr);
    ~BootClockTimer() override;

    // False when the kernel refused the timer; it then falls back to a QTimer.
    bool usesBootClock() const { return m_fd >= 0; }

private:
    void fire();

    int m_fd = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
    std::function<void()> m_onTimeout;
};
