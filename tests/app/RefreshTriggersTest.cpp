#include "RefreshTriggers.h"
#include "PrivateBus.h"
#include "StoreFixture.h"

#include <gtest/gtest.h>

using namespace velmo::test;

namespace {

const QString logindPath = QStringLiteral("/org/freedesktop/login1");
const QString logindInterface = QStringLiteral("org.freedesktop.login1.Manager");

enum class Event { suspend, resume, thirtySecondsLater, offline, online };

struct TriggerCase { const char* name; std::vector<Event> events; int refreshes; };

class RefreshTriggersTest : public ::testing::TestWithParam<TriggerCase> {
protected:
    void SetUp() override
    {
        logind = bus.connect(QStringLiteral("logind"));
        ASSERT_TRUE(logind.registerService(QStringLiteral("org.freedesktop.login1")));
        system = bus.connect(QStringLiteral("system"));
        RefreshTriggers::Options options;
        options.settleDelay = std::chrono::milliseconds(0);
        options.now = [this] { return clock; };
        options.followNetwork = false;
        triggers = std::make_unique<RefreshTriggers>(*store.store, [this] { ++refreshes; }, system, options);
    }

    void send(Event event)
    {
        using R = QNetworkInformation::Reachability;
        if (event == Event::suspend || event == Event::resume)
            logind.send(QDBusMessage::createSignal(logindPath, logindInterface, QStringLiteral("PrepareForSleep"))
                << (event == Event::suspend));
        else if (event == Event::thirtySecondsLater)
            clock += RefreshTriggers::minimumInterval;
        else
            triggers->reachabilityChanged(event == Event::online ? R::Online : R::Disconnected);
        // The signal has arrived (logind's connection answers a call, if only
        // with an error, after it) and the settle timer (0 ms) has run out.
        PrivateBus::roundTrip(system,
            QDBusMessage::createMethodCall(
                QStringLiteral("org.freedesktop.login1"), logindPath, logindInterface, QStringLiteral("Ping")));
        QCoreApplication::processEvents();
    }

    PrivateBus bus;
    QDBusConnection logind { QString() };
    QDBusConnection system { QString() };
    StoreFixture store;
    std::chrono::steady_clock::time_point clock {};
    int refreshes = 0;
    std::unique_ptr<RefreshTriggers> triggers;
};

TEST_P(RefreshTriggersTest, RefreshesOnceAfterAWakeOrAReturningNetwork)
{
    for (Event event : GetParam().events)
        send(event);
    EXPECT_EQ(refreshes, GetParam().refreshes);
}

using E = Event;
INSTANTIATE_TEST_SUITE_P(Scripts, RefreshTriggersTest,
    ::testing::Values(TriggerCase { "resume", { E::suspend, E::resume }, 1 },
        TriggerCase { "suspendAlone", { E::suspend }, 0 },
        TriggerCase { "twoResumesWithin30s", { E::resume, E::resume }, 1 },
        TriggerCase { "resumeThenNetworkWithin30s", { E::offline, E::resume, E::online }, 1 },
        TriggerCase { "resumeWaitsForTheNetwork", { E::offline, E::resume }, 0 },
        TriggerCase { "networkBack", { E::online, E::offline, E::online }, 1 },
        TriggerCase { "firstReachabilityIsNoReturn", { E::online }, 0 },
        TriggerCase { "resumes30sApart", { E::resume, E::thirtySecondsLater, E::resume }, 2 }),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
