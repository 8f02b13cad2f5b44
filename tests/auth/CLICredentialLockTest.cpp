#include "CLICredentialLock.h"
#include "CLICredentialReader.h"
#include "CancellableSleep.h"
#include "Cancellation.h"
#include "TokenCoordinatorError.h"

#include "AsyncWait.h"
#include "CLITestSupport.h"
#include "FakeVelmoProcess.h"
#include "TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QTimer>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

using namespace std::chrono_literals;
using velmo::test::waitForTask;

namespace {

bool exists(const std::string& path)
{
    struct stat info { };
    return ::stat(path.c_str(), &info) == 0;
}

// Sets the directory's modification date `age` into the past.
void backDate(const std::string& path, std::chrono::seconds age)
{
    const auto since = (std::chrono::system_clock::now() - age).time_since_epoch();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(since);
    const timespec then { seconds.count(), static_cast<long>(std::chrono::nanoseconds(since - seconds).count()) };
    const timespec times[2] = { then, then };
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

std::chrono::seconds age(const std::string& path)
{
    struct stat info { };
    ::stat(path.c_str(), &info);
    return std::chrono::duration_cast<std::chrono::seconds>(
        std::chrono::system_clock::now().time_since_epoch() - std::chrono::seconds(info.st_mtim.tv_sec));
}

class CLICredentialLockTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(QDir().mkpath(QString::fromStdString(reader.velmoDirectory()))); }

    velmo::test::ScratchDir home;
    CLICredentialReader reader { home.path().toStdString() };
    CLICredentialLock lock { reader.lockDirectory() };
    std::string lockPath = reader.lockDirectory();
};

} // namespace

TEST_F(CLICredentialLockTest, HeldForTheBodyAndReleasedAfterEvenOnFailure)
{
    bool heldInside = false;
    auto outcome = waitForTask(lock.withLock<int>(
        [&]() -> QCoro::Task<int> {
            heldInside = QFileInfo(QString::fromStdString(lockPath)).isDir();
            co_return 42;
        },
        5s, {}));
    ASSERT_TRUE(outcome.ok()) << outcome.errorText();
    EXPECT_EQ(*outcome.value, 42);
    EXPECT_TRUE(heldInside);
    EXPECT_FALSE(exists(lockPath));

    auto failed = waitForTask(lock.withLock<int>(
        []() -> QCoro::Task<int> {
            throw std::runtime_error("body failed");
            co_return 0;
        },
        5s, {}));
    EXPECT_EQ(failed.errorText(), "body failed");
    EXPECT_FALSE(exists(lockPath));
}

TEST_F(CLICredentialLockTest, YoungLockIsWaitedOnUntilItTurnsStale)
{
    ASSERT_EQ(::mkdir(lockPath.c_str(), 0700), 0);
    backDate(lockPath, 29s);
    const auto started = std::chrono::steady_clock::now();
    std::chrono::steady_clock::duration waited {};
    auto outcome = waitForTask(lock.withLock<bool>(
        [&]() -> QCoro::Task<bool> {
            waited = std::chrono::steady_clock::now() - started;
            co_return true;
        },
        10s, {}));
    ASSERT_TRUE(outcome.ok()) << outcome.errorText();
    // It only becomes stale once more than 30 s old.
    EXPECT_GE(waited, 900ms);
}

TEST_F(CLICredentialLockTest, MissingFolderEndsInTimeout)
{
    CLICredentialReader nowhere(home.filePath("no-such-home").toStdString());
    CLICredentialLock missing(nowhere.lockDirectory());
    auto outcome = waitForTask(missing.acquire(300ms, {}));
    EXPECT_EQ(outcome.errorText(), "Timed out waiting for the CLI credential lock");
    EXPECT_FALSE(exists(nowhere.velmoDirectory()));
}

TEST_F(CLICredentialLockTest, CancellingTheWaitDoesNotTakeTheLock)
{
    ASSERT_EQ(::mkdir(lockPath.c_str(), 0700), 0);
    std::stop_source stop;
    QTimer::singleShot(200ms, [&] { stop.request_stop(); });
    auto outcome = waitForTask(lock.acquire(30s, stop.get_token()));
    EXPECT_THROW(outcome.rethrow(), CancellationError);
    // The other holder's lock is still there, untouched.
    EXPECT_TRUE(exists(lockPath));
}

