#include "SettingsStore.h"
#include "TestSupport.h"
#include "VelmoClient.h"

#include <QSettings>
#include <QSignalSpy>
#include <gtest/gtest.h>

using velmo::test::ScratchDir;

namespace {

class SettingsStoreTest : public ::testing::Test {
protected:
    std::unique_ptr<QSettings> settings() const
    {
        return std::make_unique<QSettings>(dir.filePath("VelmoUsage.conf"), QSettings::IniFormat);
    }
    ScratchDir dir;
};

TEST_F(SettingsStoreTest, DefaultsAndStrictStyleMatching)
{
    {
        SettingsStore store(settings());
        EXPECT_EQ(store.menuBarStyle(), SettingsStore::MenuBarStyle::account);
        EXPECT_EQ(store.baseURLOverride(), "");
        EXPECT_FALSE(store.hasCompletedOnboarding());
        EXPECT_EQ(store.baseURL(), VelmoClient::productionBaseURL());
    }
    for (const char* raw : { "icononly", "ICONONLY", "account", "other" }) {
        settings()->setValue("menuBarStyle", raw);
        EXPECT_EQ(SettingsStore(settings()).menuBarStyle(), SettingsStore::MenuBarStyle::account) << raw;
    }
    settings()->setValue("menuBarStyle", "iconOnly");
    EXPECT_EQ(SettingsStore(settings()).menuBarStyle(), SettingsStore::MenuBarStyle::iconOnly);
    // Wrong types fall back to the defaults.
    {
        auto raw = settings();
        raw->setValue("baseURL", QStringList { "a", "b" });
        raw->setValue("hasCompletedOnboarding", "maybe");
        raw->setValue("menuBarStyle", 7);
    }
    SettingsStore store(settings());
    EXPECT_EQ(store.baseURLOverride(), "");
    EXPECT_FALSE(store.hasCompletedOnboarding());
    EXPECT_EQ(store.menuBarStyle(), SettingsStore::MenuBarStyle::account);
}

TEST_F(SettingsStoreTest, EveryAssignmentWritesThroughButOnlyChangesNotify)
{
    SettingsStore store(settings());
    QSignalSpy onboarding(&store, &SettingsStore::hasCompletedOnboardingChanged);
    QSignalSpy style(&store, &SettingsStore::menuBarStyleChanged);
    store.setHasCompletedOnboarding(false);
    EXPECT_EQ(onboarding.count(), 0);
    EXPECT_TRUE(settings()->contains("hasCompletedOnboarding")) << "written even when unchanged";
    store.setHasCompletedOnboarding(true);
    store.setMenuBarStyle(SettingsStore::MenuBarStyle::iconOnly);
    store.setMenuBarStyle(SettingsStore::MenuBarStyle::iconOnly);
    EXPECT_EQ(onboarding.count(), 1);
    EXPECT_EQ(style.count(), 1);
    // A second store over the same file sees everything at once.
    SettingsStore reread(settings());
    EXPECT_TRUE(reread.hasCompletedOnboarding());
    EXPECT_EQ(reread.menuBarStyle(), SettingsStore::MenuBarStyle::iconOnly);
    EXPECT_EQ(settings()->value("menuBarStyle").toString(), "iconOnly");
}

TEST_F(SettingsStoreTest, EffectiveBaseURL)
{
    SettingsStore store(settings());
    QSignalSpy changed(&store, &SettingsStore::baseURLOverrideChanged);
    store.setBaseURLOverride("  https://api.example.com/v2  \n");
    EXPECT_EQ(store.baseURL(), QUrl("https://api.example.com/v2"));
    EXPECT_EQ(settings()->value("baseURL").toString(), "  https://api.example.com/v2  \n") << "kept as typed";
    EXPECT_EQ(changed.count(), 1);

    store.setBaseURLOverride("api.example.com");
    EXPECT_EQ(store.baseURL(), VelmoClient::productionBaseURL());
    store.setBaseURLOverride("   ");
    EXPECT_EQ(store.baseURL(), VelmoClient::productionBaseURL());
    // host:port parses with the host as its scheme and is used unchanged.
    store.setBaseURLOverride("localhost:8080");
    EXPECT_EQ(store.baseURL().scheme(), "localhost");
    EXPECT_EQ(store.baseURL(), QUrl("localhost:8080"));
}

} // namespace
