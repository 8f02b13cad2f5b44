#include "AsyncTask.h"
#include "AsyncWait.h"
#include "CancellableSleep.h"
#include "Cancellation.h"

#include <QCoroTimer>
#include <QElapsedTimer>
#include <gtest/gtest.h>

#include <thread>

using namespace std::chrono_literals;
using velmo::test::waitForTask;

namespace {

QCoro::Task<int> failAfterSleep()
{
    co_await QCoro::sleepFor(1ms);
    throw std::runtime_error("boom");
}

TEST(Async, StartDetachedHandsEscapingExceptionsToTheHandler)
{
    std::string seen;
    QEventLoop loop;
    startDetached(failAfterSleep(), [&](std::exception_ptr error) {
        try {
            std::rethrow_exception(error);
        } catch (const std::exception& e) {
            seen = e.what();
        }
        loop.quit();
    });
    QTimer::singleShot(5s, &loop, &QEventLoop::quit);
    loop.exec();
    EXPECT_EQ(seen, "boom");
}

TEST(Async, WaitForTaskReturnsValuesAndExceptions)
{
    auto ok = waitForTask([]() -> QCoro::Task<int> {
        co_await QCoro::sleepFor(1ms);
        co_return 7;
    }());
    ASSERT_TRUE(ok.ok());
    EXPECT_EQ(*ok.value, 7);

    auto failed = waitForTask(failAfterSleep());
    EXPECT_FALSE(failed.ok());
    EXPECT_FALSE(failed.timedOut);
    EXPECT_EQ(failed.errorText(), "boom");
}

TEST(Async, SleepEndsAtOnceWhenStoppedFromAnotherThread)
{
    std::stop_source source;
    QElapsedTimer clock;
    clock.start();
    std::thread stopper([&] {
        std::this_thread::sleep_for(20ms);
        source.request_stop();
    });
    auto outcome = waitForTask(cancellableSleep(std::chrono::hours(1), source.get_token()), 10s);
    stopper.join();
    EXPECT_FALSE(outcome.timedOut);
    EXPECT_THROW(outcome.rethrow(), CancellationError);
}

TEST(Async, SleepWithAStoppedTokenThrowsWithoutWaiting)
{
    std::stop_source source;
    source.request_stop();
    auto outcome = waitForTask(cancellableSleep(std::chrono::hours(1), source.get_token()), 10s);
    EXPECT_FALSE(outcome.timedOut);
    EXPECT_THROW(outcome.rethrow(), CancellationError);
}

TEST(Async, SleepWithoutStopRunsToItsEnd)
{
    std::stop_source source;
    auto outcome = waitForTask(cancellableSleep(5ms, source.get_token()), 10s);
    EXPECT_TRUE(outcome.ok());
}

} // namespace
