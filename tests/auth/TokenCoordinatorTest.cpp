#include "TokenCoordinator.h"

#include "CancellableSleep.h"
#include "Cancellation.h"
#include "FormEncoding.h"
#include "IdentityProvider.h"
#include "NetworkError.h"

#include "AsyncWait.h"
#include "CLITestSupport.h"
#include "FakeCredentialStore.h"
#include "TestSupport.h"

#include <QDir>
#include <QTimer>
#include <QUrlQuery>

#include <gtest/gtest.h>

#include <deque>
#include <sys/stat.h>

using namespace std::chrono_literals;
using velmo::test::waitForTask;

namespace {

// Answers requests from a script; each answer may take a while, so that
// overlapping refreshes would show.
class FakeTransport final : public HTTPTransport {
public:
    struct Reply {
        int status = 200;
        QByteArray body;
        std::optional<NetworkError> failure;
    };
    std::vector<HTTPRequest> requests;
    std::deque<Reply> replies;
    std::chrono::milliseconds latency { 0 };
    int inFlight = 0;
    int maxInFlight = 0;

    QCoro::Task<HTTPResponse> send(HTTPRequest request, std::stop_token stop) override
    {
        requests.push_back(request);
        ++inFlight;
        maxInFlight = std::max(maxInFlight, inFlight);
        struct Leave {
            int& count;
            ~Leave() { --count; }
        } leave { inFlight };
        if (latency.count() > 0)
            co_await cancellableSleep(latency, stop);
        throwIfCancelled(stop);
        if (replies.empty())
            throw NetworkError(NetworkError::Code::cannotConnect, "no reply scripted");
        const Reply reply = replies.front();
        replies.pop_front();
        if (reply.failure)
            throw *reply.failure;
        co_return HTTPResponse { .status = reply.status, .data = reply.body };
    }
};

const Timestamp now = Timestamp(std::chrono::seconds(1'700'000'000));
const double nowMillis = 1'700'000'000'000.0;

StoredTokens session(std::string token, std::optional<double> expiresAt)
{
    return StoredTokens { .accessToken = std::move(token), .refreshToken = "refresh-1", .expiresAt = expiresAt, .clientId = "client-1" };
}

class TokenCoordinatorTest : public testing::Test {
protected:
    TokenCoordinator coordinator(double lockTimeout = 5.0)
    {
        return TokenCoordinator(store, reader, HTTPClient(transport, 1, 0.3, 30.0), QUrl("https://auth.example.test/base/"),
            lockTimeout, [] { return now; });
    }
    Credential appCredential(const StoredTokens& tokens) { return *tokens.credential(CredentialSource::app); }
    Credential cliCredential(const StoredTokens& tokens) { return *tokens.credential(CredentialSource::cliTokens); }
    void putCLITokens(const StoredTokens& tokens)
    {
        ASSERT_TRUE(QDir().mkpath(QString::fromStdString(reader.velmoDirectory())));
        reader.write(tokens);
    }
    bool lockExists()
    {
        struct stat info { };
        return ::stat(reader.lockDirectory().c_str(), &info) == 0;
    }

    std::shared_ptr<FakeTransport> transport = std::make_shared<FakeTransport>();
    std::shared_ptr<velmo::test::FakeCredentialStore> store = std::make_shared<velmo::test::FakeCredentialStore>();
    velmo::test::ScratchDir home;
    CLICredentialReader reader { home.path().toStdString() };
};

template <typename T>
std::string errorOf(const velmo::test::TaskOutcome<T>& outcome)
{
    EXPECT_FALSE(outcome.timedOut);
    EXPECT_FALSE(outcome.ok());
    return outcome.errorText();
}

} // namespace

TEST(FormEncodingTest, SortedAndPercentEncoded)
{
    EXPECT_EQ(TokenCoordinator::formEncode({ { "grant_type", "refresh_token" }, { "refresh_token", "r/1+2 =&" }, { "client_id", "c~-._9Z" } }),
        "client_id=c~-._9Z&grant_type=refresh_token&refresh_token=r%2F1%2B2%20%3D%26");
    EXPECT_EQ(FormEncoding::encode({ { "b", "\xC3\xA9" }, { "a", "" }, { "B", "\n" } }), "B=%0A&a=&b=%C3%A9");
    EXPECT_EQ(FormEncoding::encode({}), "");
}

TEST(IdentityProviderTest, BaseURLAndOverride)
{
    qunsetenv("VELMO_AUTH_URL");
    EXPECT_EQ(IdentityProvider::baseURL(), QUrl(IdentityProvider::productionBaseURL));
    EXPECT_EQ(IdentityProvider::baseURL().scheme(), "https");
    qputenv("VELMO_AUTH_URL", "http://127.0.0.1:8123");
    EXPECT_EQ(IdentityProvider::baseURL(), QUrl("http://127.0.0.1:8123"));
    qputenv("VELMO_AUTH_URL", "not a url");
    EXPECT_EQ(IdentityProvider::baseURL(), QUrl(IdentityProvider::productionBaseURL));
    qunsetenv("VELMO_AUTH_URL");
    EXPECT_EQ(IdentityProvider::appending(QUrl("https://a.test"), "oauth/token"), QUrl("https://a.test/oauth/token"));
    EXPECT_EQ(IdentityProvider::appending(QUrl("https://a.test/x//"), "oauth/token"), QUrl("https://a.test/x/oauth/token"));
}

TEST_F(TokenCoordinatorTest, WithoutRefreshDataNothingHappens)
{
    const Credential bare { .token = "t", .source = CredentialSource::app };
    for (bool forced : { false, true }) {
        auto task = forced ? coordinator().refreshAfterUnauthorized(bare) : coordinator().refreshIfNeeded(bare);
        auto outcome = waitForTask(std::move(task));
        ASSERT_TRUE(outcome.ok()) << outcome.errorText();
        EXPECT_EQ(*outcome.value, std::nullopt);
    }
    EXPECT_EQ(store->loads, 0);
    EXPECT_TRUE(transport->requests.empty());
}

TEST_F(TokenCoordinatorTest, ExpiringAppSessionIsRenewedAndSavedWhole)
{
    store->tokens = session("access-1", nowMillis + 30'000);
    transport->replies.push_back({ .body = R"({"access_token":" access-2\n","expires_in":3600,"token_type":"bearer"})" });
    auto outcome = waitForTask(coordinator().refreshIfNeeded(appCredential(*store->tokens)));
    ASSERT_TRUE(outcome.ok()) << outcome.errorText();

    ASSERT_EQ(transport->requests.size(), 1u);
    const HTTPRequest& request = transport->requests.front();
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.url, QUrl("https://auth.example.test/base/oauth/token"));
    EXPECT_EQ(request.headers, (QList<QPair<QByteArray, QByteArray>> { { "Content-Type", "application/x-www-form-urlencoded" } }));
    EXPECT_EQ(request.body, "client_id=client-1&grant_type=refresh_token&refresh_token=refresh-1");
    // The client's own timeout replaces the request's.
    EXPECT_EQ(request.timeout, 30s);

    // No new refresh token: the one that was sent stays; expiry one hour
    // ahead, in milliseconds.
    const StoredTokens expected = session("access-2", nowMillis + 3'600'000);
    EXPECT_EQ(store->tokens, expected);
    EXPECT_EQ(*outcome.value, expected.credential(CredentialSource::app));
}

TEST_F(TokenCoordinatorTest, RotatedRefreshTokenIsKeptTrimmed)
{
    store->tokens = session("access-1", std::nullopt);
    transport->replies.push_back({ .body = R"({"access_token":"access-2","refresh_token":" refresh-2 \n","expires_in":59.5})" });
    // A stored record without expiry is renewed too.
    auto outcome = waitForTask(coordinator().refreshIfNeeded(appCredential(*store->tokens)));
    ASSERT_TRUE(outcome.ok()) << outcome.errorText();
    EXPECT_EQ(store->tokens->refreshToken, "refresh-2");
    EXPECT_EQ(store->tokens->expiresAt, nowMillis + 59'500);
    EXPECT_EQ((*outcome.value)->refreshToken, "refresh-2");
}

TEST_F(TokenCoordinatorTest, ValidSessionIsOnlyRenewedWhenForced)
{
    store->tokens = session("access-1", nowMillis + 600'000);
    const Credential credential = appCredential(*store->tokens);
    auto unforced = waitForTask(coordinator().refreshIfNeeded(credential));
    ASSERT_TRUE(unforced.ok()) << unforced.errorText();
    EXPECT_EQ(*unforced.value, credential);
    EXPECT_TRUE(transport->requests.empty());
    // 61 s left is still valid; 60 s is not.
    store->tokens = session("access-1", nowMillis + 61'000);
    EXPECT_TRUE(waitForTask(coordinator().refreshIfNeeded(appCredential(*store->tokens))).ok());
    EXPECT_TRUE(transport->requests.empty());

    store->tokens = session("access-1", nowMillis + 600'000);
    transport->replies.push_back({ .body = R"({"access_token":"access-2","expires_in":3600})" });
    auto forced = waitForTask(coordinator().refreshAfterUnauthorized(credential));
    ASSERT_TRUE(forced.ok()) << forced.errorText();
    EXPECT_EQ(transport->requests.size(), 1u);
    EXPECT_EQ((*forced.value)->token, "access-2");
}

TEST_F(TokenCoordinatorTest, NewerStoredTokenWinsWithoutARequest)
{
    const Credential old = appCredential(session("access-0", nowMillis));
    store->tokens = session("access-1", nowMillis + 10);
    for (bool forced : { false, true }) {
        auto task = forced ? coordinator().refreshAfterUnauthorized(old) : coordinator().refreshIfNeeded(old);
        auto outcome = waitForTask(std::move(task));
        ASSERT_TRUE(outcome.ok()) << outcome.errorText();
        EXPECT_EQ(*outcome.value, store->tokens->credential(CredentialSource::app));
    }
    EXPECT_TRUE(transport->requests.empty());
    EXPECT_EQ(store->saves, 0);
}

TEST_F(TokenCoordinatorTest, NewerCLITokenWinsWithoutARequest)
{
    const Credential old = cliCredential(session("access-0", nowMillis));
    putCLITokens(session("access-1", nowMillis));
    for (bool forced : { false, true }) {
        auto task = forced ? coordinator().refreshAfterUnauthorized(old) : coordinator().refreshIfNeeded(old);
        auto outcome = waitForTask(std::move(task));
        ASSERT_TRUE(outcome.ok()) << outcome.errorText();
        ASSERT_TRUE(*outcome.value);
        EXPECT_EQ((*outcome.value)->token, "access-1");
        EXPECT_EQ((*outcome.value)->source, CredentialSource::cliTokens);
    }
    EXPECT_TRUE(transport->requests.empty());
    EXPECT_FALSE(lockExists());
}

TEST_F(TokenCoordinatorTest, CLISessionIsRenewedIntoTheToolsFile)
{
    putCLITokens(session("access-1", nowMillis + 1'000));
    transport->replies.push_back({ .body = R"({"access_token":"access-2","refresh_token":"refresh-2","expires_in":3600})" });
    auto outcome = waitForTask(coordinator().refreshIfNeeded(*reader.readDetailed()));
    ASSERT_TRUE(outcome.ok()) << outcome.errorText();
    ASSERT_TRUE(*outcome.value);
    EXPECT_EQ((*outcome.value)->source, CredentialSource::cliTokens);
    const QByteArray file = velmo::test::readAll(reader.tokensFile());
    EXPECT_TRUE(file.endsWith("}\n"));
    EXPECT_EQ(VelmoJSON::decode<StoredTokens>(file.toStdString()),
        (StoredTokens { .accessToken = "access-2", .refreshToken = "refresh-2", .expiresAt = nowMillis + 3'600'000, .clientId = "client-1" }));
    EXPECT_EQ(velmo::test::fileMode(reader.tokensFile()), 0600u);
    EXPECT_EQ(velmo::test::readAll(reader.keyFile()), "access-2\n");
    EXPECT_EQ(store->loads, 0);
    EXPECT_FALSE(lockExists());
}

TEST_F(TokenCoordinatorTest, IncompleteRepliesStoreNothing)
{
    const StoredTokens original = session("access-1", nowMillis);
    for (const char* body : {
             R"({"access_token":"access-2","expires_in":-1})",
             R"({"access_token":"access-2"})",
             R"({"access_token":"access-2","expires_in":"3600"})",
             R"({"access_token":"access-2","expires_in":null})",
             R"({"access_token":" \n\t","expires_in":3600})",
             R"({"access_token":null,"expires_in":3600})",
             R"({"expires_in":3600})",
             R"({"access_token":"sk-live-1","expires_in":3600})",
             R"({"access_token":"access-2","expires_in":1e308})",
             R"({"access_token":"access-2","refresh_token":5,"expires_in":3600})",
             R"([{"access_token":"access-2","expires_in":3600}])",
             "<html>OK</html>",
             "",
         }) {
        store->tokens = original;
        transport->replies.push_back({ .body = body });
        auto outcome = waitForTask(coordinator().refreshAfterUnauthorized(appCredential(original)));
        EXPECT_EQ(errorOf(outcome), "Clerk returned an incomplete refresh response") << body;
        EXPECT_EQ(store->tokens, original) << body;
    }
    EXPECT_EQ(store->saves, 0);
}

TEST_F(TokenCoordinatorTest, RejectedRefreshStoresNothingAndDoesNotBlockTheGate)
{
    store->tokens = session("access-1", nowMillis);
    const TokenCoordinator shared = coordinator();
    transport->replies.push_back({ .status = 400, .body = R"({"error":"invalid_grant","error_description":"reused"})" });
    auto first = waitForTask(shared.refreshIfNeeded(appCredential(*store->tokens)));
    EXPECT_EQ(errorOf(first), "Session refresh failed: invalid_grant");
    EXPECT_EQ(store->saves, 0);

    transport->replies.push_back({ .status = 502, .body = "  <h1>Bad gateway</h1>\n" });
    transport->replies.push_back({ .status = 401, .body = R"({"error":{"message":"token revoked"}})" });
    transport->replies.push_back({ .status = 302, .body = "" });
    EXPECT_EQ(errorOf(waitForTask(shared.refreshIfNeeded(appCredential(*store->tokens)))), "Session refresh failed: <h1>Bad gateway</h1>");
    EXPECT_EQ(errorOf(waitForTask(shared.refreshIfNeeded(appCredential(*store->tokens)))), "Session refresh failed: token revoked");
    EXPECT_EQ(errorOf(waitForTask(shared.refreshIfNeeded(appCredential(*store->tokens)))), "Session refresh failed: HTTP 302");

    transport->replies.push_back({ .body = R"({"access_token":"access-2","expires_in":3600})" });
    auto retried = waitForTask(shared.refreshIfNeeded(appCredential(*store->tokens)));
    ASSERT_TRUE(retried.ok()) << retried.errorText();
    EXPECT_EQ(store->tokens->accessToken, "access-2");
}

TEST_F(TokenCoordinatorTest, NetworkFailureIsNotRetried)
{
    store->tokens = session("access-1", nowMillis);
    transport->replies.push_back({ .failure = NetworkError(NetworkError::Code::timedOut, "Operation timed out") });
    transport->replies.push_back({ .body = R"({"access_token":"access-2","expires_in":3600})" });
    auto outcome = waitForTask(coordinator().refreshIfNeeded(appCredential(*store->tokens)));
    EXPECT_EQ(errorOf(outcome), "Session refresh failed: Operation timed out");
    EXPECT_EQ(transport->requests.size(), 1u);
    EXPECT_EQ(store->saves, 0);
}

TEST_F(TokenCoordinatorTest, PersistenceFailures)
{
    const StoredTokens original = session("access-1", nowMillis);
    store->tokens = original;
    store->failLoad = true;
    EXPECT_EQ(errorOf(waitForTask(coordinator().refreshIfNeeded(appCredential(original)))),
        "Could not save the refreshed session: cannot read the Keychain session: The desktop keyring is locked");
    EXPECT_TRUE(transport->requests.empty());

    store->failLoad = false;
    store->failSave = true;
    transport->replies.push_back({ .body = R"({"access_token":"access-2","expires_in":3600})" });
    EXPECT_EQ(errorOf(waitForTask(coordinator().refreshIfNeeded(appCredential(original)))),
        "Could not save the refreshed session: keyring write refused");
    EXPECT_EQ(store->tokens, original);
}

TEST_F(TokenCoordinatorTest, CLIPersistenceFailures)
{
    putCLITokens(StoredTokens { .accessToken = "  sk-live-9" });
    const Credential old = cliCredential(session("access-1", nowMillis));
    EXPECT_EQ(errorOf(waitForTask(coordinator().refreshIfNeeded(old))),
        "Could not save the refreshed session: cannot read ~/.velmo/tokens.json: velmo CLI is using an API key, not a sign-in; run `velmo login`");
    putCLITokens(StoredTokens { .accessToken = "\n" });
    EXPECT_EQ(errorOf(waitForTask(coordinator().refreshIfNeeded(old))),
        "Could not save the refreshed session: cannot read ~/.velmo/tokens.json: tokens.json contains an empty access token");
    EXPECT_TRUE(transport->requests.empty());
    EXPECT_FALSE(lockExists());

    // The new record cannot be written: the old file stays as it was.
    putCLITokens(session("access-1", nowMillis));
    const QByteArray before = velmo::test::readAll(reader.tokensFile());
    transport->replies.push_back({ .body = R"({"access_token":"access-2-which-is-longer","expires_in":3600})" });
    velmo::test::TaskOutcome<std::optional<Credential>> outcome;
    {
        velmo::test::FileSizeLimit limit(static_cast<rlim_t>(before.size()));
        outcome = waitForTask(coordinator().refreshIfNeeded(old));
    }
    EXPECT_TRUE(errorOf(outcome).starts_with("Could not save the refreshed session: cannot write tokens.json.")) << outcome.errorText();
    EXPECT_EQ(velmo::test::readAll(reader.tokensFile()), before);
    EXPECT_TRUE(velmo::test::temporaryFiles(reader.velmoDirectory()).isEmpty());
    EXPECT_FALSE(lockExists());
}

TEST_F(TokenCoordinatorTest, GoneSessionsGiveNothing)
{
    // Signed out: the app record was deleted.
    auto signedOut = waitForTask(coordinator().refreshAfterUnauthorized(appCredential(session("access-1", nowMillis))));
    ASSERT_TRUE(signedOut.ok()) << signedOut.errorText();
    EXPECT_EQ(*signedOut.value, std::nullopt);
    // The tool's file was removed.
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(reader.velmoDirectory())));
    auto removed = waitForTask(coordinator().refreshIfNeeded(cliCredential(session("access-1", nowMillis))));
    ASSERT_TRUE(removed.ok()) << removed.errorText();
    EXPECT_EQ(*removed.value, std::nullopt);
    // The stored record lost its refresh data.
    store->tokens = StoredTokens { .accessToken = "access-1" };
    auto bare = waitForTask(coordinator().refreshIfNeeded(appCredential(session("access-1", nowMillis))));
    ASSERT_TRUE(bare.ok()) << bare.errorText();
    EXPECT_EQ(*bare.value, std::nullopt);
    EXPECT_TRUE(transport->requests.empty());
}

TEST_F(TokenCoordinatorTest, ConcurrentCallsRefreshOnceInCallOrder)
{
    store->tokens = session("access-1", nowMillis);
    transport->latency = 30ms;
    transport->replies.push_back({ .body = R"({"access_token":"access-2","expires_in":3600})" });
    const TokenCoordinator shared = coordinator();
    const TokenCoordinator copy = shared; // copies share the gate
    const Credential expiring = appCredential(*store->tokens);
    std::vector<int> finished;
    auto both = [&]() -> QCoro::Task<std::vector<std::optional<Credential>>> {
        auto tagged = [&](TokenCoordinator c, int tag) -> QCoro::Task<std::optional<Credential>> {
            auto refreshing = c.refreshIfNeeded(expiring);
            auto result = co_await std::move(refreshing);
            finished.push_back(tag);
            co_return result;
        };
        auto first = tagged(shared, 1);
        auto second = tagged(copy, 2);
        std::vector<std::optional<Credential>> results;
        results.push_back(co_await std::move(first));
        results.push_back(co_await std::move(second));
        co_return results;
    };
    auto outcome = waitForTask(both());
    ASSERT_TRUE(outcome.ok()) << outcome.errorText();
    EXPECT_EQ(transport->requests.size(), 1u);
    EXPECT_EQ(transport->maxInFlight, 1);
    EXPECT_EQ(finished, (std::vector<int> { 1, 2 }));
    ASSERT_TRUE((*outcome.value)[0] && (*outcome.value)[1]);
    EXPECT_EQ((*outcome.value)[0]->token, "access-2");
    EXPECT_EQ((*outcome.value)[0], (*outcome.value)[1]);
}

TEST_F(TokenCoordinatorTest, GateRunsInCallOrderAndSurvivesFailures)
{
    SerialGate gate;
    std::vector<std::string> events;
    auto op = [&](std::string name, bool fail) {
        return [&events, name, fail]() -> QCoro::Task<int> {
            events.push_back(name + " start");
            co_await cancellableSleep(10ms, {});
            events.push_back(name + " end");
            if (fail)
                throw std::runtime_error(name + " failed");
            co_return 1;
        };
    };
    auto all = [&]() -> QCoro::Task<std::vector<std::string>> {
        auto a = gate.run<int>(op("a", true));
        auto b = gate.run<int>(op("b", false));
        auto c = gate.run<int>(op("c", false));
        std::vector<std::string> results;
        try {
            co_await std::move(a);
        } catch (const std::exception& error) {
            results.push_back(error.what());
        }
        results.push_back(std::to_string(co_await std::move(b)));
        results.push_back(std::to_string(co_await std::move(c)));
        co_return results;
    };
    auto outcome = waitForTask(all());
    ASSERT_TRUE(outcome.ok()) << outcome.errorText();
    EXPECT_EQ(*outcome.value, (std::vector<std::string> { "a failed", "1", "1" }));
    EXPECT_EQ(events, (std::vector<std::string> { "a start", "a end", "b start", "b end", "c start", "c end" }));
    EXPECT_EQ(gate.pending(), 0u);
}

TEST_F(TokenCoordinatorTest, CancelledWhileQueuedLeavesTheQueueWorking)
{
    SerialGate gate;
    std::stop_source stop;
    std::vector<std::string> events;
    auto all = [&]() -> QCoro::Task<std::string> {
        auto slow = gate.run<int>([&]() -> QCoro::Task<int> {
            co_await cancellableSleep(50ms, {});
            events.push_back("slow");
            co_return 1;
        });
        auto cancelled = gate.run<int>([&]() -> QCoro::Task<int> {
            events.push_back("cancelled ran");
            co_return 2;
        }, stop.get_token());
        auto last = gate.run<int>([&]() -> QCoro::Task<int> {
            events.push_back("last");
            co_return 3;
        });
        stop.request_stop();
        std::string result;
        try {
            co_await std::move(cancelled);
        } catch (const CancellationError& error) {
            result = error.what();
        }
        co_await std::move(slow);
        co_await std::move(last);
        co_return result;
    };
    auto outcome = waitForTask(all());
    ASSERT_TRUE(outcome.ok()) << outcome.errorText();
    EXPECT_EQ(*outcome.value, "Cancelled");
    EXPECT_EQ(events, (std::vector<std::string> { "slow", "last" }));
    EXPECT_EQ(gate.pending(), 0u);
}

TEST_F(TokenCoordinatorTest, LockHeldElsewhereTimesOut)
{
    putCLITokens(session("access-1", nowMillis));
    ASSERT_EQ(::mkdir(reader.lockDirectory().c_str(), 0700), 0);
    auto outcome = waitForTask(coordinator(0.3).refreshIfNeeded(cliCredential(session("access-1", nowMillis))));
    EXPECT_EQ(errorOf(outcome), "Timed out waiting for the CLI credential lock");
    EXPECT_TRUE(transport->requests.empty());
    EXPECT_TRUE(lockExists());
}

TEST_F(TokenCoordinatorTest, CancellationDuringTheRequestStoresNothingAndReleasesTheLock)
{
    putCLITokens(session("access-1", nowMillis));
    const QByteArray before = velmo::test::readAll(reader.tokensFile());
    transport->latency = 5s;
    transport->replies.push_back({ .body = R"({"access_token":"access-2","expires_in":3600})" });
    std::stop_source stop;
    QTimer::singleShot(50ms, [&] { stop.request_stop(); });
    auto outcome = waitForTask(coordinator().refreshIfNeeded(cliCredential(session("access-1", nowMillis)), stop.get_token()));
    EXPECT_FALSE(outcome.timedOut);
    EXPECT_THROW(outcome.rethrow(), CancellationError);
    EXPECT_EQ(velmo::test::readAll(reader.tokensFile()), before);
    EXPECT_FALSE(lockExists());
}
