#include "UsageStore.h"
#include "AsyncWait.h"
#include "FakeCredentialStore.h"
#include "FakeHTTPTransport.h"
#include "LogCapture.h"
#include "TestSupport.h"

#include <QFileInfo>
#include <QSignalSpy>
#include <QUrlQuery>
#include <gtest/gtest.h>

using namespace std::chrono;
using velmo::test::waitForTask;
using Status = UsageStore::Status;

void PrintTo(const UsageStore::Status& status, std::ostream* out)
{
    *out << "Status(" << static_cast<int>(status.kind()) << ", \"" << status.message() << "\")";
}

namespace {

const QString balancePath = QStringLiteral("/v1/credits/balance");
const QString usagePath = QStringLiteral("/v1/usage");
const QString tokenPath = QStringLiteral("/oauth/token");
const QByteArray renewedTokens = R"({"access_token":"access-2","refresh_token":"refresh-2","expires_in":3600})";

// A store over scripted answers (by URL path), the app's session and a cache in a scratch folder.
class UsageStoreTest : public ::testing::Test {
protected:
    UsageStoreTest()
    {
        HTTPClient http(transport, 1, 0.0, 5.0);
        CLICredentialReader cli(scratch.filePath("home").toStdString());
        TokenCoordinator coordinator(sessions, cli, http, QUrl("https://auth.test"), 2.0, [this] { return clock; });
        store = std::make_unique<UsageStore>(
            VelmoClient(QUrl("https://api.test"), http), CredentialResolver(sessions, cli), cache, coordinator);
        store->setNow([this] { return clock; });
    }

    // Without refresh data a session has no expiry either.
    void signIn(Timestamp expiry, bool renewable = true)
    {
        const double ms = double(duration_cast<milliseconds>(expiry.time_since_epoch()).count());
        sessions->tokens = renewable ? StoredTokens { "access-1", "refresh-1", ms, "client-1" } : StoredTokens { "access-1" };
    }
    void answerBoth(int balanceStatus = 200, int usageStatus = 200)
    {
        transport->respondTo(balancePath, balanceStatus,
            balanceStatus == 200 ? R"({"account_balance_micros_usd":12})" : R"({"error":"nope"})");
        transport->respondTo(usagePath, usageStatus, usageStatus == 200 ? R"({"totals":{"requests":5}})" : "{}");
    }
    void refresh(std::stop_token stop = {})
    {
        auto outcome = waitForTask(store->refresh(stop), 5s);
        ASSERT_TRUE(outcome.ok()) << (outcome.timedOut ? "still running" : outcome.errorText());
    }

