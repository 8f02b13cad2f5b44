#include "TokenCoordinator.h"

#include "Cancellation.h"
#include "FileCredentialStore.h"
#include "IdentityProvider.h"

#include "AsyncWait.h"
#include "FakeCredentialStore.h"
#include "FakeHTTPTransport.h"
#include "TestSupport.h"

#include <QDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

using namespace std::chrono_literals;
using velmo::test::readAll;
using velmo::test::waitForTask;

namespace {

const Timestamp now = Timestamp(std::chrono::seconds(1'700'000'000));
const double nowMillis = 1'700'000'000'000.0;
const QByteArray renewed = R"({"access_token":"access-2","expires_in":3600})";
const QByteArray rotated = R"({"access_token":"access-2","refresh_token":"refresh-2","expires_in":3600})";
const StoredTokens afterRotation { "access-2", "refresh-2", nowMillis + 3'600'000, "client-1" };

StoredTokens session(std::string token, std::optional<double> expiresAt = nowMillis)
{
    return { .accessToken = std::move(token), .refreshToken = "refresh-1", .expiresAt = expiresAt, .clientId = "client-1" };
}
Credential app(const StoredTokens& tokens) { return *tokens.credential(CredentialSource::app); }
Credential cli(const StoredTokens& tokens) { return *tokens.credential(CredentialSource::cliTokens); }

class TokenCoordinatorTest : public testing::Test {
protected:
    TokenCoordinator coordinator(std::shared_ptr<CredentialStoring> into = nullptr, std::optional<CLICredentialReader> cliDir = {}) const
    {
        return TokenCoordinator(into ? into : store, cliDir.value_or(reader), HTTPClient(transport, 1, 0.3, 30.0),
            QUrl("https://auth.example.test/base/"), 5.0, [] { return now; });
    }
    velmo::test::TaskOutcome<std::optional<Credential>> renew(const Credential& credential, bool forced = false)
    {
        const TokenCoordinator c = coordinator();
        return waitForTask(forced ? c.refreshAfterUnauthorized(credential) : c.refreshIfNeeded(credential));
    }
    // Both entry points, for rules that hold for either.
    void forBoth(const Credential& credential, const std::optional<Credential>& expected)
    {
        EXPECT_EQ(*renew(credential).value, expected);
        EXPECT_EQ(*renew(credential, true).value, expected);
    }
    std::size_t requests() const { return transport->requests.size(); }
    static QStringList leftovers(const std::string& file)
    {
        return QDir(QFileInfo(QString::fromStdString(file)).absolutePath()).entryList({ "*.tmp", "*.lock" }, QDir::AllEntries);
    }

    std::shared_ptr<velmo::test::FakeHTTPTransport> transport = std::make_shared<velmo::test::FakeHTTPTransport>();
    std::shared_ptr<velmo::test::FakeCredentialStore> store = std::make_shared<velmo::test::FakeCredentialStore>();
    velmo::test::ScratchDir home;
    CLICredentialReader reader { home.path().toStdString() };
};

} // namespace

// A working override is what every test against the stand-in provider uses.
TEST(IdentityProviderTest, AnInvalidOverrideIsIgnored)
{
    const velmo::test::ScopedEnv invalid("VELMO_AUTH_URL", "not a url");
    EXPECT_EQ(IdentityProvider::baseURL(), QUrl(IdentityProvider::productionBaseURL));
}

TEST_F(TokenCoordinatorTest, NothingToRenewGivesNothingAndANewerStoredSessionWinsWithoutARequest)
{
    // No refresh data in the credential; signed out meanwhile; the record
    // lost its refresh data; the tool's file was removed.
    forBoth(Credential { .token = "t", .source = CredentialSource::app }, std::nullopt);
    EXPECT_EQ(store->loads, 0);
    forBoth(app(session("access-1")), std::nullopt);
    store->tokens = StoredTokens { .accessToken = "access-1" };
    forBoth(app(session("access-1")), std::nullopt);
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(reader.velmoDirectory())));
    forBoth(cli(session("access-1")), std::nullopt);
    // Rotated behind the caller's back, in the app's store or the tool's file.
    store->tokens = session("access-1", nowMillis + 10);
    forBoth(app(session("access-0")), app(*store->tokens));
    reader.write(session("access-1"));
    forBoth(cli(session("access-0")), cli(session("access-1")));
    EXPECT_EQ(requests(), 0u);
    EXPECT_EQ(store->saves, 0);
    EXPECT_EQ(leftovers(reader.tokensFile()), QStringList {});
}

