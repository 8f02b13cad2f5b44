#include "AsyncTask.h"
#include "AsyncWait.h"
#include "CancellableSleep.h"
#include "Cancellation.h"
#include "Thrown.h"

#include <QCoroTimer>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using velmo::test::waitForTask;

namespace {

QCoro::Task<int> failAfterSleep()
{
    co_await QCoro::sleepFor(1ms);
    throw std::runtime_error("boom");
}

TEST(Async, DetachedFailuresReachTheHandlerAndStoppedSleepsThrowAtOnce)
{
    std::string seen;
    QEventLoop loop;
    startDetached(failAfterSleep(), [&](std::exception_ptr error) {
        seen = thrown<std::runtime_error>(error).what();
        loop.quit();
    });
    QTimer::singleShot(5s, &loop, &QEventLoop::quit);
    loop.exec();
    EXPECT_EQ(seen, "boom");

    // A sleep runs to its end, or throws at once when its token is stopped.
    std::stop_source source;
    EXPECT_TRUE(waitForTask(cancellableSleep(5ms, source.get_token()), 10s).ok());
    source.request_stop();
    auto outcome = waitForTask(cancellableSleep(std::chrono::hours(1), source.get_token()), 10s);
    EXPECT_FALSE(outcome.timedOut);
    EXPECT_THROW(outcome.rethrow(), CancellationError);
}

} // namespace
