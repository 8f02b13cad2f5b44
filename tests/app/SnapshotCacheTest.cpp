#include "SnapshotCache.h"
#include "LogCapture.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>

#include <sys/mount.h>

using namespace std::chrono;
using namespace velmo::test;

namespace {

Snapshot sample()
{
    UsageSummary usage;
    usage.totals.requests = 42;
    return Snapshot { Balance { .accountBalance = MicrosUSD(12'340'000) }, usage,
        *VelmoJSON::parseDate("2025-03-04T05:06:07Z") };
}

TEST(SnapshotCache, SavesPrivatelyIntoNewFoldersLoadsBackAndLeavesABrokenFileAlone)
{
    ScratchDir dir;
    const SnapshotCache cache = [&] {
        const ScopedEnv data("XDG_DATA_HOME", dir.filePath("a/b"));
        return SnapshotCache::defaultCache();
    }();
    const QString folder = dir.filePath("a/b/VelmoUsage");
    EXPECT_EQ(cache.filePath(), folder + "/snapshot.json");
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("a"))) << "asking for the location creates nothing";
    cache.save(sample());
    EXPECT_EQ(cache.load(), sample());

    // Loosened by hand, both are private again after the next save, which
    // keeps whole seconds and leaves nothing else in the folder.
    ::chmod(QFile::encodeName(folder), 0755);
    ::chmod(QFile::encodeName(cache.filePath()), 0644);
    const Timestamp fetched = sample().fetchedAt + milliseconds(750);
    cache.save(Snapshot { .fetchedAt = fetched });
    EXPECT_EQ(cache.load(), Snapshot { .fetchedAt = floor<seconds>(fetched) });
    EXPECT_EQ(fileMode(folder), 0700u);
    EXPECT_EQ(fileMode(cache.filePath()), 0600u);
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList { "snapshot.json" });

    // A broken file loads as nothing and stays until the next save.
    for (const QByteArray& bytes : { readAll(cache.filePath()).chopped(5), QByteArray(R"({"fetchedAt":"2025-03-04"})") }) {
        writeFile(cache.filePath(), bytes);
        EXPECT_EQ(cache.load(), std::nullopt) << bytes.toStdString();
        EXPECT_EQ(readAll(cache.filePath()), bytes);
    }
    cache.clear();
    cache.clear();
    EXPECT_FALSE(QFileInfo::exists(cache.filePath()));
}

// A FIFO, a device or a folder at the cache's path: nothing, at once, and
// never more read than a snapshot can be.
class HostileCache : public ::testing::TestWithParam<Hostile> { };

TEST_P(HostileCache, LoadsAsNothingWithoutBlocking)
{
    ScratchDir dir;
    const SnapshotCache cache(dir.filePath("snapshot.json"));
    plant(GetParam(), cache.filePath());
    std::optional<Snapshot> loaded = sample();
    EXPECT_TRUE(returnsByItself(cache.filePath(), [&] { loaded = cache.load(); }));
    EXPECT_EQ(loaded, std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(SnapshotCache, HostileCache,
    ::testing::Values(Hostile::fifo, Hostile::zeroDevice, Hostile::randomDevice, Hostile::folder));

TEST(SnapshotCache, AFailedWriteKeepsTheOldFileLeavesNoTemporaryFileAndIsLogged)
{
    ScratchDir dir;
    LogCapture log;
    const QString blocked = dir.filePath("file-not-folder");
    writeFile(blocked, {});
    SnapshotCache(blocked + "/snapshot.json").save(sample());
    EXPECT_TRUE(log.mentions("snapshot cache write failed: cannot create the folder"));

    // A full disk: a small file system of its own, filled up.
    const QString disk = dir.filePath("disk");
    QDir().mkpath(disk);
    if (::mount("tmpfs", QFile::encodeName(disk), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "cannot mount a small file system here: " << std::strerror(errno);
    const struct Unmount {
        QByteArray path;
        ~Unmount() { ::umount2(path, MNT_DETACH); }
    } unmount { QFile::encodeName(disk) };
    const SnapshotCache cache(disk + "/VelmoUsage/snapshot.json");
    cache.save(sample());
    QFile filler(disk + "/filler");
    ASSERT_TRUE(filler.open(QIODevice::WriteOnly));
    while (filler.write(QByteArray(4096, 'x')) > 0 && filler.flush()) { }
    filler.close();

    Snapshot bigger = sample();
    bigger.usage->buckets.resize(50);
    cache.save(bigger);
    EXPECT_TRUE(log.mentions("snapshot cache write failed: cannot write snapshot.json."));
    EXPECT_TRUE(log.mentions("No space left on device"));
    EXPECT_EQ(cache.load(), sample());
    EXPECT_EQ(
        QDir(disk + "/VelmoUsage").entryList(QDir::Files | QDir::Hidden), QStringList { "snapshot.json" });
}

} // namespace
