#include "TokenCoordinator.h"

#include "CancellableSleep.h"
#include "Cancellation.h"
#include "IdentityProvider.h"
#include "NetworkError.h"

#include "AsyncWait.h"
#include "CLITestSupport.h"
#include "FakeCredentialStore.h"
#include "TestSupport.h"

#include <QDir>
#include <QTimer>

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
        maxInFlight = std::max(maxInFlight, ++inFlight);
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
const QByteArray renewed = R"({"access_token":"access-2","expires_in":3600})";

StoredTokens session(std::string token, std::optional<double> expiresAt)
{
    return StoredTokens { .accessToken = std::move(token), .refreshToken = "refresh-1", .expiresAt = expiresAt, .clientId = "client-1" };
}

Credential app(const StoredTokens& tokens) { return *tokens.credential(CredentialSource::app); }
Credential cli(const StoredTokens& tokens) { return *tokens.credential(CredentialSource::cliTokens); }

class TokenCoordinatorTest : public testing::Test {
protected:
    TokenCoordinator coordinator(double lockTimeout = 5.0)
    {
        return TokenCoordinator(store, reader, HTTPClient(transport, 1, 0.3, 30.0), QUrl("https://auth.example.test/base/"),
            lockTimeout, [] { return now; });
    }
    // Both entry points, for rules that hold for either.
    template <typename Check>
    void forBoth(const Credential& credential, Check check)
    {
        for (bool forced : { false, true }) {
            SCOPED_TRACE(forced ? "refreshAfterUnauthorized" : "refreshIfNeeded");
            auto task = forced ? coordinator().refreshAfterUnauthorized(credential) : coordinator().refreshIfNeeded(credential);
            auto outcome = waitForTask(std::move(task));
            ASSERT_TRUE(outcome.ok()) << outcome.errorText();
            check(*outcome.value);
        }
    }
    std::string failure(const Credential& credential)
    {
        auto outcome = waitForTask(coordinator().refreshIfNeeded(credential));
        EXPECT_FALSE(outcome.ok());
        EXPECT_FALSE(outcome.timedOut);
        return outcome.errorText();
    }
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

} // namespace

TEST(IdentityProviderTest, BaseURLAndOverride)
{
    qputenv("VELMO_AUTH_URL", "http://127.0.0.1:8123");
    EXPECT_EQ(IdentityProvider::baseURL(), QUrl("http://127.0.0.1:8123"));
    qputenv("VELMO_AUTH_URL", "not a url");
    EXPECT_EQ(IdentityProvider::baseURL(), QUrl(IdentityProvider::productionBaseURL));
    qunsetenv("VELMO_AUTH_URL");
    EXPECT_EQ(IdentityProvider::appending(QUrl("https://a.test/x//"), "oauth/token"), QUrl("https://a.test/x/oauth/token"));
}

TEST_F(TokenCoordinatorTest, NothingToRenewGivesNothing)
{
    // No refresh data in the credential.
    forBoth(Credential { .token = "t", .source = CredentialSource::app }, [](auto value) { EXPECT_EQ(value, std::nullopt); });
    EXPECT_EQ(store->loads, 0);
    // Signed out meanwhile: the app record was deleted.
    forBoth(app(session("access-1", nowMillis)), [](auto value) { EXPECT_EQ(value, std::nullopt); });
    // The stored record lost its refresh data.
    store->tokens = StoredTokens { .accessToken = "access-1" };
    forBoth(app(session("access-1", nowMillis)), [](auto value) { EXPECT_EQ(value, std::nullopt); });
    // The tool's file was removed.
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(reader.velmoDirectory())));
    forBoth(cli(session("access-1", nowMillis)), [](auto value) { EXPECT_EQ(value, std::nullopt); });
    EXPECT_TRUE(transport->requests.empty());
}

