#include "AsyncWait.h"
#include "InMemoryCredentialStore.h"
#include "TestSupport.h"
#include "UsageStore.h"

#include <QCoroSignal>
#include <QSignalSpy>
#include <QUrlQuery>
#include <gtest/gtest.h>

#include <deque>
#include <map>

using namespace std::chrono;
using velmo::test::ScratchDir;
using velmo::test::waitForTask;

void PrintTo(const UsageStore::Status& status, std::ostream* out)
{
    *out << "Status(" << static_cast<int>(status.kind()) << ", \"" << status.message() << "\")";
}

namespace {

// Releases requests that a RoutingTransport holds back.
class Gate : public QObject {
    Q_OBJECT
signals:
    void opened();
};

// Answers by URL path ("/v1/credits/balance", "/v1/usage", "/oauth/token"),
// each path with its own script; records every request.
class RoutingTransport final : public HTTPTransport {
public:
    struct Answer {
        int status = 200;
        QByteArray body;
        bool hold = false; // wait for the gate first
    };
    void answer(const QString& path, int status, QByteArray body, bool hold = false)
    {
        scripts[path].push_back({ status, std::move(body), hold });
    }
    QCoro::Task<HTTPResponse> send(HTTPRequest request, std::stop_token) override
    {
        requests.push_back(request);
        auto& script = scripts[request.url.path()];
        if (script.empty())
            co_return HTTPResponse { 599, "no answer scripted", {} };
        Answer next = script.front();
        script.pop_front();
        if (next.hold) {
            auto opened = qCoro(&gate, &Gate::opened);
            co_await std::move(opened);
        }
        co_return HTTPResponse { next.status, next.body, {} };
    }
    int count(const QString& path) const
    {
        return static_cast<int>(std::count_if(
            requests.begin(), requests.end(), [&](const HTTPRequest& r) { return r.url.path() == path; }));
    }
    QByteArray lastAuthorization(const QString& path) const
    {
        for (auto it = requests.rbegin(); it != requests.rend(); ++it) {
            if (it->url.path() == path) {
                for (const auto& [name, value] : it->headers) {
                    if (name.compare("Authorization", Qt::CaseInsensitive) == 0)
                        return value;
                }
            }
        }
        return {};
    }
    std::map<QString, std::deque<Answer>> scripts;
    std::vector<HTTPRequest> requests;
    Gate gate;
};

const QString balancePath = QStringLiteral("/v1/credits/balance");
const QString usagePath = QStringLiteral("/v1/usage");
const QString tokenPath = QStringLiteral("/oauth/token");

class UsageStoreTest : public ::testing::Test {
protected:
    UsageStoreTest()
    {
        transport = std::make_shared<RoutingTransport>();
        sessions = std::make_shared<InMemoryCredentialStore>();
        cache.emplace(scratch.filePath("VelmoUsage/snapshot.json"));
    }

    std::unique_ptr<UsageStore> makeStore()
    {
        HTTPClient http(transport, 1, 0.0, 5.0);
        CLICredentialReader cli(scratch.filePath("home").toStdString());
        CredentialResolver resolver(sessions, cli);
        TokenCoordinator coordinator(sessions, cli, http, QUrl("https://auth.test"), 2.0, [this] { return clock; });
        auto store = std::make_unique<UsageStore>(
            VelmoClient(QUrl("https://api.test"), http), resolver, cache, coordinator);
        store->setNow([this] { return clock; });
        return store;
    }

    void signIn(std::optional<Timestamp> expiry = std::nullopt, bool renewable = true)
    {
        StoredTokens tokens { .accessToken = "access-1" };
        if (renewable) {
            tokens.refreshToken = "refresh-1";
            tokens.clientId = "client-1";
        }
        if (expiry)
            tokens.expiresAt = static_cast<double>(duration_cast<milliseconds>(expiry->time_since_epoch()).count());
        sessions->save(tokens);
    }

    void answerBoth(int balanceStatus = 200, int usageStatus = 200)
    {
        transport->answer(balancePath, balanceStatus,
            balanceStatus == 200 ? R"({"account_balance_micros_usd":12000000})" : R"({"error":{"message":"nope"}})");
        transport->answer(usagePath, usageStatus,
            usageStatus == 200 ? R"({"totals":{"requests":5}})" : R"({"error":{"message":"busy"}})");
    }

    void refresh(UsageStore& store)
    {
        auto outcome = waitForTask(store.refresh(), 10s);
        ASSERT_TRUE(outcome.ok()) << outcome.errorText();
    }

    Snapshot oldSnapshot() const
    {
        Balance balance;
        balance.accountBalance = MicrosUSD(1);
        balance.asOf = clock - hours(2);
        return Snapshot { balance, UsageSummary {}, clock - hours(1) };
    }

