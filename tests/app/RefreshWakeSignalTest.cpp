#include "AsyncWait.h"
#include "BootClockTimer.h"
#include "RefreshWakeSignal.h"

#include <QCoroTimer>
#include <QElapsedTimer>
#include <gtest/gtest.h>

#include <map>

using namespace std::chrono_literals;
using velmo::test::waitForTask;

namespace {

// Timers the test fires by hand, by generation order.
struct ManualTimers {
    struct Entry {
        std::chrono::milliseconds timeout;
        std::function<void()> fire;
        bool cancelled = false;
    };
    std::vector<std::shared_ptr<Entry>> started;

    RefreshWakeSignal::TimerFactory factory()
    {
        return [this](std::chrono::milliseconds timeout, std::function<void()> fire) -> std::unique_ptr<QObject> {
            auto entry = std::make_shared<Entry>(Entry { timeout, std::move(fire) });
            started.push_back(entry);
            // The handle marks the entry cancelled when the signal drops it.
            struct Handle : QObject {
                std::shared_ptr<Entry> entry;
                ~Handle() override { entry->cancelled = true; }
            };
            auto handle = std::make_unique<Handle>();
            handle->entry = entry;
            return handle;
        };
    }
};

// Starts a wait and reports when it has returned.
struct Waiter {
    bool done = false;
    QCoro::Task<> run(RefreshWakeSignal& signal, std::chrono::milliseconds timeout)
    {
        co_await signal.wait(timeout);
        done = true;
    }
};

void spin()
{
    // Lets queued resumptions run.
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
}

TEST(RefreshWakeSignal, WakeBeforeWaitIsRememberedOnceAndCoalesces)
{
    ManualTimers timers;
    RefreshWakeSignal signal(timers.factory());
    signal.wake();
    signal.wake();
    signal.wake();
    EXPECT_TRUE(signal.isPending());

    auto first = waitForTask(signal.wait(900s), 1s);
    EXPECT_TRUE(first.ok());
    EXPECT_FALSE(signal.isPending());
    EXPECT_TRUE(timers.started.empty()) << "a pending wake-up returns without a timer";
    EXPECT_EQ(signal.generation(), 0);

    Waiter next;
    auto task = next.run(signal, 900s);
    spin();
    EXPECT_FALSE(next.done) << "three wake-ups buy exactly one immediate return";
    EXPECT_TRUE(signal.isWaiting());
    signal.wake();
    spin();
    EXPECT_TRUE(next.done);
}

TEST(RefreshWakeSignal, WakeDuringAWaitResumesItAndCancelsItsTimer)
{
    ManualTimers timers;
    RefreshWakeSignal signal(timers.factory());
    Waiter waiter;
    auto task = waiter.run(signal, 900s);
    ASSERT_EQ(timers.started.size(), 1u);
    EXPECT_EQ(timers.started[0]->timeout, 900s);
    signal.wake();
    spin();
    EXPECT_TRUE(waiter.done);
    EXPECT_TRUE(timers.started[0]->cancelled);
    EXPECT_FALSE(signal.isPending()) << "the wake-up was used by the wait";

    Waiter following;
    auto next = following.run(signal, 900s);
    spin();
    EXPECT_FALSE(following.done);
    timers.started[1]->fire();
    spin();
    EXPECT_TRUE(following.done);
}

TEST(RefreshWakeSignal, WakeJustAfterATimeOutMakesTheNextWaitReturnAtOnce)
{
    ManualTimers timers;
    RefreshWakeSignal signal(timers.factory());
    Waiter waiter;
    auto task = waiter.run(signal, 900s);
    timers.started[0]->fire();
    spin();
    ASSERT_TRUE(waiter.done);
    signal.wake();
    EXPECT_TRUE(waitForTask(signal.wait(900s), 1s).ok());
    EXPECT_EQ(timers.started.size(), 1u);
}

TEST(RefreshWakeSignal, AStaleTimerNeverEndsALaterWait)
{
    ManualTimers timers;
    RefreshWakeSignal signal(timers.factory());
    Waiter first;
    auto a = first.run(signal, 900s);
    signal.wake();
    spin();
    ASSERT_TRUE(first.done);

    Waiter second;
    auto b = second.run(signal, 900s);
    spin();
    // The first wait's timer fires late, after its cancellation.
    timers.started[0]->fire();
    spin();
    EXPECT_FALSE(second.done);
    EXPECT_FALSE(signal.isPending()) << "a stale timer does not leave a wake-up behind";
    timers.started[1]->fire();
    spin();
    EXPECT_TRUE(second.done);
}

TEST(RefreshWakeSignal, TimeOutWithoutAWaiterSetsNothingPending)
{
    ManualTimers timers;
    RefreshWakeSignal signal(timers.factory());
    Waiter waiter;
    auto task = waiter.run(signal, 900s);
    signal.wake();
    signal.wake(); // arrives after the resumption was scheduled: pending
    spin();
    EXPECT_TRUE(waiter.done);
    EXPECT_TRUE(signal.isPending());
    timers.started[0]->fire();
    EXPECT_TRUE(signal.isPending());
}

TEST(RefreshWakeSignal, RealTimerEndsTheWaitOnTheBootClock)
{
    RefreshWakeSignal signal;
    QElapsedTimer clock;
    clock.start();
    auto outcome = waitForTask(signal.wait(30ms), 10s);
    EXPECT_TRUE(outcome.ok());
    EXPECT_GE(clock.elapsed(), 25);
    BootClockTimer probe(1ms, [] { });
    EXPECT_TRUE(probe.usesBootClock());
}

} // namespace
