#include "AppContainer.h"
#include "DevServerProcess.h"
#include "InMemoryCredentialStore.h"
#include "TestSupport.h"

#include <QFileInfo>
#include <QSettings>
#include <QSignalSpy>
#include <gtest/gtest.h>

using namespace std::chrono;
using velmo::test::DevServerProcess;
using velmo::test::ScratchDir;

namespace {

// Runs the container headless against the stand-in service, with the CLI
// session in a scratch HOME.
class AppContainerTest : public ::testing::Test {
protected:
    AppContainerTest()
        : savedHome(qgetenv("HOME"))
        , savedAuth(qgetenv("VELMO_AUTH_URL"))
    {
        qputenv("HOME", home.path().toLocal8Bit());
        qputenv("VELMO_AUTH_URL", server.baseURL().toString().toUtf8());
    }
    ~AppContainerTest() override
    {
        qputenv("HOME", savedHome);
        if (savedAuth.isEmpty())
            qunsetenv("VELMO_AUTH_URL");
        else
            qputenv("VELMO_AUTH_URL", savedAuth);
    }

    void writeCLISession()
    {
        const auto session = server.issueSession(3600);
        CLICredentialReader(home.path().toStdString())
            .write(StoredTokens { session.accessToken, session.refreshToken,
                static_cast<double>(session.expiresAtMs), session.clientId });
    }

    std::unique_ptr<AppContainer> makeContainer(const QUrl& api)
    {
        auto settings = std::make_unique<QSettings>(home.filePath("VelmoUsage.conf"), QSettings::IniFormat);
        settings->setValue("baseURL", api.toString());
        AppContainer::Options options;
        options.openBrowser = [](const QUrl&) { return false; };
        options.removeLegacyAPIKey = [this] { ++legacyRemovals; };
        return std::make_unique<AppContainer>(
            std::make_unique<SettingsStore>(std::move(settings)), sessions, cache(), options);
    }

    SnapshotCache cache() const { return SnapshotCache(home.filePath("data/VelmoUsage/snapshot.json")); }

    int requests(const char* endpoint) { return server.counters()["requests"][endpoint].get<int>(); }