TEST_F(CLICredentialLockTest, HeartbeatKeepsTheDateFresh)
{
    CLICredentialLock quick(lockPath, 50ms);
    auto outcome = waitForTask(quick.withLock<std::chrono::seconds>(
        [&]() -> QCoro::Task<std::chrono::seconds> {
            backDate(lockPath, 20s);
            // Bounded wait for the heartbeat to touch the directory again.
            for (int i = 0; i < 100 && age(lockPath) > 5s; ++i)
                co_await cancellableSleep(20ms, {});
            co_return age(lockPath);
        },
        5s, {}));
    ASSERT_TRUE(outcome.ok()) << outcome.errorText();
    EXPECT_LE(outcome.value->count(), 1);
    EXPECT_FALSE(exists(lockPath));
}

// The lock against a second, real process that plays the velmo tool.
TEST_F(CLICredentialLockTest, TimesOutWhileTheToolHoldsAFreshLock)
{
    velmo::test::FakeVelmoProcess tool;
    tool.start({ "hold", QString::fromStdString(reader.velmoDirectory()) });
    ASSERT_TRUE(tool.waitUntilHeld());
    // Back-dated past the stale limit… but the tool's heartbeat renews it
    // within a second, long before our deadline.
    backDate(lockPath, 25s);
    auto outcome = waitForTask(lock.acquire(2500ms, {}));
    EXPECT_EQ(outcome.errorText(), "Timed out waiting for the CLI credential lock");
    EXPECT_TRUE(exists(lockPath));
    EXPECT_LE(age(lockPath).count(), 2);
    tool.release();
    EXPECT_TRUE(tool.finishedCleanly()) << tool.errors().toStdString();
    EXPECT_FALSE(exists(lockPath));
}

TEST_F(CLICredentialLockTest, TakesOverFromAToolThatStoppedBeating)
{
    velmo::test::FakeVelmoProcess tool;
    tool.start({ "hold", QString::fromStdString(reader.velmoDirectory()), "--no-heartbeat" });
    ASSERT_TRUE(tool.waitUntilHeld());
    backDate(lockPath, 31s);
    std::chrono::seconds ageInside { -1 };
    auto outcome = waitForTask(lock.withLock<bool>(
        [&]() -> QCoro::Task<bool> {
            ageInside = age(lockPath);
            co_return true;
        },
        5s, {}));
    ASSERT_TRUE(outcome.ok()) << outcome.errorText();
    // Ours now: created afresh, not the abandoned one.
    EXPECT_LE(ageInside.count(), 1);
    tool.release();
    EXPECT_TRUE(tool.finishedCleanly()) << tool.errors().toStdString();
}

TEST_F(CLICredentialLockTest, NoOverlapWithTheToolRotatingTheSameFile)
{
    // Both sides add one to the counter in the access token, many times, each
    // under the lock. Any overlap loses an update.
    reader.write(StoredTokens { .accessToken = "count-0" });
    constexpr int toolRounds = 60;
    constexpr int appRounds = 60;
    velmo::test::FakeVelmoProcess tool;
    tool.start({ "count", QString::fromStdString(reader.velmoDirectory()), QString::number(toolRounds) });
    auto rotate = [&]() -> QCoro::Task<int> {
        int done = 0;
        for (int i = 0; i < appRounds; ++i) {
            co_await lock.withLock<bool>(
                [&]() -> QCoro::Task<bool> {
                    const auto current = reader.readDetailed();
                    if (!current || !current->token.starts_with("count-"))
                        throw std::runtime_error("unexpected tokens.json");
                    const int value = std::stoi(current->token.substr(6));
                    co_await cancellableSleep(3ms, {});
                    reader.write(StoredTokens { .accessToken = "count-" + std::to_string(value + 1) });
                    co_return true;
                },
                20s, {});
            ++done;
        }
        co_return done;
    };
    auto outcome = waitForTask(rotate(), 120s);
    ASSERT_TRUE(outcome.ok()) << outcome.errorText();
    ASSERT_TRUE(tool.finishedCleanly()) << tool.errors().toStdString();
    const auto final = reader.readDetailed();
    ASSERT_TRUE(final);
    EXPECT_EQ(final->token, "count-" + std::to_string(toolRounds + appRounds));
    EXPECT_FALSE(exists(lockPath));
    EXPECT_EQ(velmo::test::fileMode(reader.tokensFile()), 0600u);
}