    velmo::test::ScratchDir scratch;
    std::shared_ptr<velmo::test::FakeHTTPTransport> transport = std::make_shared<velmo::test::FakeHTTPTransport>();
    std::shared_ptr<velmo::test::FakeCredentialStore> sessions = std::make_shared<velmo::test::FakeCredentialStore>();
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
    friend void PrintTo(const Outcome& row, std::ostream* out) { *out << row.balanceStatus << "/" << row.usageStatus; }
};

class RefreshOutcome : public UsageStoreTest, public ::testing::WithParamInterface<Outcome> { };

TEST_P(RefreshOutcome, PublishesWhatArrivedAndReportsTheFirstFailure)
{
    const Outcome& row = GetParam();
    signIn(clock + 1h, /*renewable=*/false);
    cache.save(old);
    store->loadCache();
    answerBoth(row.balanceStatus, row.usageStatus);
    velmo::test::LogCapture log;
    refresh();

    ASSERT_TRUE(store->snapshot() && store->snapshot()->balance && store->snapshot()->usage);
    const Snapshot& shown = *store->snapshot();
    EXPECT_EQ(shown.balance->accountBalance, MicrosUSD(row.newBalance ? 12 : 1));
    EXPECT_EQ(shown.usage->totals.requests, row.newUsage ? 5 : 0);
    EXPECT_EQ(shown.fetchedAt, row.newBalance || row.newUsage ? clock : old.fetchedAt);
    EXPECT_EQ(cache.load()->fetchedAt, shown.fetchedAt);
    EXPECT_EQ(cache.load()->usage, shown.usage);
    EXPECT_EQ(store->status(), row.status);
    EXPECT_EQ(store->lastAttemptAt(), clock);
    EXPECT_TRUE(log.mentions(row.logLine)) << row.logLine;
    ASSERT_EQ(transport->requests.size(), 2u);
    EXPECT_EQ(QUrlQuery(transport->requests[1].url).queryItemValue("scope"), "account");

    // The outcome stays while the credential does; another one clears it.
    QSignalSpy credential(store.get(), &UsageStore::credentialChanged);
    store->reloadCredential();
    EXPECT_EQ(store->status(), row.status);
    EXPECT_EQ(credential.count(), 0);
    sessions->tokens = StoredTokens { .accessToken = "access-3" };
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
// counts), else once after the API rejected it, and then retried. A failure
// is not "Session expired": the reason, over the data shown so far; only a
// refused grant asks for a sign-in. The next refresh tries again. A renewal
// that cannot be saved is used, and saved by a later refresh.
TEST_F(UsageStoreTest, ASessionIsRenewedNearItsExpiryOrWhenRejectedAndAFailureSaysWhy)
{
    const struct {
        bool afterRejection; // else: renewed ahead of the requests
        int status; // of the renewal; 0: the connection drops
        Status expected;
        bool saveFails = false;
    } cases[] = {
        { false, 200, Status::ok() },
        { false, 200, Status::error("Could not save the refreshed session: keyring write refused"), true },
        { true, 200, Status::ok() },
        { false, 400, Status::credentialRejected("Session refresh failed: Refresh token revoked") },
        { false, 0, Status::error("Session refresh failed: Remote host closed") },
        { true, 400, Status::credentialRejected("Session refresh failed: Refresh token revoked") },
    };
    cache.save(old);
    store->loadCache();
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.afterRejection << " " << c.status);
        transport->requests.clear();
        transport->routes.clear();
        store->setSnapshot(old);
        signIn(c.afterRejection ? clock + 1h : clock + 60s);
        if (c.afterRejection)
            answerBoth(401);
        answerBoth();
        if (c.status)
            transport->respondTo(tokenPath, c.status,
                c.status == 200 ? renewedTokens : R"({"error":"invalid_grant","error_description":"Refresh token revoked"})");
        else
            transport->fail(NetworkError(NetworkError::Code::connectionLost, "Remote host closed"), tokenPath);
        const auto attempted = store->lastAttemptAt();
        sessions->failSave = c.saveFails;
        refresh();
        sessions->failSave = false;
        EXPECT_EQ(store->status(), c.expected);
        if (c.status == 200) {
            EXPECT_EQ(transport->requests.size(), c.afterRejection ? 4u : 3u) << "one renewal";
            EXPECT_EQ(transport->header(balancePath, "Authorization"), "Bearer access-2");
            EXPECT_EQ(store->snapshot()->balance->accountBalance, MicrosUSD(12));
        } else if (!c.afterRejection) {
            EXPECT_EQ(transport->requests.size(), 1u) << "no requests to the service";
            EXPECT_EQ(store->lastAttemptAt(), attempted);
            EXPECT_EQ(store->snapshot(), old);
        }
        transport->routes.clear();
        transport->respondTo(tokenPath, 200, R"({"access_token":"access-2","expires_in":3600})");
        answerBoth();
        refresh();
        EXPECT_EQ(store->status(), Status::ok());
        EXPECT_TRUE(!c.saveFails || sessions->tokens->accessToken == "access-2") << "saved by the next refresh";
    }
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
            transport->released = false;
            transport->respondTo(tokenPath, 200, renewedTokens, renewing);
            transport->respondTo(balancePath, 200, R"({"account_balance_micros_usd":12})", !renewing);
            transport->respondTo(usagePath, 200, R"({})");
            std::stop_source stopSource;
            auto inFlight = store->refresh(stopSource.get_token());
            if (!renewing) {
                EXPECT_TRUE(waitForTask(store->refresh(), 1s).ok()) << "an overlapping refresh returns at once";
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
            transport->released = rotationKept;
            EXPECT_TRUE(waitForTask(std::move(inFlight), 5s).ok()) << "ended without the held answer";
            EXPECT_EQ(transport->cancelled, cancelled += !rotationKept);
            EXPECT_EQ(store->snapshot(), std::nullopt);
            EXPECT_FALSE(QFileInfo::exists(cache.filePath()));
            EXPECT_EQ(store->lastError(), std::nullopt);
            EXPECT_FALSE(store->isRefreshing());
            if (action == signOut) {
                EXPECT_EQ(sessions->tokens, std::nullopt) << "a renewal never brings a signed-out session back";
            } else if (rotationKept) {
                EXPECT_EQ(sessions->tokens->accessToken, "access-2");
            }
            EXPECT_EQ(transport->requests.size(), renewing ? 1u : 2u) << "none after a renewal, none overlapping";
            transport->routes.clear();
            transport->requests.clear();
            store->setClient(VelmoClient(QUrl("https://api.test"), store->client().http()));
        }
    }
}

// A refresh without a credential keeps the cached figures; loadCache only
// fills an empty store.
TEST_F(UsageStoreTest, TheCachedFiguresStayUntilReplaced)
{
    cache.save(old);
    store->loadCache();
    refresh();
    EXPECT_EQ(store->snapshot(), old);
    const Snapshot shown { .fetchedAt = clock - 1800s };
    store->setSnapshot(shown);
    store->loadCache();
    EXPECT_EQ(store->snapshot(), shown);
}

} // namespace
