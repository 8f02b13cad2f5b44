#include "UnixSignalNotifier.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <gtest/gtest.h>

#include <csignal>
#include <vector>

namespace {

volatile std::sig_atomic_t previousHandlerCalls = 0;
void previousHandler(int)
{
    previousHandlerCalls = previousHandlerCalls + 1;
}

// Runs the loop until `count` signals were received or the watchdog fires.
std::vector<int> receive(UnixSignalNotifier& notifier, std::size_t count)
{
    std::vector<int> received;
    QEventLoop loop;
    QObject::connect(&notifier, &UnixSignalNotifier::received, &loop, [&](int number) {
        received.push_back(number);
        if (received.size() >= count)
            loop.quit();
    });
    QTimer::singleShot(10'000, &loop, &QEventLoop::quit);
    loop.exec();
    return received;
}

// Signals arrive on the event loop in order; an invalid signal throws and
// leaves nothing behind; one notifier at a time, and the handlers it replaced
// come back when it goes.
TEST(UnixSignalNotifier, DeliversInOrderOneAtATimeAndRestoresThePreviousHandler)
{
    previousHandlerCalls = 0;
    std::signal(SIGUSR2, &previousHandler);
    EXPECT_THROW(UnixSignalNotifier({ SIGUSR1, SIGKILL }), std::runtime_error);
    {
        UnixSignalNotifier notifier { SIGUSR1, SIGUSR2 };
        EXPECT_THROW(UnixSignalNotifier({ SIGTERM }), std::runtime_error);
        ASSERT_EQ(std::raise(SIGUSR1), 0);
        ASSERT_EQ(std::raise(SIGUSR2), 0);
        EXPECT_EQ(receive(notifier, 2), (std::vector<int> { SIGUSR1, SIGUSR2 }));
        ASSERT_EQ(std::raise(SIGUSR2), 0);
        EXPECT_EQ(receive(notifier, 1), (std::vector<int> { SIGUSR2 }));
        EXPECT_EQ(previousHandlerCalls, 0);
    }
    ASSERT_EQ(std::raise(SIGUSR2), 0);
    EXPECT_EQ(previousHandlerCalls, 1);
    std::signal(SIGUSR2, SIG_DFL);
}

} // namespace
