// The app and the velmo tool (fake-velmo, a second process) rotate the same
// CLI session against the real velmo-devserver, which rejects a refresh token
// presented twice. Only the shared lock keeps the two from spending the same
// refresh token, and the atomic replace keeps tokens.json whole for every
// reader at every moment.
#include "CLICredentialReader.h"
#include "InMemoryCredentialStore.h"
#include "TokenCoordinator.h"
#include "VelmoClient.h"

#include "CancellableSleep.h"

#include "AsyncWait.h"
#include "CLITestSupport.h"
#include "DevServerProcess.h"
#include "FakeVelmoProcess.h"
#include "TestSupport.h"

#include <QFileInfo>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <condition_variable>
#include <mutex>
#include <thread>

using namespace std::chrono_literals;
using velmo::test::DevServerProcess;
using velmo::test::waitForTask;
using Json = nlohmann::json;

namespace {

// The production transport, counting the requests the app sends and the
// successful answers it gets.
class CountingTransport final : public HTTPTransport {
public:
    explicit CountingTransport(std::shared_ptr<HTTPTransport> inner)
        : m_inner(std::move(inner))
    {
    }

    QCoro::Task<HTTPResponse> send(HTTPRequest request, std::stop_token stop) override
    {
        ++sent;
        // A named task: GCC 12 destroys temporaries inside co_await twice.
        auto sending = m_inner->send(std::move(request), std::move(stop));
        HTTPResponse response = co_await std::move(sending);
        if (response.isSuccess())
            ++succeeded;
        co_return response;
    }

    int sent = 0;
    int succeeded = 0;

private:
    std::shared_ptr<HTTPTransport> m_inner;
};

// What is wrong with tokens.json as any reader would find it, or "" when it
// is whole: valid JSON with an access token, a trailing newline, mode 0600.
std::string tokensFileFault(const std::string& path)
{
    const mode_t mode = velmo::test::fileMode(path);
    const std::string text = velmo::test::readAll(path).toStdString();
    if (mode != 0600)
        return "mode " + std::to_string(mode);
    if (text.empty() || text.back() != '\n')
        return "no trailing newline: " + std::to_string(text.size()) + " bytes";
    const Json json = Json::parse(text, nullptr, false);
    if (json.is_discarded())
        return "not JSON (" + std::to_string(text.size()) + " bytes)";
    if (!json.is_object() || !json.contains("accessToken") || !json["accessToken"].is_string())
        return "no access token";
    return {};
}

// Reads tokens.json over and over on its own thread while the two writers
// run, independent of the app's event loop and of either lock holder. The
// counts are read after stop().
struct TokensFileSampler {
    int samples = 0;
    int faults = 0;
    std::string firstFault;
    std::jthread thread;

