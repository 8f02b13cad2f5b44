#include "UsageStore.h"
#include "AsyncWait.h"
#include "Cancellation.h"
#include "NetworkError.h"
#include "LogCapture.h"
#include "TestSupport.h"

#include <QCoroSignal>
#include <QFileInfo>
#include <QSignalSpy>
#include <QUrlQuery>
#include <gtest/gtest.h>

#include <deque>
#include <map>

using namespace std::chrono;
using velmo::test::ScratchDir;
using velmo::test::waitForTask;
using Status = UsageStore::Status;

void PrintTo(const UsageStore::Status& status, std::ostream* out)
{
    *out << "Status(" << static_cast<int>(status.kind()) << ", \"" << status.message() << "\")";
}

namespace {

class Gate : public QObject {
    Q_OBJECT
signals:
    void opened();
};

// Answers by URL path, each path from its own script; an answer may be held
// until the gate opens or the request is cancelled. Records every request.
class RoutingTransport final : public HTTPTransport {
public:
    struct Answer {
        int status;
        QByteArray body;
        bool hold = false;
    };
    QCoro::Task<HTTPResponse> send(HTTPRequest request, std::stop_token stop) override
    {
        requests.push_back(request);
        auto& script = scripts[request.url.path()];
        if (script.empty())
            co_return HTTPResponse { 599, "no answer scripted", {} };
        const Answer next = script.front();
        script.pop_front();
        if (next.status == 0)
            throw NetworkError(NetworkError::Code::connectionLost, next.body.toStdString());
        if (next.hold) {
            std::stop_callback onStop(
                stop, [this] { QMetaObject::invokeMethod(&gate, "opened", Qt::QueuedConnection); });
            auto opened = qCoro(&gate, &Gate::opened);
            co_await std::move(opened);
            if (stop.stop_requested()) {
                ++cancelled;
                throw CancellationError();
            }
        }
        co_return HTTPResponse { next.status, next.body, {} };
    }
    // The Authorization header of the last request to `path`.
    QByteArray authorization(const QString& path) const
    {
        const auto it = std::find_if(
            requests.rbegin(), requests.rend(), [&](const auto& r) { return r.url.path() == path; });
        for (const auto& [name, value] : it->headers) {
            if (name == "Authorization")
                return value;
        }
        return {};
    }
    std::map<QString, std::deque<Answer>> scripts;
    std::vector<HTTPRequest> requests;
    int cancelled = 0;
    Gate gate;
};

// The app's session store; saving fails like a full disk when told to.
class SessionStore final : public CredentialStoring {
public:
    std::optional<StoredTokens> load() override { return tokens; }
    void save(const StoredTokens& next) override
    {
        if (refuseSaves)
            throw std::runtime_error("No space left on device");
        tokens = next;
    }
    void remove() override { tokens.reset(); }
    std::optional<StoredTokens> tokens;
    bool refuseSaves = false;
};

const QString balancePath = QStringLiteral("/v1/credits/balance");
const QString usagePath = QStringLiteral("/v1/usage");
const QString tokenPath = QStringLiteral("/oauth/token");
const QByteArray renewedTokens
    = R"({"access_token":"access-2","refresh_token":"refresh-2","expires_in":3600})";

class UsageStoreTest : public ::testing::Test {
protected:
    UsageStoreTest()
    {
        HTTPClient http(transport, 1, 0.0, 5.0);
        CLICredentialReader cli(scratch.filePath("home").toStdString());
        TokenCoordinator coordinator(
            sessions, cli, http, QUrl("https://auth.test"), 2.0, [this] { return clock; });
        store = std::make_unique<UsageStore>(VelmoClient(QUrl("https://api.test"), http),
            CredentialResolver(sessions, cli), cache, coordinator);
        store->setNow([this] { return clock; });
    }