TEST_F(TokenCoordinatorTest, ExpiringSessionIsRenewedAndSavedWholeValidOneOnlyWhenForced)
{
    store->tokens = session("access-1", nowMillis + 30'000);
    transport->respond(200, R"({"access_token":" access-2\n","expires_in":3600,"token_type":"bearer"})");
    // What the request carries is checked by the stand-in provider (BrowserSignInTest).
    auto outcome = renew(app(*store->tokens));
    EXPECT_EQ(transport->requests.at(0).url, QUrl("https://auth.example.test/base/oauth/token"));
    // No new refresh token: the one that was sent stays; expiry in milliseconds.
    EXPECT_EQ(store->tokens, session("access-2", nowMillis + 3'600'000));
    EXPECT_EQ(*outcome.value, app(*store->tokens));
    // A rotated refresh token is kept, trimmed; a record without expiry is renewed too.
    store->tokens = session("access-1", std::nullopt);
    transport->respond(200, R"({"access_token":"access-2","refresh_token":" refresh-2 \n","expires_in":59.5})");
    ASSERT_TRUE(renew(app(*store->tokens)).ok());
    EXPECT_EQ(store->tokens, (StoredTokens { "access-2", "refresh-2", nowMillis + 59'500, "client-1" }));
    // 61 s left is still valid (60 s would not be), unless the API refused it.
    store->tokens = session("access-1", nowMillis + 61'000);
    EXPECT_EQ(*renew(app(*store->tokens)).value, app(*store->tokens));
    EXPECT_EQ(requests(), 2u);
    transport->respond(200, renewed);
    EXPECT_EQ((*renew(app(*store->tokens), true).value)->token, "access-2");
}

TEST_F(TokenCoordinatorTest, SessionsInFilesAreRenewedUnderTheirLockIntoRoomTakenFirst)
{
    auto file = std::make_shared<FileCredentialStore>(home.filePath("data/VelmoUsage/session.json").toStdString());
    const std::tuple<CredentialSource, std::string, const char*> cases[] = {
        { CredentialSource::cliTokens, reader.tokensFile(), "tokens.json.lock" },
        { CredentialSource::app, file->path(), "session.json.lock" },
    };
    for (const auto& [source, path, lock] : cases) {
        SCOPED_TRACE(path);
        const StoredTokens old = session("access-1", nowMillis + 1'000);
        source == CredentialSource::app ? file->save(old) : reader.write(old);
        // The spent refresh token must find room for its successor: else nothing is sent.
        const QByteArray before = readAll(path);
        std::optional<velmo::test::FileSizeLimit> disk(4096);
        EXPECT_EQ(waitForTask(coordinator(file).refreshIfNeeded(*old.credential(source))).errorText(),
            "Could not save the refreshed session: cannot reserve space for " + path.substr(path.rfind('/') + 1) + ": File too large");
        disk.reset();
        EXPECT_EQ(readAll(path), before);
        EXPECT_EQ(leftovers(path), QStringList {});
        std::map<std::string, qint64> duringRequest; // name → size, -1 for the lock folder
        transport->duringRequest = [&, path = path] {
            for (const QFileInfo& entry : QDir(QFileInfo(QString::fromStdString(path)).absolutePath()).entryInfoList({ "*.tmp", "*.lock" }, QDir::AllEntries))
                duringRequest[entry.fileName().toStdString()] = entry.isDir() ? -1 : entry.size();
        };
        transport->respond(200, rotated);
        auto outcome = waitForTask(coordinator(file).refreshIfNeeded(*old.credential(source)));
        EXPECT_EQ(*outcome.value, afterRotation.credential(source));
        EXPECT_EQ(VelmoJSON::decode<StoredTokens>(readAll(path).toStdString()), afterRotation);
        EXPECT_EQ(velmo::test::fileMode(path), 0600u);
        EXPECT_EQ(leftovers(path), QStringList {});
        // Under the lock, with room taken for tokens.json (and key) first.
        ASSERT_EQ(duringRequest.size(), source == CredentialSource::app ? 2u : 3u);
        for (const auto& [name, size] : duringRequest)
            EXPECT_TRUE(size == -1 ? name == lock : size >= 4096) << name << " " << size;
    }
    EXPECT_EQ(readAll(reader.keyFile()), "access-2\n");
    EXPECT_EQ(velmo::test::fileMode(reader.keyFile()), 0600u);
    EXPECT_EQ(store->loads, 0);
    EXPECT_EQ(requests(), 2u);
}

TEST_F(TokenCoordinatorTest, FailuresStoreNothingAndOnlyRefusedGrantsAreCredentialProblems)
{
    store->tokens = session("access-1");
    const std::string failed = "Session refresh failed: ", incomplete = "Clerk returned an incomplete refresh response";
    // status 0: the connection fails
    const struct { int status; QByteArray body; std::string text; bool credentialProblem; } cases[] = {
        { 400, R"({"error":"invalid_grant","error_description":"Refresh token revoked"})", failed + "Refresh token revoked", true },
        { 401, R"({"error":"invalid_client"})", failed + "invalid_client", true },
        { 400, R"({"error":"invalid_request","error_description":"grant_type missing"})", failed + "grant_type missing", false },
        { 401, R"({"error":{"message":"token revoked"}})", failed + "token revoked", false },
        { 503, "", failed + "service unavailable", false },
        // The provider's text reaches the terminal and the log: no escapes.
        { 400, R"({"error":"invalid_grant","error_description":"gone\u001b]0;pwned\u0007\r\nX"})", failed + "gone]0;pwnedX", true },
        // Not retried: the next reply stays unused.
        { 0, "Operation timed out", failed + "Operation timed out", false },
        { 200, R"({"access_token":"access-2","expires_in":-1})", incomplete, false },
        { 200, R"({"access_token":"access-2"})", incomplete, false },
        { 200, R"({"access_token":" \n\t","expires_in":3600})", incomplete, false },
        { 200, R"({"access_token":"sk-live-1","expires_in":3600})", incomplete, false },
        { 200, R"({"access_token":"access-2","expires_in":1e308})", incomplete, false },
        { 200, "<html>OK</html>", incomplete, false },
        // Control characters inside a token: refused in every header later.
        { 200, R"({"access_token":"acc\u001b]0;x\u0007ess-2","expires_in":3600})", incomplete, false },
        { 200, R"({"access_token":"access-2","refresh_token":"re\r\nfresh-2","expires_in":3600})", incomplete, false },
        { 200, R"({"access_token":"access-2","refresh_token":"re\u0085fresh-2","expires_in":3600})", incomplete, false },
    };
    for (const auto& c : cases) {
        c.status ? transport->respond(c.status, c.body) : transport->failWith(NetworkError::Code::timedOut, c.body.toStdString());
        try {
            renew(app(*store->tokens)).rethrow();
            ADD_FAILURE() << c.text;
        } catch (const TokenCoordinator::Error& error) {
            EXPECT_EQ(error.what(), c.text);
            EXPECT_EQ(error.isCredentialProblem(), c.credentialProblem) << c.text;
        }
    }
    EXPECT_EQ(store->saves, 0);
    // The gate is not blocked: the next call renews.
    transport->respond(200, renewed);
    EXPECT_EQ((*renew(app(*store->tokens)).value)->token, "access-2");
    EXPECT_EQ(requests(), std::size(cases) + 1);
}

TEST_F(TokenCoordinatorTest, UnreadableStorageSendsNothing)
{
    store->failLoad = true;
    EXPECT_EQ(renew(app(session("access-1"))).errorText(),
        "Could not save the refreshed session: cannot read the Keychain session: The desktop keyring is locked");
    reader.write(StoredTokens { .accessToken = "  sk-live-9" });
    EXPECT_EQ(renew(cli(session("access-1"))).errorText(),
        "Could not save the refreshed session: cannot read ~/.velmo/tokens.json: velmo CLI is using an API key, not a sign-in; run `velmo login`");
    EXPECT_EQ(requests(), 0u);
}

// A disk that fills up while the refresh request is out: the room taken
// beforehand still takes the answer. Needs a small file system of its own.
TEST_F(TokenCoordinatorTest, DiskFillingUpDuringTheRequestLosesNothing)
{
    const std::string small = home.filePath("small").toStdString();
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(small)));
    if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=256k,mode=0700") != 0)
        GTEST_SKIP() << "cannot mount a small tmpfs here";
    const std::shared_ptr<void> unmount(nullptr, [&](void*) { ::umount2(small.c_str(), MNT_DETACH); });
    const CLICredentialReader onSmallDisk(small);
    onSmallDisk.write(session("access-1"));
    // More than the disk holds: written until it is full.
    transport->duringRequest = [&] { velmo::test::writeFile(small + "/filler", QByteArray(512 * 1024, 'x')); };
    transport->respond(200, rotated);
    const TokenCoordinator coordinated = coordinator(store, onSmallDisk);
    auto outcome = waitForTask(coordinated.refreshIfNeeded(cli(session("access-1"))));
    EXPECT_EQ(onSmallDisk.readDetailed(), cli(afterRotation));
    EXPECT_EQ(readAll(onSmallDisk.keyFile()), "access-2\n");
    EXPECT_EQ(coordinated.unsavedReason(*outcome.value), std::nullopt);
}

TEST_F(TokenCoordinatorTest, ARenewalThatCannotBeSavedIsKeptInMemoryUntilItIs)
{
    const StoredTokens old = session("access-1");
    store->tokens = old;
    store->failSave = true;
    transport->respond(200, renewed);
    const TokenCoordinator shared = coordinator();
    const Credential inMemory = **waitForTask(shared.refreshIfNeeded(app(old))).value;
    EXPECT_EQ(inMemory.token, "access-2");
    EXPECT_EQ(shared.unsavedReason(inMemory), "Could not save the refreshed session: keyring write refused");
    // What storage still holds gives way to it, in every copy.
    EXPECT_EQ(TokenCoordinator(shared).preferUnsaved(app(old)), inMemory);
    // Every call tries the save again; once it works, nothing more is sent.
    EXPECT_EQ(*waitForTask(shared.refreshIfNeeded(inMemory)).value, inMemory);
    EXPECT_EQ(store->saves, 2);
    store->failSave = false;
    EXPECT_EQ(*waitForTask(shared.refreshIfNeeded(inMemory)).value, inMemory);
    EXPECT_EQ(store->tokens->accessToken, "access-2");
    EXPECT_EQ(shared.unsavedReason(inMemory), std::nullopt);
    EXPECT_EQ(shared.preferUnsaved(app(old)), app(old));
    EXPECT_EQ(requests(), 1u);
    // A newer stored session (a new sign-in) replaces an unsaved one.
    store->failSave = true;
    transport->respond(200, R"({"access_token":"access-3","expires_in":3600})");
    ASSERT_TRUE(waitForTask(shared.refreshAfterUnauthorized(inMemory)).ok());
    store->tokens = session("signed-in-again", nowMillis + 3'600'000);
    EXPECT_EQ(*waitForTask(shared.refreshIfNeeded(app(*store->tokens))).value, app(*store->tokens));
    EXPECT_EQ(shared.preferUnsaved(app(session("access-2"))), app(session("access-2")));
}

TEST_F(TokenCoordinatorTest, ConcurrentCallsRefreshOnceInCallOrder)
{
    store->tokens = session("access-1");
    transport->latency = 30ms;
    transport->respond(200, renewed);
    const TokenCoordinator shared = coordinator();
    const TokenCoordinator copy = shared; // copies share the gate
    std::stop_source stop;
    auto all = [&]() -> QCoro::Task<std::vector<std::string>> {
        auto first = shared.refreshIfNeeded(app(*store->tokens));
        auto second = copy.refreshIfNeeded(app(*store->tokens));
        // A call that stops waiting for its turn ends without a request.
        auto third = copy.refreshAfterUnauthorized(app(*store->tokens), stop.get_token());
        stop.request_stop();
        std::vector<std::string> results;
        results.push_back((co_await std::move(first))->token);
        results.push_back((co_await std::move(second))->token);
        try {
            co_await std::move(third);
        } catch (const CancellationError& error) {
            results.push_back(error.what());
        }
        co_return results;
    };
    EXPECT_EQ(*waitForTask(all()).value, (std::vector<std::string> { "access-2", "access-2", "Cancelled" }));
    EXPECT_EQ(requests(), 1u);
}