    explicit TokensFileSampler(const std::string& path)
        : thread([this, path](std::stop_token stop) {
            std::mutex mutex;
            std::condition_variable_any pace;
            std::unique_lock guard(mutex);
            while (!stop.stop_requested()) {
                // Paced, not busy: the writers need the machine's cores.
                pace.wait_for(guard, stop, 1ms, [] { return false; });
                const std::string fault = tokensFileFault(path);
                ++samples;
                if (!fault.empty() && faults++ == 0)
                    firstFault = fault;
            }
        })
    {
    }
    void stop()
    {
        thread.request_stop();
        if (thread.joinable())
            thread.join();
    }
};

TEST(CLIRotationStress, AppAndToolRotateOneSessionWithoutSpendingARefreshTokenTwice)
{
    constexpr int rounds = 40;

    // Access tokens live 30 s, inside the 60 s margin: every refreshIfNeeded
    // renews, as refreshAfterUnauthorized does.
    DevServerProcess server({ "--quiet", "--expires-in", "30" });
    velmo::test::ScratchDir home;
    const CLICredentialReader reader(home.path().toStdString());
    reader.write(VelmoJSON::decode<StoredTokens>(server.issueSession().cliTokens.dump()));
    ASSERT_EQ(tokensFileFault(reader.tokensFile()), "");

    auto transport
        = std::make_shared<CountingTransport>(HTTPClient::platform(1, 0.3, 30.0, false).transport());
    const TokenCoordinator coordinator(std::make_shared<InMemoryCredentialStore>(), reader,
        HTTPClient(transport, 1, 0.3, 30.0), server.baseURL(), TokenCoordinator::defaultLockTimeout);

    TokensFileSampler sampler(reader.tokensFile());
    velmo::test::FakeVelmoProcess tool;
    const auto toolIsRunning = [&tool] { return tool.process().state() != QProcess::NotRunning; };

    // The app keeps the session it was last given, as it does between
    // fetches, and renews it until it has done so `rounds` times itself.
    // After each of its renewals it lets the tool have a turn: it waits
    // (bounded) until the tool has rotated the session under it, so that
    // the next call must find the tool's newer session under the lock and
    // hand it over without a request. The tool pauses at random between its
    // rounds, so the two also meet at the lock.
    int adopted = 0;
    auto appSide = [&]() -> QCoro::Task<int> {
        std::optional<Credential> current = reader.readDetailed();
        if (!current || current->source != CredentialSource::cliTokens || !current->canRefresh())
            throw std::runtime_error("no refreshable CLI session to start from");
        int calls = 0;
        while (transport->succeeded < rounds) {
            if (++calls > rounds * 4)
                throw std::runtime_error("the app made no progress");
            const int renewedBefore = transport->succeeded;
            // Both entry points, each both renewing and handing over.
            auto refreshing = (calls / 2) % 2 == 1 ? coordinator.refreshIfNeeded(*current)
                                                   : coordinator.refreshAfterUnauthorized(*current);
            std::optional<Credential> next = co_await std::move(refreshing);
            if (!next)
                throw std::runtime_error("the session was lost after " + std::to_string(calls) + " calls");
            if (next->token == current->token)
                throw std::runtime_error("a session inside the expiry margin came back unrenewed");
            if (next->source != CredentialSource::cliTokens || !next->canRefresh())
                throw std::runtime_error("the renewed session cannot be renewed again");
            const bool renewedHere = transport->succeeded > renewedBefore;
            if (!renewedHere)
                ++adopted;
            current = std::move(next);

            // The tool starts on a session the app has renewed, so it has
            // at least that one to rotate under the app.
            if (calls == 1)
                tool.start({ "refresh", QString::fromStdString(reader.velmoDirectory()),
                    QString::number(rounds), server.baseURL().toString(), "20" });
            if (!renewedHere)
                continue;
            for (int polls = 0; toolIsRunning(); ++polls) {
                const std::optional<Credential> onDisk = reader.read();
                if (!onDisk || onDisk->token != current->token)
                    break;
                if (polls > 10'000)
                    throw std::runtime_error("the tool did not take its turn");
                co_await cancellableSleep(2ms, {});
            }
        }
        co_return calls;
    };
    auto outcome = waitForTask(appSide(), 180s);
    ASSERT_FALSE(outcome.timedOut);
    ASSERT_TRUE(outcome.ok()) << outcome.errorText();
    // The tool checks every tokens.json it reads (JSON, newline, 0600) and
    // stops with an error on a rejected refresh.
    ASSERT_TRUE(tool.finishedCleanly(180s)) << tool.errors().toStdString();
    sampler.stop();

    EXPECT_EQ(transport->succeeded, rounds);
    EXPECT_EQ(transport->sent, rounds);
    // The tool rotated under the app at least once (it started on the app's
    // session), and every hand-over needed a rotation by the tool.
    RecordProperty("adopted", adopted);
    EXPECT_GE(adopted, 1);
    EXPECT_LE(adopted, rounds);
    const Json grants = server.counters().at("refresh_grants");
    EXPECT_EQ(grants.at("accepted"), 2 * rounds) << grants.dump();
    EXPECT_EQ(grants.at("rejected"), 0) << grants.dump();
    EXPECT_EQ(grants.at("reused"), 0) << grants.dump();

    EXPECT_GT(sampler.samples, 0);
    EXPECT_EQ(sampler.faults, 0) << sampler.firstFault << " (" << sampler.samples << " samples)";
    EXPECT_EQ(tokensFileFault(reader.tokensFile()), "");
    EXPECT_TRUE(velmo::test::temporaryFiles(reader.velmoDirectory()).isEmpty());
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(reader.lockDirectory())));

    // The session left behind is live: the API takes its access token and
    // the provider its refresh token.
    const std::optional<Credential> last = reader.readDetailed();
    ASSERT_TRUE(last);
    const VelmoClient api(server.baseURL(), HTTPClient::platform(1, 0.3, 30.0, true), "menubar");
    auto balance = waitForTask(api.balance(QString::fromStdString(last->token)));
    EXPECT_TRUE(balance.ok()) << balance.errorText();
    auto renewed = waitForTask(coordinator.refreshAfterUnauthorized(*last));
    ASSERT_TRUE(renewed.ok()) << renewed.errorText();
    ASSERT_TRUE(renewed.value->has_value());
    EXPECT_NE((*renewed.value)->token, last->token);
    EXPECT_EQ(server.counters().at("refresh_grants").at("rejected"), 0);
}

} // namespace