    // Without refresh data a session has no expiry either.
    void signIn(Timestamp expiry, bool renewable = true)
    {
        const double ms = double(duration_cast<milliseconds>(expiry.time_since_epoch()).count());
        sessions->save(renewable ? StoredTokens { "access-1", "refresh-1", ms, "client-1" }
                                 : StoredTokens { "access-1" });
    }
    void answer(const QString& path, int status, QByteArray body, bool hold = false)
    {
        transport->scripts[path].push_back({ status, std::move(body), hold });
    }
    void answerBoth()
    {
        answer(balancePath, 200, R"({"account_balance_micros_usd":12})");
        answer(usagePath, 200, R"({})");
    }
    void refresh(std::stop_token stop = {})
    {
        auto outcome = waitForTask(store->refresh(stop), 5s);
        ASSERT_TRUE(outcome.ok()) << (outcome.timedOut ? "still running" : outcome.errorText());
    }

    ScratchDir scratch;
    std::shared_ptr<RoutingTransport> transport = std::make_shared<RoutingTransport>();
    std::shared_ptr<SessionStore> sessions = std::make_shared<SessionStore>();
    SnapshotCache cache { scratch.filePath("VelmoUsage/snapshot.json") };
    Timestamp clock = *VelmoJSON::parseDate("2025-06-01T12:00:00Z");
    std::unique_ptr<UsageStore> store;
    // What the cache held before: balance 1, empty usage, an hour old.
    const Snapshot old { Balance { .accountBalance = MicrosUSD(1) }, UsageSummary {}, clock - 1h };
};

// One refresh over a cached snapshot, by what the two requests answer.
struct Outcome {
    int balanceStatus, usageStatus;
    bool newBalance, newUsage;
    UsageStore::Status status;
    const char* logLine;
    friend void PrintTo(const Outcome& row, std::ostream* out)
    {
        *out << row.balanceStatus << "/" << row.usageStatus;
    }
};

class RefreshOutcome : public UsageStoreTest, public ::testing::WithParamInterface<Outcome> { };

TEST_P(RefreshOutcome, PublishesWhatArrivedAndReportsTheFirstFailure)
{
    const Outcome& row = GetParam();
    signIn(clock + 1h, /*renewable=*/false);
    cache.save(old);
    store->loadCache();
    answer(balancePath, row.balanceStatus,
        row.balanceStatus == 200 ? R"({"account_balance_micros_usd":12})" : R"({"error":"nope"})");
    answer(usagePath, row.usageStatus,
        row.usageStatus == 200 ? R"({"totals":{"requests":5}})" : R"({"error":"busy"})");
    QSignalSpy refreshing(store.get(), &UsageStore::isRefreshingChanged);
    velmo::test::LogCapture log;
    refresh();

    ASSERT_TRUE(store->snapshot() && store->snapshot()->balance && store->snapshot()->usage);
    const Snapshot& shown = *store->snapshot();
    EXPECT_EQ(shown.balance->accountBalance, MicrosUSD(row.newBalance ? 12 : 1));
    EXPECT_EQ(shown.usage->totals.requests, row.newUsage ? 5 : 0);
    EXPECT_EQ(shown.fetchedAt, row.newBalance || row.newUsage ? clock : old.fetchedAt);
    const auto cached = cache.load();
    EXPECT_EQ(cached->fetchedAt, shown.fetchedAt);
    EXPECT_EQ(cached->usage, shown.usage);
    EXPECT_EQ(store->status(), row.status);
    EXPECT_EQ(store->lastAttemptAt(), clock);
    EXPECT_EQ(refreshing.count(), 2) << "true during the requests, false after";
    EXPECT_TRUE(log.mentions(row.logLine)) << row.logLine;
    ASSERT_EQ(transport->requests.size(), 2u);
    EXPECT_EQ(transport->authorization(balancePath), "Bearer access-1");
    EXPECT_EQ(QUrlQuery(transport->requests[1].url).queryItemValue("scope"), "account");

    // The outcome stays while the credential does; another one clears it.
    QSignalSpy credential(store.get(), &UsageStore::credentialChanged);
    store->reloadCredential();
    EXPECT_EQ(store->status(), row.status);
    EXPECT_EQ(credential.count(), 0);
    sessions->save(StoredTokens { .accessToken = "access-3" });
    store->reloadCredential();
    EXPECT_EQ(store->status(), Status::ok());
}

INSTANTIATE_TEST_SUITE_P(UsageStore, RefreshOutcome,
    ::testing::Values(Outcome { 200, 200, true, true, Status::ok(), "refresh ok via app" },
        Outcome { 503, 200, false, true, Status::error("503: nope"), "refresh failed (app): 503: nope" },
        Outcome { 500, 502, false, false, Status::error("500: nope"), "refresh failed (app): 500: nope" },
        Outcome { 401, 200, false, true, Status::credentialRejected("Credential rejected: nope"),
            "refresh failed (app): Credential rejected: nope" }));

// Renewed before the requests within a minute of its expiry (exactly 60 s
// counts), else once after the API rejected it, and then retried.
TEST_F(UsageStoreTest, ASessionIsRenewedNearItsExpiryOrWhenRejected)
{
    for (const bool rejected : { false, true }) {
        SCOPED_TRACE(rejected);
        transport->requests.clear();
        signIn(rejected ? clock + 1h : clock + 60s);
        if (rejected)
            answer(balancePath, 401, R"({"error":"expired"})");
        answer(balancePath, 200, R"({"account_balance_micros_usd":7})");
        answer(usagePath, 200, R"({})");
        answer(tokenPath, 200, renewedTokens);
        refresh();
        ASSERT_EQ(transport->requests.size(), rejected ? 4u : 3u) << "one renewal";
        EXPECT_EQ(transport->requests[0].url.path(), rejected ? balancePath : tokenPath);
        EXPECT_EQ(transport->authorization(balancePath), "Bearer access-2");
        EXPECT_EQ(store->credential()->token, "access-2");
        EXPECT_EQ(sessions->load()->accessToken, "access-2") << "the renewed session is stored";
        EXPECT_EQ(store->snapshot()->balance->accountBalance, MicrosUSD(7));
        EXPECT_EQ(store->status(), Status::ok());
    }
}

TEST_F(UsageStoreTest, ARenewalFailureSaysWhyAndOnlyARefusedGrantAsksForASignIn)
{
    const struct {
        int status; // 0: the connection drops
        QByteArray body;
        Status expected;
    } cases[] = {
        { 400, R"({"error":"invalid_grant","error_description":"Refresh token revoked"})",
            Status::credentialRejected("Session refresh failed: Refresh token revoked") },
        { 401, R"({"error":"invalid_client"})", Status::credentialRejected("Session refresh failed: invalid_client") },
        { 0, "Remote host closed", Status::error("Session refresh failed: Remote host closed") },
        { 503, "", Status::error("Session refresh failed: service unavailable") },
    };
    cache.save(old);
    store->loadCache();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected.message());
        transport->requests.clear();
        signIn(clock + 30s);
        answer(tokenPath, c.status, c.body);
        const auto attempted = store->lastAttemptAt();
        refresh();
        EXPECT_EQ(transport->requests.size(), 1u) << "no requests to the service";
        EXPECT_EQ(store->lastAttemptAt(), attempted);
        // Not "Session expired": the reason, over the data shown so far.
        EXPECT_EQ(store->status(), c.expected);
        EXPECT_EQ(store->snapshot(), old);
        // The next refresh tries again.
        answer(tokenPath, 200, R"({"access_token":"access-2","expires_in":3600})");
        answerBoth();
        refresh();
        EXPECT_EQ(store->status(), Status::ok());
        store->setSnapshot(old);
    }
    // The same refusal after the service rejected the token.
    signIn(clock + 1h);
    answer(balancePath, 401, R"({"error":{"message":"expired"}})");
    answer(usagePath, 200, R"({})");
    answer(tokenPath, 400, R"({"error":"invalid_grant","error_description":"Refresh token revoked"})");
    refresh();
    EXPECT_EQ(store->status(), Status::credentialRejected("Session refresh failed: Refresh token revoked"));
}