TEST_F(TokenCoordinatorTest, ExpiringAppSessionIsRenewedAndSavedWhole)
{
    store->tokens = session("access-1", nowMillis + 30'000);
    transport->replies.push_back({ .body = R"({"access_token":" access-2\n","expires_in":3600,"token_type":"bearer"})" });
    auto outcome = waitForTask(coordinator().refreshIfNeeded(app(*store->tokens)));
    ASSERT_TRUE(outcome.ok()) << outcome.errorText();

    ASSERT_EQ(transport->requests.size(), 1u);
    const HTTPRequest& request = transport->requests.front();
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.url, QUrl("https://auth.example.test/base/oauth/token"));
    EXPECT_EQ(request.headers, (QList<QPair<QByteArray, QByteArray>> { { "Content-Type", "application/x-www-form-urlencoded" } }));
    EXPECT_EQ(request.body, "client_id=client-1&grant_type=refresh_token&refresh_token=refresh-1");

    // No new refresh token: the one that was sent stays; expiry in milliseconds.
    const StoredTokens expected = session("access-2", nowMillis + 3'600'000);
    EXPECT_EQ(store->tokens, expected);
    EXPECT_EQ(*outcome.value, expected.credential(CredentialSource::app));

    // A rotated refresh token is kept, trimmed; a record without expiry is renewed too.
    store->tokens = session("access-1", std::nullopt);
    transport->replies.push_back({ .body = R"({"access_token":"access-2","refresh_token":" refresh-2 \n","expires_in":59.5})" });
    outcome = waitForTask(coordinator().refreshIfNeeded(app(*store->tokens)));
    ASSERT_TRUE(outcome.ok()) << outcome.errorText();
    EXPECT_EQ(store->tokens->refreshToken, "refresh-2");
    EXPECT_EQ(store->tokens->expiresAt, nowMillis + 59'500);
}

TEST_F(TokenCoordinatorTest, ValidSessionIsOnlyRenewedWhenForced)
{
    // 61 s left is still valid; 60 s would not be.
    store->tokens = session("access-1", nowMillis + 61'000);
    const Credential credential = app(*store->tokens);
    auto unforced = waitForTask(coordinator().refreshIfNeeded(credential));
    ASSERT_TRUE(unforced.ok()) << unforced.errorText();
    EXPECT_EQ(*unforced.value, credential);
    EXPECT_TRUE(transport->requests.empty());

    transport->replies.push_back({ .body = renewed });
    auto forced = waitForTask(coordinator().refreshAfterUnauthorized(credential));
    ASSERT_TRUE(forced.ok()) << forced.errorText();
    EXPECT_EQ(transport->requests.size(), 1u);
    EXPECT_EQ((*forced.value)->token, "access-2");
}

TEST_F(TokenCoordinatorTest, NewerTokenWinsWithoutARequest)
{
    // The app record changed behind the caller's back.
    store->tokens = session("access-1", nowMillis + 10);
    forBoth(app(session("access-0", nowMillis)),
        [&](auto value) { EXPECT_EQ(value, store->tokens->credential(CredentialSource::app)); });
    EXPECT_EQ(store->saves, 0);

    // The tool rotated tokens.json.
    putCLITokens(session("access-1", nowMillis));
    forBoth(cli(session("access-0", nowMillis)), [](auto value) {
        ASSERT_TRUE(value);
        EXPECT_EQ(value->token, "access-1");
        EXPECT_EQ(value->source, CredentialSource::cliTokens);
    });
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
    EXPECT_EQ(VelmoJSON::decode<StoredTokens>(velmo::test::readAll(reader.tokensFile()).toStdString()),
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
             R"({"access_token":" \n\t","expires_in":3600})",
             R"({"access_token":"sk-live-1","expires_in":3600})",
             R"({"access_token":"access-2","expires_in":1e308})",
             "<html>OK</html>",
         }) {
        store->tokens = original;
        transport->replies.push_back({ .body = body });
        EXPECT_EQ(failure(app(original)), "Clerk returned an incomplete refresh response") << body;
        EXPECT_EQ(store->tokens, original) << body;
    }
    EXPECT_EQ(store->saves, 0);
}

TEST_F(TokenCoordinatorTest, FailedRefreshesStoreNothingAndDoNotBlockTheGate)
{
    store->tokens = session("access-1", nowMillis);
    transport->replies.push_back({ .status = 400, .body = R"({"error":"invalid_grant","error_description":"reused"})" });
    transport->replies.push_back({ .status = 401, .body = R"({"error":{"message":"token revoked"}})" });
    // A network failure is not retried: the next reply stays unused.
    transport->replies.push_back({ .failure = NetworkError(NetworkError::Code::timedOut, "Operation timed out") });
    EXPECT_EQ(failure(app(*store->tokens)), "Session refresh failed: invalid_grant");
    EXPECT_EQ(failure(app(*store->tokens)), "Session refresh failed: token revoked");
    EXPECT_EQ(failure(app(*store->tokens)), "Session refresh failed: Operation timed out");
    EXPECT_EQ(store->saves, 0);

    transport->replies.push_back({ .body = renewed });
    auto retried = waitForTask(coordinator().refreshIfNeeded(app(*store->tokens)));
    ASSERT_TRUE(retried.ok()) << retried.errorText();
    EXPECT_EQ(store->tokens->accessToken, "access-2");
    EXPECT_EQ(transport->requests.size(), 4u);
}

TEST_F(TokenCoordinatorTest, PersistenceFailuresLeaveTheOldRecord)
{
    const StoredTokens original = session("access-1", nowMillis);
    store->tokens = original;
    store->failLoad = true;
    EXPECT_EQ(failure(app(original)),
        "Could not save the refreshed session: cannot read the Keychain session: The desktop keyring is locked");
    EXPECT_TRUE(transport->requests.empty());

    store->failLoad = false;
    store->failSave = true;
    transport->replies.push_back({ .body = renewed });
    EXPECT_EQ(failure(app(original)), "Could not save the refreshed session: keyring write refused");
    EXPECT_EQ(store->tokens, original);

    // tokens.json is unusable: nothing is sent.
    putCLITokens(StoredTokens { .accessToken = "  sk-live-9" });
    EXPECT_EQ(failure(cli(original)),
        "Could not save the refreshed session: cannot read ~/.velmo/tokens.json: velmo CLI is using an API key, not a sign-in; run `velmo login`");
    EXPECT_EQ(transport->requests.size(), 1u);

    // The new record cannot be written: the old file stays as it was.
    putCLITokens(original);
    const QByteArray before = velmo::test::readAll(reader.tokensFile());
    transport->replies.push_back({ .body = R"({"access_token":"access-2-which-is-longer","expires_in":3600})" });
    std::string error;
    {
        velmo::test::FileSizeLimit limit(static_cast<rlim_t>(before.size()));
        error = failure(cli(original));
    }
    EXPECT_TRUE(error.starts_with("Could not save the refreshed session: cannot write tokens.json.")) << error;
    EXPECT_EQ(velmo::test::readAll(reader.tokensFile()), before);
    EXPECT_TRUE(velmo::test::temporaryFiles(reader.velmoDirectory()).isEmpty());
    EXPECT_FALSE(lockExists());
}

TEST_F(TokenCoordinatorTest, ConcurrentCallsRefreshOnce)
{
    store->tokens = session("access-1", nowMillis);
    transport->latency = 30ms;
    transport->replies.push_back({ .body = renewed });
    const TokenCoordinator shared = coordinator();
    const TokenCoordinator copy = shared; // copies share the gate
    const Credential expiring = app(*store->tokens);
    auto both = [&]() -> QCoro::Task<std::pair<std::optional<Credential>, std::optional<Credential>>> {
        auto first = shared.refreshIfNeeded(expiring);
        auto second = copy.refreshIfNeeded(expiring);
        auto a = co_await std::move(first);
        co_return std::pair { a, co_await std::move(second) };
    };
    auto outcome = waitForTask(both());
    ASSERT_TRUE(outcome.ok()) << outcome.errorText();
    EXPECT_EQ(transport->requests.size(), 1u);
    EXPECT_EQ(transport->maxInFlight, 1);
    ASSERT_TRUE(outcome.value->first);
    EXPECT_EQ(outcome.value->first->token, "access-2");
    EXPECT_EQ(outcome.value->first, outcome.value->second);
}

TEST(SerialGateTest, RunsInCallOrderAndSurvivesFailuresAndCancellation)
{
    SerialGate gate;
    std::stop_source stop;
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
        auto cancelled = gate.run<int>(op("cancelled", false), stop.get_token());
        auto b = gate.run<int>(op("b", false));
        stop.request_stop();
        std::vector<std::string> results;
        for (auto* task : { &a, &cancelled }) {
            try {
                co_await std::move(*task);
            } catch (const std::exception& error) {
                results.push_back(error.what());
            }
        }
        results.push_back(std::to_string(co_await std::move(b)));
        co_return results;
    };
    auto outcome = waitForTask(all());
    ASSERT_TRUE(outcome.ok()) << outcome.errorText();
    EXPECT_EQ(*outcome.value, (std::vector<std::string> { "a failed", "Cancelled", "1" }));
    EXPECT_EQ(events, (std::vector<std::string> { "a start", "a end", "b start", "b end" }));
    EXPECT_EQ(gate.pending(), 0u);
}

TEST_F(TokenCoordinatorTest, CancellationDuringTheRequestStoresNothingAndReleasesTheLock)
{
    putCLITokens(session("access-1", nowMillis));
    const QByteArray before = velmo::test::readAll(reader.tokensFile());
    transport->latency = 5s;
    transport->replies.push_back({ .body = renewed });
    std::stop_source stop;
    QTimer::singleShot(50ms, [&] { stop.request_stop(); });
    auto outcome = waitForTask(coordinator().refreshIfNeeded(cli(session("access-1", nowMillis)), stop.get_token()));
    EXPECT_FALSE(outcome.timedOut);
    EXPECT_THROW(outcome.rethrow(), CancellationError);
    EXPECT_EQ(velmo::test::readAll(reader.tokensFile()), before);
    EXPECT_FALSE(lockExists());
}
