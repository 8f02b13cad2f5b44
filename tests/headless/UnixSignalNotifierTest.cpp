#include "UnixSignalNotifier.h"

#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include <csignal>

namespace {

volatile std::sig_atomic_t previousHandlerCalls = 0;
void previousHandler(int)
{
    previousHandlerCalls = previousHandlerCalls + 1;
}

// Signals arrive on the event loop in order, batch after batch; an invalid
// signal throws and leaves nothing behind; one notifier at a time, and the
// handlers it replaced come back when it goes.
TEST(UnixSignalNotifier, DeliversInOrderOneAtATimeAndRestoresThePreviousHandler)
{
    previousHandlerCalls = 0;
    std::signal(SIGUSR2, &previousHandler);
    EXPECT_THROW(UnixSignalNotifier({ SIGUSR1, SIGKILL }), std::runtime_error);
    {
        UnixSignalNotifier notifier { SIGUSR1, SIGUSR2 };
        EXPECT_THROW(UnixSignalNotifier({ SIGTERM }), std::runtime_error);
        QSignalSpy received(&notifier, &UnixSignalNotifier::received);
        ASSERT_EQ(std::raise(SIGUSR1), 0);
        ASSERT_EQ(std::raise(SIGUSR2), 0);
        ASSERT_TRUE(QTest::qWaitFor([&] { return received.count() == 2; }, 10'000));
        ASSERT_EQ(std::raise(SIGUSR2), 0);
        ASSERT_TRUE(QTest::qWaitFor([&] { return received.count() == 3; }, 10'000));
        EXPECT_EQ(received, (QList<QVariantList> { { SIGUSR1 }, { SIGUSR2 }, { SIGUSR2 } }));
        EXPECT_EQ(previousHandlerCalls, 0);
    }
    ASSERT_EQ(std::raise(SIGUSR2), 0);
    EXPECT_EQ(previousHandlerCalls, 1);
    std::signal(SIGUSR2, SIG_DFL);
}

} // namespace