TEST_F(UsageStoreTest, ARenewedSessionThatCannotBeSavedIsUsedAndSavedLater)
{
    signIn(clock + 30s);
    sessions->refuseSaves = true;
    answer(tokenPath, 200, R"({"access_token":"access-2","expires_in":3600})");
    answerBoth();
    refresh();
    EXPECT_EQ(transport->authorization(usagePath), "Bearer access-2");
    EXPECT_EQ(store->snapshot()->balance->accountBalance, MicrosUSD(12));
    EXPECT_EQ(store->status(), Status::error("Could not save the refreshed session: No space left on device"));
    EXPECT_EQ(sessions->load()->accessToken, "access-1");
    sessions->refuseSaves = false;
    answerBoth();
    refresh();
    EXPECT_EQ(sessions->load()->accessToken, "access-2");
    EXPECT_EQ(transport->authorization(usagePath), "Bearer access-2");
    EXPECT_EQ(store->status(), Status::ok());
    EXPECT_EQ(std::count_if(transport->requests.begin(), transport->requests.end(),
                  [](const HTTPRequest& r) { return r.url.path() == tokenPath; }),
        1);
}

// Sign-out (the session goes), a new API server and the caller's stop each
// end a refresh in flight: its requests are aborted and nothing of it is
// published, cached or reported. A renewal is aborted too, except for a new
// server: the rotation is kept, only the requests are not sent.
TEST_F(UsageStoreTest, ARefreshInFlightEndsUnpublishedWhenItsIdentityGoesOrItIsStopped)
{
    enum Action { signOut, newServer, stop };
    int cancelled = 0;
    for (const bool renewing : { false, true }) {
        for (const Action action : { signOut, newServer, stop }) {
            SCOPED_TRACE(testing::Message() << "renewing " << renewing << ", action " << action);
            signIn(renewing ? clock + 30s : clock + 1h);
            answer(tokenPath, 200, renewedTokens, renewing);
            answer(balancePath, 200, R"({"account_balance_micros_usd":12})", !renewing);
            answer(usagePath, 200, R"({})");
            std::stop_source stopSource;
            auto inFlight = store->refresh(stopSource.get_token());
            if (!renewing) {
                EXPECT_TRUE(waitForTask(store->refresh(), 1s).ok())
                    << "an overlapping refresh returns at once";
            }
            if (action == signOut) {
                sessions->remove();
                store->reloadCredential();
            } else if (action == newServer) {
                store->setClient(VelmoClient(QUrl("https://other.test"), store->client().http()));
            } else {
                stopSource.request_stop();
            }
            const bool rotationKept = renewing && action == newServer;
            if (rotationKept)
                emit transport->gate.opened();
            EXPECT_TRUE(waitForTask(std::move(inFlight), 5s).ok()) << "ended without the held answer";
            EXPECT_EQ(transport->cancelled, cancelled += !rotationKept);
            EXPECT_EQ(store->snapshot(), std::nullopt);
            EXPECT_FALSE(QFileInfo::exists(cache.filePath()));
            EXPECT_EQ(store->lastError(), std::nullopt);
            EXPECT_FALSE(store->isRefreshing());
            if (action == signOut) {
                EXPECT_EQ(sessions->load(), std::nullopt)
                    << "a renewal never brings a signed-out session back";
            } else if (rotationKept) {
                EXPECT_EQ(sessions->load()->accessToken, "access-2");
            }
            EXPECT_EQ(transport->requests.size(), renewing ? 1u : 2u)
                << "none after a renewal, none overlapping";
            transport->scripts.clear();
            transport->requests.clear();
            store->setClient(VelmoClient(QUrl("https://api.test"), store->client().http()));
        }
    }
}

TEST_F(UsageStoreTest, CacheAndStalenessRules)
{
    // Without a credential nothing is sent and the cached figures stay.
    cache.save(old);
    store->loadCache();
    refresh();
    EXPECT_TRUE(transport->requests.empty());
    EXPECT_EQ(store->snapshot(), old);
    EXPECT_EQ(store->status(), Status::noCredential());
    // loadCache only fills an empty store; clearing deletes the file.
    const Snapshot shown { .fetchedAt = clock - 1800s };
    store->setSnapshot(shown);
    store->loadCache();
    EXPECT_EQ(store->snapshot(), shown);
    EXPECT_FALSE(store->isStale(1800s));
    store->setSnapshot(Snapshot { .fetchedAt = clock - 1801s });
    EXPECT_TRUE(store->isStale(1800s));
    store->clearSnapshot();
    EXPECT_FALSE(store->isStale(1800s)) << "no snapshot is not stale";
    EXPECT_EQ(cache.load(), std::nullopt);
}

} // namespace

#include "UsageStoreTest.moc"
