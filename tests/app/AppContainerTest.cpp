#include "AppContainer.h"
#include "DevServerProcess.h"
#include "FileCredentialStore.h"
#include "InMemoryCredentialStore.h"
#include "KeychainCredentialStore.h"
#include "SessionStorage.h"
#include "TestSupport.h"

#include <QFileInfo>
#include <QSettings>
#include <QSignalSpy>
#include <gtest/gtest.h>

#include <array>

using namespace std::chrono;
using velmo::test::DevServerProcess;
using velmo::test::ScratchDir;

namespace {

// The container headless against the stand-in service, with HOME (and so the
// CLI session) in a scratch folder.
class AppContainerTest : public ::testing::Test {
protected:
    StoredTokens session(std::int64_t expiresIn = 3600)
    {
        const auto issued = server.issueSession(expiresIn);
        return StoredTokens { issued.accessToken, issued.refreshToken, double(issued.expiresAtMs),
            issued.clientId };
    }
    CLICredentialReader cli() const { return CLICredentialReader(home.path().toStdString()); }
    SnapshotCache cache() const { return SnapshotCache(home.filePath("data/VelmoUsage/snapshot.json")); }
    int requests(const char* endpoint) { return server.counters()["requests"].value(endpoint, 0); }

    std::unique_ptr<AppContainer> start(std::shared_ptr<CredentialStoring> store = nullptr)
    {
        auto settings = std::make_unique<QSettings>(home.filePath("VelmoUsage.conf"), QSettings::IniFormat);
        settings->setValue("baseURL", server.baseURL().toString());
        AppContainer::Options options;
        options.removeLegacyAPIKey = [this] { ++legacyRemovals; };
        auto container = std::make_unique<AppContainer>(
            std::make_unique<SettingsStore>(std::move(settings)), store ? store : sessions, cache(), options);
        container->start();
        return container;
    }

