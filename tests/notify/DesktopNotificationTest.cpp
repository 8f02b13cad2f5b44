#include "AsyncWait.h"
#include "DesktopNotifier.h"
#include "LogCapture.h"
#include "PrivateBus.h"
#include "SettingsStore.h"
#include "StoreFixture.h"
#include "UsageAlerts.h"

#include <QSettings>
#include <QDBusPendingCallWatcher>
#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace velmo::test;

namespace {

const QString service = QString::fromLatin1(DesktopNotifier::serviceName);
const QString path = QString::fromLatin1(DesktopNotifier::objectPath);

// A notification server that records what it is asked to show.
class RecordingServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Shown { uint replaces; QString icon, body; QStringList actions; };
    std::vector<Shown> shown;
    QStringList summaries;

public slots:
    uint Notify(const QString&, uint replaces, const QString& icon, const QString& summary, const QString& body,
        const QStringList& actions, const QVariantMap&, int)
    {
        shown.push_back({ replaces, icon, body, actions });
        summaries << summary;
        return static_cast<uint>(shown.size());
    }
    QStringList GetCapabilities() { return { QStringLiteral("actions") }; }
};

struct Step {
    enum Kind { refresh, restart, switchOff } kind;
    double available = 0, account = 0;
};

struct AlertCase { const char* name; std::vector<Step> steps; QStringList expected; };

class DesktopNotificationTest : public ::testing::TestWithParam<AlertCase> {
protected:
    void SetUp() override
    {
        server = bus.connect(QStringLiteral("server"));
        server.registerObject(path, &recorder, QDBusConnection::ExportAllSlots);
        ASSERT_TRUE(server.registerService(service));
        client = bus.connect(QStringLiteral("client"));
        start();
    }

    // A new run of the app over the same settings file.
    void start()
    {
        alerts.reset();
        notifier.reset();
        settings = std::make_unique<SettingsStore>(
            std::make_unique<QSettings>(store.scratch.filePath("settings.conf"), QSettings::IniFormat));
        notifier = std::make_unique<DesktopNotifier>(client, QStringLiteral("velmo-usage"));
        alerts = std::make_unique<UsageAlerts>(*store.store, *settings, *notifier);
    }

    void refresh(double available, double account)
    {
        store.clock += std::chrono::minutes(15);
        store.store->setSnapshot(Snapshot { .balance = StoreFixture::balance(std::llround(account * 1e6),
                                                std::llround(available * 1e6)),
            .fetchedAt = store.clock });
        sync();
    }

    // Everything the app sent has reached the server.
    void sync()
    {
        QCoreApplication::processEvents();
        PrivateBus::roundTrip(client, QDBusMessage::createMethodCall(service, path, service, "GetCapabilities"));
    }

    PrivateBus bus;
    QDBusConnection server { QString() };
    QDBusConnection client { QString() };
    RecordingServer recorder;
    StoreFixture store;
    std::unique_ptr<SettingsStore> settings;
    std::unique_ptr<DesktopNotifier> notifier;
    std::unique_ptr<UsageAlerts> alerts;
};

TEST_P(DesktopNotificationTest, EachCrossingIsAnnouncedOnce)
{
    for (const Step& step : GetParam().steps) {
        if (step.kind == Step::refresh)
            refresh(step.available, step.account);
        else if (step.kind == Step::restart)
            start();
        else
            settings->setNotifiesLowBalance(false);
    }
    EXPECT_EQ(recorder.summaries, GetParam().expected);
}

using S = Step;
INSTANTIATE_TEST_SUITE_P(Scripts, DesktopNotificationTest,
    ::testing::Values(AlertCase { "staysLow", { { S::refresh, 4.99, 20 }, { S::refresh, 4, 20 }, { S::refresh, 3, 20 } }, { "Low balance" } },
        AlertCase { "recoversAndFallsAgain", { { S::refresh, 4, 4 }, { S::refresh, 5, 5 }, { S::refresh, 4, 4 } }, { "Low balance", "Low balance" } },
        AlertCase { "restartWhileLow", { { S::refresh, 4, 4 }, { S::restart }, { S::refresh, 3, 3 } }, { "Low balance" } },
        AlertCase { "settingOff", { { S::switchOff }, { S::refresh, 4, 4 }, { S::refresh, 0, 0 } }, {} },
        AlertCase { "lowThenEmpty", { { S::refresh, 4, 4 }, { S::refresh, 0, 0 }, { S::refresh, 0, -1 } }, { "Low balance", "Out of credit" } },
        AlertCase { "cappedKeyIsLowNotEmpty", { { S::refresh, 1, 50 } }, { "Low balance" } }),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DesktopNotificationTest, TheAlertCarriesTheFiguresAndItsClickOpensThePanel)
{
    QSignalSpy panel(notifier.get(), &DesktopNotifier::openPanelRequested);
    refresh(4.5, 12);
    ASSERT_EQ(recorder.shown.size(), 1u);
    EXPECT_EQ(recorder.shown[0].icon, "velmo-usage");
    EXPECT_EQ(recorder.shown[0].body, "Available: $4.50 · Account: $12.00");
    EXPECT_TRUE(recorder.shown[0].actions.contains("default"));
    refresh(0, 0);
    ASSERT_EQ(recorder.shown.size(), 2u);
    EXPECT_EQ(recorder.shown[1].replaces, 1u) << "out of credit takes the low balance's place";

    for (uint id : { 7u, 2u }) // 7 is another application's
        server.send(QDBusMessage::createSignal(path, service, QStringLiteral("ActionInvoked")) << id << QString("default"));
    sync();
    EXPECT_EQ(panel.count(), 1);
}

TEST_F(DesktopNotificationTest, ASessionThatCannotBeRenewedAsksForASignInOnce)
{
    QSignalSpy settingsWindow(notifier.get(), &DesktopNotifier::openSettingsRequested);
    // A session without renewal data that the service refuses.
    store.signIn();
    auto rejected = [&] {
        store.transport->respond(401);
        store.transport->respond(401);
        ASSERT_FALSE(waitForTask(store.store->refresh()).error);
        sync();
    };
    rejected();
    server.send(QDBusMessage::createSignal(path, service, QStringLiteral("ActionInvoked")) << 1u << QString("default"));
    sync();
    EXPECT_EQ(settingsWindow.count(), 1);
    start(); // still refused after a restart: no second alert
    rejected();
    ASSERT_EQ(recorder.summaries, QStringList { "Session expired — sign in again" });

    // A renewable session that has expired is renewed by the next refresh: no alert yet.
    store.sessions->save(StoredTokens { .accessToken = "vat_fedcba9876543210",
        .refreshToken = "vrt_0123456789abcdef", .expiresAt = 1000.0, .clientId = "client" });
    store.store->reloadCredential();
    sync();
    EXPECT_EQ(recorder.shown.size(), 1u);
}

TEST_F(DesktopNotificationTest, WithoutAServerNothingIsShownAndOneDebugLineIsLogged)
{
    server.unregisterService(service);
    LogCapture log;
    // Each post's error reply handled before the log is read: a line per failed post would show.
    for (int i = 0; i < 2; ++i) {
        notifier->post({ "Low balance", {}, DesktopNotifier::Target::panel });
        EXPECT_TRUE(QTest::qWaitFor([&] { return notifier->findChildren<QDBusPendingCallWatcher*>().isEmpty(); }, 5000));
    }
    EXPECT_EQ(log.count("no desktop notification shown", QtDebugMsg), 1);
}

} // namespace

#include "DesktopNotificationTest.moc"
