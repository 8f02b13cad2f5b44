// Start-up of the tray application: first-run onboarding in process. The
// one-instance rule and SIGTERM are checked with the real program on the
// desktop test.
#include "AppDelegate.h"
#include "AppContainer.h"
#include "InMemoryCredentialStore.h"
#include "SettingsWindow.h"
#include "TestSupport.h"

#include <QDBusConnection>
#include <QQuickWindow>
#include <QSettings>
#include <gtest/gtest.h>

namespace {

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

// Launches in turn over one settings file: (signed in, opens the settings).
TEST(AppDelegate, SettingsOpenOnlyOnTheFirstLaunchWithoutASession)
{
    using Launches = std::vector<std::pair<bool, bool>>;
    for (const Launches& launches : {
             Launches { { false, true }, { false, false } }, // signed out: the first launch only
             Launches { { true, false }, { false, true } }, // they wait for the first launch without a session
         }) {
        velmo::test::ScratchDir scratch;
        for (size_t i = 0; i < launches.size(); ++i)
            EXPECT_EQ(launchOpensSettings(scratch.filePath("settings.ini"), launches[i].first), launches[i].second)
                << "launch " << i << " of " << launches.size() << " starting signed " << (launches[0].first ? "in" : "out");
    }
}
