#include "BootClockTimer.h"

#include <QSocketNotifier>
#include <QTimer>

#include <sys/timerfd.h>
#include <unistd.h>

#include <cstdint>

BootClockTimer::BootClockTimer(std::chrono::milliseconds timeout, std::function<void()> onTimeout, QObject* parent)
    : QObject(parent)
    , m_onTimeout(std::move(onTimeout))
{
    using namespace std::chrono;
    // A zero it_value would disarm the timer: wait at least a nanosecond.
    const auto total = std::max(duration_cast<nanoseconds>(timeout), nanoseconds(1));
    itimerspec spec {};
    spec.it_value.tv_sec = static_cast<time_t>(duration_cast<seconds>(total).count());
    spec.it_value.tv_nsec = static_cast<long>((total % seconds(1)).count());

    m_fd = ::timerfd_create(CLOCK_BOOTTIME, TFD_NONBLOCK | TFD_CLOEXEC);
    if (m_fd >= 0 && ::timerfd_settime(m_fd, 0, &spec, nullptr) == 0) {
        m_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
        connect(m_notifier.get(), &QSocketNotifier::activated, this, [this] {
            std::uint64_t expirations = 0;
            [[maybe_unused]] const auto n = ::read(m_fd, &expirations, sizeof expirations);
            fire();
        });
        return;
    }
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    // No boot clock (unusual kernels, sandboxes): the monotonic clock still
    // ends the wait, only without counting suspended time.
    auto* timer = new QTimer(this);
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    connect(timer, &QTimer::timeout, this, &BootClockTimer::fire);
    timer->start(duration_cast<milliseconds>(total));
}

BootClockTimer::~BootClockTimer()
{
    m_notifier.reset();
    if (m_fd >= 0)
        ::close(m_fd);
}

void BootClockTimer::fire()
{
    if (m_notifier)
        m_notifier->setEnabled(false);
    if (auto callback = std::exchange(m_onTimeout, nullptr))
        callback();
}