    // Waits for the store's next finished request phase.
    static bool nextAttempt(UsageStore& store)
    {
        return QSignalSpy(&store, &UsageStore::lastAttemptAtChanged).wait(15'000);
    }

    DevServerProcess server;
    ScratchDir home;
    velmo::test::ScopedEnv homeVariable { "HOME", home.path() };
    velmo::test::ScopedEnv provider { "VELMO_AUTH_URL", server.baseURL().toString() };
    std::shared_ptr<InMemoryCredentialStore> sessions = std::make_shared<InMemoryCredentialStore>();
    std::atomic<int> legacyRemovals { 0 };
};

// The cache and the session show before any request; the first refresh runs
// at once. A renewable session is renewed as its last minute begins, not at
// the next 15-minute refresh, so it never shows as expired; then the loop
// waits 900 s, until stop() ends the wait.
TEST_F(AppContainerTest, ColdStartRefreshesAtOnceAndRenewsTheSessionInTime)
{
    const Snapshot cached { .balance = Balance {},
        .fetchedAt = *VelmoJSON::parseDate("2025-01-01T00:00:00Z") };
    cache().save(cached);
    const StoredTokens shortLived = session(62);
    cli().write(shortLived);
    auto container = start();
    UsageStore& store = container->store();
    EXPECT_EQ(store.snapshot(), cached);
    EXPECT_EQ(store.credential()->source, CredentialSource::cliTokens);

    QSignalSpy scheduled(&store, &UsageStore::nextRefreshAtChanged);
    ASSERT_TRUE(nextAttempt(store));
    EXPECT_EQ(store.snapshot()->balance->accountBalance, MicrosUSD(42'750'000));
    EXPECT_EQ(cache().load()->fetchedAt, floor<seconds>(store.snapshot()->fetchedAt));
    ASSERT_TRUE(scheduled.count() > 0 || scheduled.wait(5'000));
    const auto lastMinute = *store.credential()->expiresAt - 60s;
    EXPECT_NEAR(duration<double>(*store.nextRefreshAt() - lastMinute).count(), 0.0, 1.0);

    scheduled.clear();
    ASSERT_TRUE(nextAttempt(store));
    const auto finished = system_clock::now();
    EXPECT_NE(store.credential()->token, shortLived.accessToken);
    EXPECT_EQ(cli().read()->token, store.credential()->token);
    ASSERT_TRUE(scheduled.count() > 0 || scheduled.wait(5'000));
    EXPECT_NEAR(duration<double>(*store.nextRefreshAt() - finished).count(), 900.0, 5.0);
    EXPECT_EQ(legacyRemovals.load(), 1);
    container->stop();
    EXPECT_TRUE(QSignalSpy(container.get(), &AppContainer::stopped).wait(3'000)) << "the 900 s wait ends too";
}

// Both forget the shown figures and the cache file before asking again.
TEST_F(AppContainerTest, SignOutAndANewServerStartAfresh)
{
    cli().write(session());
    sessions->save(session());
    DevServerProcess other;
    auto container = start();
    UsageStore& store = container->store();
    ASSERT_TRUE(nextAttempt(store));
    container->signOut();
    EXPECT_FALSE(sessions->load());
    EXPECT_EQ(store.snapshot(), std::nullopt);
    EXPECT_FALSE(QFileInfo::exists(cache().filePath()));
    EXPECT_EQ(store.credential()->source, CredentialSource::cliTokens)
        << "the tool's session is left as it was";
    ASSERT_TRUE(nextAttempt(store)) << "a refresh is under way";
    EXPECT_TRUE(store.snapshot());

    container->settings().setBaseURLOverride(other.baseURL().toString());
    container->applyBaseURL();
    EXPECT_EQ(store.snapshot(), std::nullopt);
    EXPECT_FALSE(QFileInfo::exists(cache().filePath()));
    ASSERT_TRUE(nextAttempt(store));
    EXPECT_EQ(store.snapshot(), std::nullopt) << "the other server knows no such token";
    EXPECT_EQ(requests("balance"), 2) << "nothing more to the old server";
}

TEST_F(AppContainerTest, StopEndsARefreshInFlightAtOnceAndNothingStartsAfterIt)
{
    cli().write(session());
    server.setLatency(10'000, "balance");
    auto container = start();
    UsageStore& store = container->store();
    ASSERT_TRUE(store.isRefreshing() || QSignalSpy(&store, &UsageStore::isRefreshingChanged).wait(5'000));
    QSignalSpy stopped(container.get(), &AppContainer::stopped);
    container->stop();
    ASSERT_TRUE(stopped.wait(3'000)) << "not within the server's 10 s delay";
    EXPECT_FALSE(container->isRunning());
    EXPECT_EQ(store.snapshot(), std::nullopt) << "nothing of it is published";

    container->refreshNow();
    container->start();
    EXPECT_FALSE(QSignalSpy(&store, &UsageStore::isRefreshingChanged).wait(500));
}

// Another process signs in or out (the velmo tool, a second instance): the
// running container notices at once and refreshes or forgets.
enum class SessionKind { cliFile, appFile, keyring };

class SessionChangedElsewhere : public AppContainerTest,
                                public ::testing::WithParamInterface<SessionKind> { };

TEST_P(SessionChangedElsewhere, IsPickedUpAtOnce)
{
    if (GetParam() == SessionKind::keyring && !SessionStorage::secretServiceAvailable())
        GTEST_SKIP() << "no Secret Service on this session bus";
    // The container's own store, and another handle on the same session.
    const auto storeOf = [&]() -> std::shared_ptr<CredentialStoring> {
        if (GetParam() == SessionKind::appFile)
            return std::make_shared<FileCredentialStore>(
                home.filePath("data/VelmoUsage/session.json").toStdString());
        return std::make_shared<KeychainCredentialStore>(
            "velmo-usage-test", "watch-" + std::to_string(::getpid()));
    };
    const bool cliFile = GetParam() == SessionKind::cliFile;
    const std::shared_ptr<CredentialStoring> elsewhere = cliFile ? nullptr : storeOf();
    auto container = start(cliFile ? sessions : storeOf());
    UsageStore& store = container->store();
    cliFile ? cli().write(session()) : elsewhere->save(session());
    ASSERT_TRUE(nextAttempt(store)) << "refreshed long before the next 15 minutes";
    EXPECT_EQ(store.credential()->source, cliFile ? CredentialSource::cliTokens : CredentialSource::app);
    EXPECT_TRUE(store.snapshot());
    EXPECT_EQ(requests("balance"), 1) << "nothing was asked while signed out";

    QSignalSpy credential(&store, &UsageStore::credentialChanged);
    cliFile ? void(QFile::remove(QString::fromStdString(cli().tokensFile()))) : elsewhere->remove();
    ASSERT_TRUE(credential.wait(5'000));
    EXPECT_EQ(store.status(), UsageStore::Status::noCredential());
    EXPECT_EQ(store.snapshot(), std::nullopt) << "the signed-out account's figures go";
}

INSTANTIATE_TEST_SUITE_P(AppContainer, SessionChangedElsewhere,
    ::testing::Values(SessionKind::cliFile, SessionKind::appFile, SessionKind::keyring),
    [](const auto& info) { return std::string((std::array { "cliFile", "appFile", "keyring" })[int(info.param)]); });

} // namespace