    ScratchDir scratch;
    std::shared_ptr<RoutingTransport> transport;
    std::shared_ptr<InMemoryCredentialStore> sessions;
    std::optional<SnapshotCache> cache;
    Timestamp clock = *VelmoJSON::parseDate("2025-06-01T12:00:00Z");
};

TEST_F(UsageStoreTest, WithoutACredentialNothingIsSentAndTheCachedSnapshotStays)
{
    cache->save(oldSnapshot());
    auto store = makeStore();
    store->loadCache();
    refresh(*store);
    EXPECT_TRUE(transport->requests.empty());
    EXPECT_EQ(store->snapshot(), oldSnapshot());
    EXPECT_EQ(store->lastError(), std::nullopt);
    EXPECT_EQ(store->status(), UsageStore::Status::noCredential());
}

TEST_F(UsageStoreTest, CleanRefreshPublishesCachesAndClearsErrors)
{
    signIn(clock + hours(1));
    answerBoth();
    auto store = makeStore();
    QSignalSpy refreshing(store.get(), &UsageStore::isRefreshingChanged);
    refresh(*store);
    ASSERT_TRUE(store->snapshot());
    EXPECT_EQ(store->snapshot()->balance->accountBalance, MicrosUSD(12'000'000));
    EXPECT_EQ(store->snapshot()->usage->totals.requests, 5);
    EXPECT_EQ(store->snapshot()->fetchedAt, clock);
    EXPECT_EQ(store->lastAttemptAt(), clock);
    const auto cached = cache->load();
    ASSERT_TRUE(cached);
    EXPECT_EQ(cached->usage, store->snapshot()->usage);
    EXPECT_EQ(cached->fetchedAt, clock);
    EXPECT_EQ(store->status(), UsageStore::Status::ok());
    EXPECT_EQ(refreshing.count(), 2) << "true during the requests, false after";
    EXPECT_FALSE(store->isRefreshing());
    EXPECT_EQ(transport->lastAuthorization(balancePath), "Bearer access-1");
    // The usage window is the 30 days ending now, for the whole account.
    const QUrlQuery query(transport->requests.back().url);
    EXPECT_EQ(query.queryItemValue("scope"), "account");
}

TEST_F(UsageStoreTest, PartialFailurePublishesTheHalfThatArrived)
{
    signIn(clock + hours(1));
    cache->save(oldSnapshot());
    answerBoth(503, 200);
    auto store = makeStore();
    store->loadCache();
    refresh(*store);
    ASSERT_TRUE(store->snapshot());
    EXPECT_EQ(store->snapshot()->balance, oldSnapshot().balance) << "the previous balance is kept";
    EXPECT_EQ(store->snapshot()->usage->totals.requests, 5);
    EXPECT_EQ(store->snapshot()->fetchedAt, clock);
    EXPECT_EQ(cache->load(), store->snapshot());
    EXPECT_EQ(store->lastError(), "503: nope");
    EXPECT_FALSE(store->credentialRejected());
    EXPECT_EQ(store->status(), UsageStore::Status::error("503: nope"));
}

TEST_F(UsageStoreTest, TotalFailureKeepsTheSnapshotAndTheFileButAdvancesTheAttempt)
{
    signIn(clock + hours(1));
    cache->save(oldSnapshot());
    answerBoth(500, 502);
    auto store = makeStore();
    store->loadCache();
    refresh(*store);
    EXPECT_EQ(store->snapshot(), oldSnapshot());
    EXPECT_EQ(cache->load(), oldSnapshot());
    EXPECT_EQ(store->lastAttemptAt(), clock);
    EXPECT_EQ(store->lastError(), "500: nope") << "the balance failure comes first";
}

TEST_F(UsageStoreTest, UnauthorizedRenewsOnceAndRetriesWithTheNewToken)
{
    signIn(clock + hours(1));
    transport->answer(balancePath, 401, R"({"error":{"message":"expired"}})");
    transport->answer(balancePath, 200, R"({"account_balance_micros_usd":7})");
    transport->answer(usagePath, 200, R"({})");
    transport->answer(tokenPath, 200, R"({"access_token":"access-2","refresh_token":"refresh-2","expires_in":3600})");
    auto store = makeStore();
    refresh(*store);
    EXPECT_EQ(transport->count(tokenPath), 1);
    EXPECT_EQ(transport->lastAuthorization(balancePath), "Bearer access-2");
    ASSERT_TRUE(store->credential());
    EXPECT_EQ(store->credential()->token, "access-2");
    EXPECT_EQ(sessions->load()->accessToken, "access-2") << "the renewed session is stored";
    EXPECT_EQ(store->snapshot()->balance->accountBalance, MicrosUSD(7));
    EXPECT_EQ(store->status(), UsageStore::Status::ok());
}

TEST_F(UsageStoreTest, UnauthorizedWithoutRenewalRejectsTheCredential)
{
    signIn(std::nullopt, /*renewable=*/false);
    transport->answer(balancePath, 401, R"({"error":{"message":"invalid key"}})");
    transport->answer(usagePath, 200, R"({})");
    auto store = makeStore();
    refresh(*store);
    EXPECT_EQ(transport->count(tokenPath), 0);
    EXPECT_TRUE(store->credentialRejected());
    EXPECT_EQ(store->status(), UsageStore::Status::credentialRejected("Credential rejected: invalid key"));
}

TEST_F(UsageStoreTest, ExpiringSessionIsRenewedBeforeTheRequests)
{
    // Exactly 60 s from now counts as expired.
    signIn(clock + seconds(60));
    transport->answer(tokenPath, 200, R"({"access_token":"access-2","refresh_token":"refresh-2","expires_in":3600})");
    answerBoth();
    auto store = makeStore();
    refresh(*store);
    ASSERT_GE(transport->requests.size(), 1u);
    EXPECT_EQ(transport->requests.front().url.path(), tokenPath);
    EXPECT_EQ(transport->lastAuthorization(usagePath), "Bearer access-2");
    EXPECT_EQ(store->status(), UsageStore::Status::ok());
}

TEST_F(UsageStoreTest, RenewalFailureBeforeTheRequestsEndsTheRefresh)
{
    signIn(clock + seconds(30));
    transport->answer(tokenPath, 400, R"({"error":"invalid_grant"})");
    auto store = makeStore();
    refresh(*store);
    EXPECT_EQ(transport->count(balancePath), 0);
    EXPECT_FALSE(store->credentialRejected());
    EXPECT_EQ(store->lastError(), "Session refresh failed: invalid_grant");
    EXPECT_EQ(store->lastAttemptAt(), std::nullopt);
    // Within a minute of its expiry the status says so, whatever the error.
    EXPECT_EQ(store->status(), UsageStore::Status::credentialExpired());
}

TEST_F(UsageStoreTest, AnOverlappingRefreshIsDroppedNotQueued)
{
    signIn(clock + hours(1));
    transport->answer(balancePath, 200, R"({})", /*hold=*/true);
    transport->answer(usagePath, 200, R"({})");
    auto store = makeStore();
    auto first = store->refresh();
    ASSERT_TRUE(store->isRefreshing());
    auto second = waitForTask(store->refresh(), 5s);
    EXPECT_TRUE(second.ok()) << "returns without waiting for the first";
    EXPECT_EQ(transport->count(balancePath), 1);
    emit transport->gate.opened();
    auto done = waitForTask(std::move(first), 5s);
    EXPECT_TRUE(done.ok());
    EXPECT_FALSE(store->isRefreshing());
}

TEST_F(UsageStoreTest, StatusAndStalenessRules)
{
    auto store = makeStore();
    EXPECT_FALSE(store->isStale(1800s)) << "no snapshot is not stale";
    store->setSnapshot(Snapshot { .fetchedAt = clock - 1800s });
    EXPECT_FALSE(store->isStale(1800s));
    store->setSnapshot(Snapshot { .fetchedAt = clock - 1801s });
    EXPECT_TRUE(store->isStale(1800s));

    signIn(std::nullopt, /*renewable=*/false);
    transport->answer(balancePath, 403, R"()");
    transport->answer(usagePath, 200, R"({})");
    refresh(*store);
    EXPECT_EQ(store->status(), UsageStore::Status::credentialRejected("Credential rejected: forbidden"));
}

TEST_F(UsageStoreTest, CredentialReloadClearsErrorsOnlyOnAChange)
{
    signIn(clock + hours(1));
    answerBoth(500, 500);
    auto store = makeStore();
    refresh(*store);
    ASSERT_TRUE(store->lastError());
    store->reloadCredential();
    EXPECT_TRUE(store->lastError()) << "same credential: the error stays";
    sessions->remove();
    QSignalSpy changed(store.get(), &UsageStore::credentialChanged);
    store->reloadCredential();
    EXPECT_EQ(store->lastError(), std::nullopt);
    EXPECT_EQ(changed.count(), 1);
    store->reloadCredential();
    EXPECT_EQ(changed.count(), 1) << "no change, no signal";
}

TEST_F(UsageStoreTest, LoadCacheOnlyFillsAnEmptyStore)
{
    cache->save(oldSnapshot());
    auto store = makeStore();
    const Snapshot shown { .fetchedAt = clock };
    store->setSnapshot(shown);
    store->loadCache();
    EXPECT_EQ(store->snapshot(), shown);
    store->clearSnapshot();
    EXPECT_EQ(store->snapshot(), std::nullopt);
    EXPECT_EQ(cache->load(), std::nullopt) << "clearing deletes the file";
}

} // namespace

#include "UsageStoreTest.moc"
