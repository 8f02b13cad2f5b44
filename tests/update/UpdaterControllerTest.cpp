#include "LogCapture.h"
#include "QtPrinters.h"
#include "TestSupport.h"
#include "UpdateFixture.h"
#include "UpdaterController.h"

#include <QSettings>
#include <QSignalSpy>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using namespace velmo::test;
using Timeouts = std::vector<std::chrono::milliseconds>;

namespace {

// Timers the test fires by hand; `armed` lists those the controller holds.
struct ManualClock {
    std::vector<std::pair<QPointer<QObject>, std::chrono::milliseconds>> timers;
    std::function<void()> last;

    UpdaterController::TimerFactory factory()
    {
        return [this](std::chrono::milliseconds timeout, std::function<void()> fire) {
            auto timer = std::make_unique<QObject>();
            timers.emplace_back(timer.get(), timeout);
            last = std::move(fire);
            return timer;
        };
    }
    void fireLast()
    {
        const auto fire = last; // firing arms the next one
        fire();
    }
    Timeouts armed()
    {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        Timeouts out;
        for (const auto& [timer, timeout] : timers) {
            if (timer)
                out.push_back(timeout);
        }
        return out;
    }
};

// A controller of a 1.4.1 build over a feed on a real socket, its clock in the test's hand.
class UpdaterControllerTest : public ::testing::Test {
protected:
    UpdaterControllerTest() { server.serve("/appcast.xml", appcast(item("1.4.2"))); }
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
        clock.fireLast();
        EXPECT_TRUE(finished.wait(10'000));
    }
    bool logged(const QString& line, QtMsgType type = QtInfoMsg) { return log->contains("velmo-usage.updates", type, line); }

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
        EXPECT_FALSE(updater.canCheckForUpdates());
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
    EXPECT_EQ(QSettings(dir.filePath("settings.ini"), QSettings::IniFormat).value("automaticallyChecksForUpdates"), "false");
    controller->start();
    EXPECT_TRUE(logged(QStringLiteral("started (feed: %1, automatic: false)").arg(server.url("/appcast.xml"))));
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
    EXPECT_TRUE(logged(QStringLiteral("started (feed: %1, automatic: true)").arg(server.url("/appcast.xml"))));
    EXPECT_TRUE(updater.isActive());
    EXPECT_EQ(clock.armed(), Timeouts { 15s });
    EXPECT_EQ(server.requests("/appcast.xml"), 0);
    probe();
    EXPECT_EQ(server.requests("/appcast.xml"), 1);
    EXPECT_EQ(clock.armed(), Timeouts { 3600s });
    EXPECT_EQ(updater.availableUpdateVersion(), "1.4.2");
    EXPECT_TRUE(logged("probe found 1.4.2; showing in-panel banner"));
    updater.dismissAvailableUpdate();
    EXPECT_EQ(updater.availableUpdateVersion(), "");
    probe(); // the next hour brings it back
    EXPECT_EQ(server.requests("/appcast.xml"), 2);
    EXPECT_EQ(clock.armed(), Timeouts { 3600s });
    EXPECT_EQ(updater.availableUpdateVersion(), "1.4.2");

    // A failed probe knows nothing new; a probe that finds nothing clears it.
    server.serve("/appcast.xml", "<rss>");
    probe();
    EXPECT_EQ(updater.availableUpdateVersion(), "1.4.2");
    EXPECT_TRUE(log->mentions("check/download failed: The update feed is not valid: "));
    server.serve("/appcast.xml", appcast(item("1.4.1")));
    probe();
    EXPECT_EQ(updater.availableUpdateVersion(), "");
    EXPECT_TRUE(logged("check finished: up to date"));

    updater.setAutomaticallyChecksForUpdates(true); // a new loop, 15 s first
    EXPECT_EQ(clock.armed(), Timeouts { 15s });
    updater.stop();
    EXPECT_EQ(clock.armed(), Timeouts {});
    EXPECT_TRUE(updater.isActive());
}

struct ProbeCase {
    const char* name;
    QString items;
    const char* skipped;
    const char* banner;
};

class UpdaterControllerProbe : public UpdaterControllerTest, public ::testing::WithParamInterface<ProbeCase> { };

TEST_P(UpdaterControllerProbe, PublishesTheNewestUnskippedVersion)
{
    server.serve("/appcast.xml", appcast(GetParam().items));
    settings.setValue(UpdateSession::skippedVersionKey, GetParam().skipped);
    makeActive().start();
    probe();
    EXPECT_EQ(controller->availableUpdateVersion(), GetParam().banner);
}

INSTANTIATE_TEST_SUITE_P(Feeds, UpdaterControllerProbe,
    ::testing::Values(ProbeCase { "Found", item("1.4.0") + item("1.5", R"(sparkle:shortVersionString="1.5 beta")") + item("1.4.2"), "", "1.5 beta" },
        ProbeCase { "None", "", "", "" }, ProbeCase { "OlderOrSame", item("1.4") + item("1.4.1"), "", "" },
        ProbeCase { "NewerOnlyByTheComparator", item("1.10"), "", "1.10" },
        ProbeCase { "PreReleaseOfTheRunningVersion", item("1.4.1b3"), "", "" },
        ProbeCase { "Skipped", item("1.5"), "1.5", "" }, ProbeCase { "NewerThanTheSkipped", item("1.6"), "1.5", "1.6" }),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(UpdaterControllerTest, OneCheckAtATime)
{
    UpdaterController& updater = makeActive();
    updater.start();
    probe();
    EXPECT_TRUE(updater.canCheckForUpdates());
    clock.fireLast();
    EXPECT_FALSE(updater.canCheckForUpdates()); // a probe runs

    // The window's check supersedes the probe and clears the banner once it shows.
    updater.installAvailableUpdate();
    UpdateSession* session = updater.session();
    ASSERT_NE(session, nullptr);
    EXPECT_FALSE(updater.canCheckForUpdates());
    updater.checkForUpdates();
    EXPECT_EQ(updater.session(), session);
    ASSERT_TRUE(QTest::qWaitFor([&] { return session->state() == UpdateSession::State::UpdateAvailable; }, 10'000));
    EXPECT_EQ(updater.availableUpdateVersion(), "");
    session->close();
    EXPECT_EQ(updater.session(), nullptr);
    EXPECT_TRUE(updater.canCheckForUpdates());
    EXPECT_TRUE(logged("check finished"));

    updater.checkForUpdates();
    updater.session()->close();
    EXPECT_TRUE(logged("check finished: user canceled"));
    QCoreApplication::processEvents(); // the queued abort ends the exchange
}

} // namespace
