#include "SettingsStore.h"
#include "LogCapture.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include "VelmoClient.h"

#include <QSettings>
#include <QSignalSpy>

using namespace velmo::test;
using Style = SettingsStore::MenuBarStyle;

namespace {

class SettingsStoreTest : public ::testing::Test {
protected:
    std::unique_ptr<QSettings> settings() const
    {
        return std::make_unique<QSettings>(dir.filePath("VelmoUsage.conf"), QSettings::IniFormat);
    }
    ScratchDir dir;
};

TEST_F(SettingsStoreTest, StoredValuesOnlyCountWhenTheyAreExactlyRight)
{
    const std::pair<QVariant, Style> styles[]
        = { { "iconOnly", Style::iconOnly }, { "icononly", Style::account }, { "ICONONLY", Style::account },
              { "account", Style::account }, { "other", Style::account }, { 7, Style::account } };
    for (const auto& [raw, expected] : styles) {
        settings()->setValue("menuBarStyle", raw);
        EXPECT_EQ(SettingsStore(settings()).menuBarStyle(), expected) << raw.toString().toStdString();
    }
    settings()->setValue("baseURL", QStringList { "a", "b" });
    settings()->setValue("hasCompletedOnboarding", "maybe");
    settings()->setValue("notifiesLowBalance", "false");
    SettingsStore store(settings());
    EXPECT_EQ(store.baseURLOverride(), "");
    EXPECT_FALSE(store.hasCompletedOnboarding());
    EXPECT_FALSE(store.notifiesLowBalance());
}

TEST_F(SettingsStoreTest, EveryAssignmentWritesThroughButOnlyChangesNotify)
{
    SettingsStore store(settings());
    QSignalSpy onboarding(&store, &SettingsStore::hasCompletedOnboardingChanged);
    QSignalSpy style(&store, &SettingsStore::menuBarStyleChanged);
    QSignalSpy override(&store, &SettingsStore::baseURLOverrideChanged);
    QSignalSpy notifies(&store, &SettingsStore::notifiesLowBalanceChanged);
    store.setHasCompletedOnboarding(false);
    EXPECT_TRUE(settings()->contains("hasCompletedOnboarding")) << "written even when unchanged";
    store.setHasCompletedOnboarding(true);
    for (int i = 0; i < 2; ++i) {
        store.setMenuBarStyle(Style::iconOnly);
        store.setBaseURLOverride(" x ");
        store.setNotifiesLowBalance(false);
    }
    EXPECT_EQ(onboarding.count(), 1);
    EXPECT_EQ(style.count(), 1);
    EXPECT_EQ(override.count(), 1);
    EXPECT_EQ(notifies.count(), 1);
    SettingsStore reread(settings());
    EXPECT_FALSE(reread.notifiesLowBalance());
    EXPECT_TRUE(reread.hasCompletedOnboarding());
    EXPECT_EQ(settings()->value("menuBarStyle"), "iconOnly");
    EXPECT_EQ(settings()->value("baseURL"), " x ") << "kept as typed";
}

TEST_F(SettingsStoreTest, TheOverrideCountsWhenItParsesWithAScheme)
{
    const std::pair<QString, QUrl> cases[] = {
        { "  https://api.example.com/v2  \n", QUrl("https://api.example.com/v2") },
        { "localhost:8080", QUrl("localhost:8080") }, // "localhost" is the scheme
        { "api.example.com", VelmoClient::productionBaseURL() },
        { "   ", VelmoClient::productionBaseURL() },
    };
    SettingsStore store(settings());
    for (const auto& [typed, expected] : cases) {
        store.setBaseURLOverride(typed);
        EXPECT_EQ(store.baseURL(), expected) << typed.toStdString();
    }
}

// QSettings reads its file as it is built: a FIFO or device there is moved
// aside first, and the app starts with the defaults.
TEST_F(SettingsStoreTest, AFileThatIsNoRegularFileIsMovedAside)
{
    const ScopedEnv config("XDG_CONFIG_HOME", dir.path());
    const QString path = SettingsStore::standardFilePath();
    ASSERT_EQ(path, dir.filePath("VelmoUsage/VelmoUsage.conf"));
    QDir().mkpath(dir.filePath("VelmoUsage"));
    for (const Hostile kind : { Hostile::fifo, Hostile::zeroDevice }) {
        plant(kind, path);
        LogCapture log;
        std::unique_ptr<QSettings> defaults;
        EXPECT_TRUE(returnsByItself(path, [&] { defaults = SettingsStore::standardDefaults(); }));
        EXPECT_EQ(SettingsStore(std::move(defaults)).menuBarStyle(), Style::account);
        EXPECT_TRUE(log.mentions("is not a regular file; moved it to " + path + ".invalid-"));
        EXPECT_FALSE(QFileInfo(path).exists() && !QFileInfo(path).isFile());
    }
    EXPECT_EQ(QDir(dir.filePath("VelmoUsage"))
                  .entryList(QDir::System | QDir::AllEntries | QDir::NoDotAndDotDot)
                  .size(),
        2);
}

} // namespace
