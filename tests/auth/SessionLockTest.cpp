#include "CLICredentialReader.h"
#include "CancellableSleep.h"
#include "Cancellation.h"
#include "SessionLock.h"

#include "AsyncWait.h"
#include "TestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QTimer>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <limits>
#include <sys/xattr.h>

using namespace std::chrono_literals;
using velmo::test::waitForTask;

namespace {

// Sets the directory's modification date `age` into the past.
void backDate(const std::string& path, std::chrono::seconds age)
{
    const auto then = std::chrono::duration_cast<std::chrono::nanoseconds>((std::chrono::system_clock::now() - age).time_since_epoch());
    const timespec at { static_cast<time_t>(then.count() / 1'000'000'000), static_cast<long>(then.count() % 1'000'000'000) };
    const timespec times[2] = { at, at };
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

std::chrono::seconds age(const std::string& path)
{
    return std::chrono::seconds(QFileInfo(QString::fromStdString(path)).lastModified().secsTo(QDateTime::currentDateTime()));
}

class SessionLockTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(QDir().mkpath(QString::fromStdString(reader.velmoDirectory()))); }

    // A lock of ours, made by the holder `pid` during `boot`.
    void heldBy(pid_t pid, const std::string& boot)
    {
        ASSERT_EQ(::mkdir(lockPath.c_str(), 0700), 0);
        const std::string record = std::to_string(pid) + " " + boot;
        ASSERT_EQ(::setxattr(lockPath.c_str(), SessionLock::holderAttribute, record.data(), record.size(), 0), 0);
    }

    velmo::test::ScratchDir home;
    CLICredentialReader reader { home.path().toStdString() };
    std::string lockPath = reader.lockDirectory();
    SessionLock lock { lockPath, { reader.keyFile() } };
};

} // namespace

TEST_F(SessionLockTest, HeldAndKeptFreshForTheBodyAndReleasedAfterEvenOnFailure)
{
    const SessionLock quick(lockPath, {}, 50ms);
    for (const bool fails : { false, true }) {
        auto outcome = waitForTask(quick.withLock<bool>(
            [&]() -> QCoro::Task<bool> {
                backDate(lockPath, 20s);
                // Bounded wait for the heartbeat to touch the directory again.
                for (int i = 0; i < 100 && age(lockPath) > 5s; ++i)
                    co_await cancellableSleep(20ms, {});
                if (fails)
                    throw std::runtime_error("body failed");
                co_return age(lockPath) <= 1s;
            },
            5s, {}));
        EXPECT_EQ(fails ? outcome.errorText() : std::to_string(*outcome.value), fails ? "body failed" : "1");
        EXPECT_NE(::access(lockPath.c_str(), F_OK), 0);
    }
}

TEST_F(SessionLockTest, WhetherAndWhenAHeldLockIsTakenOver)
{
    using ms = std::chrono::milliseconds;
    const struct { const char* situation; std::function<void()> prepare; ms timeout; bool taken; ms waitsAtLeast; } cases[] = {
        { "fresh, nothing recorded", [&] { ::mkdir(lockPath.c_str(), 0700); }, 300ms, false, 0ms },
        { "31 s old", [&] { ::mkdir(lockPath.c_str(), 0700), backDate(lockPath, 31s); }, 5s, true, 0ms },
        // Stale only once more than 30 s old: waited on in 100 ms steps.
        { "29 s old", [&] { ::mkdir(lockPath.c_str(), 0700), backDate(lockPath, 29s); }, 5s, true, 900ms },
        // No process has the largest pid.
        { "its process has ended", [&] { heldBy(std::numeric_limits<pid_t>::max(), SessionLock::bootID()); }, 5s, true, 0ms },
        { "held before this boot", [&] { heldBy(::getpid(), "another-boot"); }, 5s, true, 0ms },
        { "its process runs", [&] { heldBy(::getpid(), SessionLock::bootID()); }, 300ms, false, 0ms },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.situation);
        c.prepare();
        const auto started = std::chrono::steady_clock::now();
        std::chrono::seconds ageInside { -1 };
        auto outcome = waitForTask(lock.withLock<bool>(
            [&]() -> QCoro::Task<bool> {
                ageInside = age(lockPath);
                co_return true;
            },
            c.timeout, {}));
        if (c.taken) {
            ASSERT_TRUE(outcome.ok()) << outcome.errorText();
            EXPECT_GE(std::chrono::steady_clock::now() - started, c.waitsAtLeast);
            EXPECT_LE(ageInside.count(), 1) << "ours, made afresh";
        } else {
            EXPECT_EQ(outcome.errorText(), "Timed out waiting for the CLI credential lock");
            EXPECT_LE(age(lockPath).count(), 2);
        }
        ::rmdir(lockPath.c_str());
    }
    // No folder to put the lock in: waited on like a held lock.
    CLICredentialReader nowhere(home.filePath("no-such-home").toStdString());
    EXPECT_EQ(waitForTask(SessionLock(nowhere.lockDirectory()).acquire(300ms, {})).errorText(),
        "Timed out waiting for the CLI credential lock");
    EXPECT_NE(::access(nowhere.velmoDirectory().c_str(), F_OK), 0);
    // A cancelled wait leaves the other's lock.
    ASSERT_EQ(::mkdir(lockPath.c_str(), 0700), 0);
    std::stop_source stop;
    QTimer::singleShot(200ms, [&] { stop.request_stop(); });
    EXPECT_THROW(waitForTask(lock.acquire(30s, stop.get_token())).rethrow(), CancellationError);
    EXPECT_EQ(::access(lockPath.c_str(), F_OK), 0);
}

TEST_F(SessionLockTest, TakingItRemovesOurLeftoverTemporaries)
{
    const char* const ours[] = { "tokens.json.0123456789abcdef0123456789ABCDEF.tmp", "key.00000000000000000000000000000000.tmp" };
    const char* const others[] = { "tokens.json.fake42.tmp", "snapshot.json.0123456789abcdef0123456789abcdef.tmp",
        "tokens.json.0123456789abcdef0123456789abcdeg.tmp" };
    for (const char* name : ours)
        velmo::test::writeFile(reader.velmoDirectory() + "/" + name, "{\"accessToken\":\"secret\"}");
    for (const char* name : others)
        velmo::test::writeFile(reader.velmoDirectory() + "/" + name, "theirs");
    ASSERT_TRUE(waitForTask(lock.acquire(5s, {})).ok());
    QStringList left = QDir(QString::fromStdString(reader.velmoDirectory())).entryList(QDir::Files);
    left.sort();
    EXPECT_EQ(left, (QStringList { others[1], others[2], others[0] }));
}