    // Waits for the store's next completed request phase.
    static bool nextAttempt(UsageStore& store)
    {
        QSignalSpy attempt(&store, &UsageStore::lastAttemptAtChanged);
        return attempt.wait(15'000);
    }

    DevServerProcess server;
    ScratchDir home;
    QByteArray savedHome;
    QByteArray savedAuth;
    std::shared_ptr<InMemoryCredentialStore> sessions = std::make_shared<InMemoryCredentialStore>();
    std::atomic<int> legacyRemovals { 0 };
};

TEST_F(AppContainerTest, ColdStartShowsTheCacheThenRefreshesAtOnceAndSchedulesTheNext)
{
    Snapshot cached { .fetchedAt = *VelmoJSON::parseDate("2025-01-01T00:00:00Z") };
    cached.balance = Balance {};
    cache().save(cached);
    writeCLISession();

    auto container = makeContainer(server.baseURL());
    UsageStore& store = container->store();
    QSignalSpy attempts(&store, &UsageStore::lastAttemptAtChanged);
    container->start();
    // Before any network traffic: the cached figures and the signed-in state.
    EXPECT_EQ(store.snapshot(), cached);
    ASSERT_TRUE(store.credential());
    EXPECT_EQ(store.credential()->source, CredentialSource::cliTokens);

    ASSERT_TRUE(attempts.wait(15'000));
    const auto finished = system_clock::now();
    ASSERT_TRUE(store.snapshot());
    EXPECT_NE(store.snapshot()->fetchedAt, cached.fetchedAt);
    ASSERT_TRUE(store.snapshot()->balance);
    EXPECT_EQ(store.snapshot()->balance->accountBalance, MicrosUSD(42'750'000));
    EXPECT_EQ(store.status(), UsageStore::Status::ok());
    const auto written = cache().load();
    ASSERT_TRUE(written);
    EXPECT_EQ(written->fetchedAt, floor<seconds>(store.snapshot()->fetchedAt));
    EXPECT_EQ(written->usage, store.snapshot()->usage);

    QSignalSpy scheduled(&store, &UsageStore::nextRefreshAtChanged);
    if (!store.nextRefreshAt()) {
        ASSERT_TRUE(scheduled.wait(5'000));
    }
    EXPECT_NEAR(duration<double>(*store.nextRefreshAt() - finished).count(), 900.0, 5.0);
    EXPECT_EQ(requests("balance"), 1);

    // Woken during its wait, the loop refreshes again at once.
    container->refreshNow();
    ASSERT_TRUE(nextAttempt(store));
    EXPECT_EQ(requests("balance"), 2);
    EXPECT_EQ(legacyRemovals.load(), 1);
    container->stop();
}

TEST_F(AppContainerTest, SignOutFallsBackToTheCLISessionAndClearsTheData)
{
    writeCLISession();
    const auto appSession = server.issueSession(3600);
    sessions->save(StoredTokens { appSession.accessToken, appSession.refreshToken,
        static_cast<double>(appSession.expiresAtMs), appSession.clientId });

    auto container = makeContainer(server.baseURL());
    UsageStore& store = container->store();
    container->start();
    ASSERT_TRUE(nextAttempt(store));
    ASSERT_EQ(store.credential()->source, CredentialSource::app);
    ASSERT_TRUE(QFileInfo::exists(cache().filePath()));

    QSignalSpy attempts(&store, &UsageStore::lastAttemptAtChanged);
    container->signOut();
    EXPECT_FALSE(sessions->load());
    EXPECT_EQ(store.snapshot(), std::nullopt);
    EXPECT_FALSE(QFileInfo::exists(cache().filePath()));
    ASSERT_TRUE(store.credential());
    EXPECT_EQ(store.credential()->source, CredentialSource::cliTokens);
    EXPECT_TRUE(CLICredentialReader(home.path().toStdString()).read()) << "the tool's file is untouched";
    ASSERT_TRUE(attempts.wait(15'000)) << "a refresh is under way";
    EXPECT_TRUE(store.snapshot());
    container->stop();
}

TEST_F(AppContainerTest, NewBaseURLClearsTheOldServersDataBeforeAsking)
{
    writeCLISession();
    DevServerProcess other;
    other.injectStatus("balance", 503, 3);
    auto container = makeContainer(server.baseURL());
    UsageStore& store = container->store();
    container->start();
    ASSERT_TRUE(nextAttempt(store));
    ASSERT_TRUE(store.snapshot());

    QSignalSpy snapshots(&store, &UsageStore::snapshotChanged);
    container->settings().setBaseURLOverride(other.baseURL().toString());
    container->applyBaseURL();
    EXPECT_EQ(store.snapshot(), std::nullopt);
    EXPECT_FALSE(QFileInfo::exists(cache().filePath()));
    EXPECT_EQ(store.client().baseURL(), VelmoClient::normalizedBaseURL(other.baseURL()));
    ASSERT_TRUE(nextAttempt(store));
    // The other server knows no such token: a rejected credential, nothing shown.
    EXPECT_EQ(store.snapshot(), std::nullopt);
    EXPECT_EQ(server.counters()["requests"]["balance"].get<int>(), 1);
    container->stop();
}

TEST_F(AppContainerTest, AfterStopNoRefreshStartsEvenWhenWoken)
{
    writeCLISession();
    auto container = makeContainer(server.baseURL());
    UsageStore& store = container->store();
    container->start();
    ASSERT_TRUE(nextAttempt(store));
    container->stop();
    container->refreshNow();
    QSignalSpy attempts(&store, &UsageStore::lastAttemptAtChanged);
    EXPECT_FALSE(attempts.wait(1'500));
    EXPECT_EQ(requests("balance"), 1);
}

TEST_F(AppContainerTest, WithoutAnySessionNothingIsRequested)
{
    auto container = makeContainer(server.baseURL());
    container->start();
    QSignalSpy attempts(&container->store(), &UsageStore::lastAttemptAtChanged);
    EXPECT_FALSE(attempts.wait(1'000));
    EXPECT_EQ(container->store().status(), UsageStore::Status::noCredential());
    EXPECT_EQ(requests("balance"), 0);
    container->stop();
}

} // namespace
