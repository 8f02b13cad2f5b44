#include "UpdaterController.h"
#include "LogCapture.h"
#include "TestSupport.h"
#include "UpdateFixture.h"

#include <QSettings>
#include <QSignalSpy>
#include <gtest/gtest.h>

#include <deque>

using namespace std::chrono_literals;
using namespace velmo::test;
using Timeouts = std::vector<std::chrono::milliseconds>;

namespace {

// Timers the test fires by hand (the last one with fires.back()()); a deque,
// so firing one arms the next without moving the one running.
struct ManualClock {
    std::vector<std::pair<QPointer<QObject>, std::chrono::milliseconds>> timers;
    std::deque<std::function<void()>> fires;

    UpdaterController::TimerFactory factory()
    {
        return [this](std::chrono::milliseconds timeout, std::function<void()> fire) {
            auto timer = std::make_unique<QObject>();
            timers.emplace_back(timer.get(), timeout);
            fires.push_back(std::move(fire));
            return timer;
        };
    }
    // The timeouts of the timers the controller still holds.
    Timeouts armed()
    {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        Timeouts out;
        for (const auto& [timer, timeout] : timers)
            if (timer)
                out.push_back(timeout);
        return out;
    }
};

// A controller of a 1.4.1 build over a feed on a real socket, its clock in the test's hand.
class UpdaterControllerTest : public ::testing::Test {
protected:
    // Version 142 is shown as 1.4.2.
    UpdaterControllerTest()
    {
        server.serve("/appcast.xml", appcast(item("1.4.0") + item("142", R"(sparkle:shortVersionString="1.4.2")")));
    }
    UpdaterController& make(UpdateConfiguration configuration)
    {
        controller = std::make_unique<UpdaterController>(&settings, std::move(configuration), clock.factory());
        controller->setSessionPresenter({});
        return *controller;
    }
    UpdaterController& makeActive()
    {
        return make({ .feedURL = server.url("/appcast.xml"), .publicKey = "a2V5", .runningVersion = "1.4.1" });
    }
    // Fires the pending probe timer and waits for the probe to end.
    void probe()
    {
        QSignalSpy finished(controller.get(), &UpdaterController::probeFinished);
        clock.fires.back()();
        EXPECT_TRUE(finished.wait(10'000));
    }
    bool logged(const QString& line, QtMsgType type = QtInfoMsg)
    {
        return log->count(line, type, QStringLiteral("velmo-usage.updates")) > 0;
    }

    std::optional<LogCapture> log { std::in_place };
    ScratchDir dir;
    QSettings settings { dir.filePath("settings.ini"), QSettings::IniFormat };
    UpdateServer server;
    ManualClock clock;
    std::unique_ptr<UpdaterController> controller;
};

TEST_F(UpdaterControllerTest, StaysInactiveWithoutAUsableFeed)
{
    const QString feed = "https://u.example/appcast.xml";
    const UpdateConfiguration cases[] = { {}, { .publicKey = "a2V5" }, { .feedURL = feed },
        { .feedURL = feed, .publicKey = "REPLACE_WITH_KEY" },
        { .feedURL = feed, .publicKey = "a2V5", .updatesEnabled = false } };
    for (const UpdateConfiguration& configuration : cases) {
        UpdaterController& updater = make(configuration);
        for (int i = 0; i < 2; ++i) { // said again at every start
            log.emplace();
            updater.start();
            EXPECT_TRUE(logged("updater disabled: no SUFeedURL/SUPublicEDKey (unbundled or dev build)"));
        }
        updater.checkForUpdates();
        updater.setAutomaticallyChecksForUpdates(true);
        EXPECT_FALSE(updater.isActive());
        EXPECT_EQ(updater.session(), nullptr);
        EXPECT_EQ(clock.armed(), Timeouts {});
    }
}

TEST_F(UpdaterControllerTest, ThePreferenceIsOnUnlessStoredOffAndRunsTheLoop)
{
    const std::pair<QVariant, bool> cases[] = { { QVariant(), true }, { false, false }, { true, true },
        { "false", false }, { 0, true }, { "no", true } };
    for (const auto& [stored, expected] : cases) {
        settings.remove("automaticallyChecksForUpdates");
        if (stored.isValid())
            settings.setValue("automaticallyChecksForUpdates", stored);
        EXPECT_EQ(makeActive().automaticallyChecksForUpdates(), expected) << stored.toString().toStdString();
    }
    // Off: no loop until switched on, then the first probe 15 s later.
    controller->setAutomaticallyChecksForUpdates(false);
    EXPECT_EQ(
        QSettings(dir.filePath("settings.ini"), QSettings::IniFormat).value("automaticallyChecksForUpdates"),
        "false");
    controller->start();
    EXPECT_EQ(clock.armed(), Timeouts {});
    controller->setAutomaticallyChecksForUpdates(true);
    EXPECT_EQ(clock.armed(), Timeouts { 15s });
    controller->setAutomaticallyChecksForUpdates(false);
    EXPECT_EQ(clock.armed(), Timeouts {});
}

TEST_F(UpdaterControllerTest, ProbesFifteenSecondsAfterStartThenHourlyAndDrivesTheBanner)
{
    UpdaterController& updater = makeActive();
    updater.start();
    updater.start();
    EXPECT_TRUE(
        logged(QStringLiteral("started (feed: %1, automatic: true)").arg(server.url("/appcast.xml"))));
    EXPECT_EQ(clock.armed(), Timeouts { 15s });
    EXPECT_EQ(server.requests("/appcast.xml"), 0);
    probe();
    EXPECT_EQ(clock.armed(), Timeouts { 3600s });
    EXPECT_EQ(updater.availableUpdateVersion(), "1.4.2");
    updater.dismissAvailableUpdate();
    EXPECT_EQ(updater.availableUpdateVersion(), "");
    probe(); // the next hour brings it back
    EXPECT_EQ(updater.availableUpdateVersion(), "1.4.2");

    // A failed probe (a feed that goes on past the size cap) knows nothing new; one that
    // finds nothing clears it.
    server.serveRaw(
        "/appcast.xml", "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + QByteArray(5 << 20, ' '));
    probe();
    EXPECT_EQ(updater.availableUpdateVersion(), "1.4.2");
    EXPECT_TRUE(logged("check/download failed: The update feed is larger than 4 MiB.", QtCriticalMsg));
    server.serve("/appcast.xml", appcast(item("1.4.1")));
    probe();
    EXPECT_EQ(updater.availableUpdateVersion(), "");
    // Newer only by the version order ("1.10" sorts below "1.4.1" as text); then skipped.
    server.serve("/appcast.xml", appcast(item("1.10")));
    probe();
    EXPECT_EQ(updater.availableUpdateVersion(), "1.10");
    settings.setValue(UpdateSession::skippedVersionKey, "1.10");
    probe();
    EXPECT_EQ(updater.availableUpdateVersion(), "");
    server.serve("/appcast.xml", appcast(item("1.10") + item("1.11"))); // newer than the skipped one
    probe();
    EXPECT_EQ(updater.availableUpdateVersion(), "1.11");

    updater.stop();
    EXPECT_EQ(clock.armed(), Timeouts {});
    EXPECT_TRUE(updater.isActive());
}

TEST_F(UpdaterControllerTest, OneCheckAtATime)
{
    UpdaterController& updater = makeActive();
    updater.start();
    probe();
    clock.fires.back()();
    EXPECT_FALSE(updater.canCheckForUpdates()); // a probe runs

    // The window's check supersedes the probe and clears the banner once it shows.
    updater.installAvailableUpdate();
    UpdateSession* session = updater.session();
    ASSERT_NE(session, nullptr);
    EXPECT_FALSE(updater.canCheckForUpdates());
    updater.checkForUpdates();
    EXPECT_EQ(updater.session(), session);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return session->state() == UpdateSession::State::UpdateAvailable; }, 10'000));
    EXPECT_EQ(updater.availableUpdateVersion(), "");
    session->close();
    EXPECT_TRUE(updater.canCheckForUpdates()); // the window is gone
    EXPECT_TRUE(logged("check finished"));

    updater.checkForUpdates();
    updater.session()->close();
    EXPECT_TRUE(logged("check finished: user canceled"));
    QCoreApplication::processEvents(); // the queued abort ends the exchange
}

} // namespace
