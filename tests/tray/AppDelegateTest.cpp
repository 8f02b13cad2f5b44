// Start-up of the tray application: first-run onboarding in process, and the
// one-instance rule with the real program.
#include "AppDelegate.h"
#include "AppContainer.h"
#include "InMemoryCredentialStore.h"
#include "SettingsWindow.h"
#include "TestSupport.h"

#include <QDBusConnection>
#include <QProcess>
#include <QQuickWindow>
#include <QSettings>
#include <QTest>
#include <gtest/gtest.h>

namespace {

constexpr int timeoutMs = 60'000;

// One launch over the given settings file; whether it opened the settings.
bool launchOpensSettings(const QString& settingsFile, bool signedIn)
{
    AppDelegate::Options options;
    options.credentialStore = std::make_shared<InMemoryCredentialStore>(
        signedIn ? std::optional<StoredTokens>(StoredTokens { .accessToken = "vat_test" }) : std::nullopt);
    options.defaults = std::make_unique<QSettings>(settingsFile, QSettings::IniFormat);
    options.removeLegacyAPIKey = false;
    // No bus: the item takes the no-tray path and never meets another test's watcher.
    options.item.bus = QDBusConnection(QStringLiteral("velmo-test-no-bus"));
    AppDelegate delegate(std::move(options));
    delegate.start();
    SettingsWindow* settings = delegate.statusItem()->settingsWindow();
    const bool opened = settings && settings->window() && settings->window()->isVisible();
    // Stored as done whenever the window opened.
    EXPECT_TRUE(!opened || delegate.container()->settings().hasCompletedOnboarding());
    return opened;
}

} // namespace

TEST(AppDelegate, SettingsOpenOnlyOnTheFirstLaunchWithoutASession)
{
    struct Launch {
        bool signedIn;
        bool opens;
    };
    struct Case {
        const char* name;
        std::vector<Launch> launches;
    };
    for (const Case& c : std::initializer_list<Case> {
             { "signed out: the first launch only", { { false, true }, { false, false } } },
             { "signed in first: they wait for the first launch without a session", { { true, false }, { false, true } } },
         }) {
        velmo::test::ScratchDir scratch;
        const QString file = scratch.filePath("settings.ini");
        for (size_t i = 0; i < c.launches.size(); ++i)
            EXPECT_EQ(launchOpensSettings(file, c.launches[i].signedIn), c.launches[i].opens) << c.name << " #" << i;
    }
}

TEST(AppDelegate, ASecondLaunchHandsOverAndExits)
{
    velmo::test::ScratchDir scratch;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* folder : { "home", "config", "data", "run" })
        QDir().mkpath(scratch.filePath(folder));
    environment.insert("HOME", scratch.filePath("home"));
    environment.insert("XDG_CONFIG_HOME", scratch.filePath("config"));
    environment.insert("XDG_DATA_HOME", scratch.filePath("data"));
    environment.insert("XDG_RUNTIME_DIR", scratch.filePath("run"));
    environment.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + scratch.filePath("no-bus"));
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("VELMO_API_URL", "http://127.0.0.1:9");

    QProcess first;
    first.setProcessEnvironment(environment);
    first.start(VELMO_USAGE_BINARY, {});
    ASSERT_TRUE(first.waitForStarted(timeoutMs));
    const QString socket = scratch.filePath("run/velmo-usage.socket");
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFileInfo::exists(socket); }, timeoutMs))
        << first.readAllStandardError().toStdString();

    QProcess second;
    second.setProcessEnvironment(environment);
    second.start(VELMO_USAGE_BINARY, {});
    ASSERT_TRUE(second.waitForFinished(timeoutMs));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0) << second.readAllStandardError().toStdString();
    EXPECT_EQ(first.state(), QProcess::Running);

    // SIGTERM stops the container and ends the first one cleanly.
    first.terminate();
    ASSERT_TRUE(first.waitForFinished(timeoutMs));
    EXPECT_EQ(first.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(first.exitCode(), 0) << first.readAllStandardError().toStdString();
}
