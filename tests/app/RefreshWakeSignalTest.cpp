#include "RefreshWakeSignal.h"
#include "AsyncWait.h"
#include "BootClockTimer.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

// A script of events and what it must leave behind. Events: "k" wake(),
// "w" a new wait of 900 s, "f0", "f1"… the timer of the first, second… wait
// fires (late, when it was cancelled). Queued resumptions run after each.
struct Script {
    const char* events;
    int returned; // waits that have returned
    bool pending;
    int timers; // timers started
    int cancelled; // of which cancelled
    friend void PrintTo(const Script& script, std::ostream* out) { *out << '"' << script.events << '"'; }
};

class WakeScript : public ::testing::TestWithParam<Script> { };

QCoro::Task<> countedWait(RefreshWakeSignal* signal, int* returned)
{
    auto wait = signal->wait(900s);
    co_await std::move(wait);
    ++*returned;
}

TEST_P(WakeScript, LeavesTheSignalAsExpected)
{
    struct Timer {
        std::function<void()> fire;
        bool cancelled = false;
    };
    std::vector<std::shared_ptr<Timer>> timers;
    int returned = 0; // outlives the signal, which lets a waiter go when it goes
    RefreshWakeSignal signal([&](std::chrono::milliseconds timeout, std::function<void()> fire) {
        EXPECT_EQ(timeout, 900s);
        auto timer = timers.emplace_back(std::make_shared<Timer>(Timer { std::move(fire) }));
        // Dropping the handle is cancelling the timer.
        auto handle = std::make_unique<QObject>();
        QObject::connect(handle.get(), &QObject::destroyed, [timer] { timer->cancelled = true; });
        return handle;
    });
    std::vector<QCoro::Task<>> waits;
    for (const QString& event : QString::fromLatin1(GetParam().events).split(' ')) {
        if (event == "k")
            signal.wake();
        else if (event == "w")
            waits.push_back(countedWait(&signal, &returned));
        else
            timers.at(event.mid(1).toUInt())->fire();
        for (int i = 0; i < 3; ++i)
            QCoreApplication::processEvents();
    }
    const Script& expected = GetParam();
    EXPECT_EQ(returned, expected.returned);
    EXPECT_EQ(signal.isPending(), expected.pending);
    EXPECT_EQ(int(timers.size()), expected.timers);
    EXPECT_EQ(int(std::count_if(timers.begin(), timers.end(), [](const auto& t) { return t->cancelled; })),
        expected.cancelled);
}

INSTANTIATE_TEST_SUITE_P(RefreshWakeSignal, WakeScript,
    ::testing::Values(Script { "k k k w", 1, false, 0, 0 }, // remembered once, coalesced, no timer
        Script { "k k k w w", 1, false, 1, 0 }, // …and the next wait sleeps
        Script { "w k", 1, false, 1, 1 }, // woken: its timer is cancelled, nothing left pending
        Script { "w k w", 1, false, 2, 1 }, Script { "w f0", 1, false, 1, 1 }, // timed out
        Script { "w f0 k w", 2, false, 1, 1 }, // a wake-up just after a time-out
        Script { "w k w f0", 1, false, 2, 1 }, // a stale timer does not end a later wait
        Script { "w k w f0 f1", 2, false, 2, 2 },
        Script { "w f0 f0", 1, false, 1, 1 }, // a time-out without a waiter leaves nothing pending
        Script { "w k k f0", 1, true, 1, 1 })); // the second wake-up came after the first resumed it

TEST(RefreshWakeSignal, RealTimerEndsTheWaitOnTheBootClock)
{
    RefreshWakeSignal signal;
    EXPECT_TRUE(velmo::test::waitForTask(signal.wait(30ms), 10s).ok());
    EXPECT_TRUE(BootClockTimer(1ms, [] {}).usesBootClock());
}

} // namespace
