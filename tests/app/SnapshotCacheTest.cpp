#include "SnapshotCache.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace std::chrono;
using velmo::test::ScratchDir;

namespace {

Snapshot sample()
{
    Balance balance;
    balance.accountBalance = MicrosUSD(12'340'000);
    balance.availableBalance = MicrosUSD(12'340'000);
    balance.asOf = *VelmoJSON::parseDate("2025-03-04T05:06:00Z");
    UsageSummary usage;
    usage.totals.requests = 42;
    return Snapshot { balance, usage, *VelmoJSON::parseDate("2025-03-04T05:06:07Z") };
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

TEST(SnapshotCache, SaveCreatesMissingFoldersAndLoadsBack)
{
    ScratchDir dir;
    const SnapshotCache cache(dir.filePath("a/b/VelmoUsage/snapshot.json"));
    EXPECT_EQ(cache.load(), std::nullopt);
    cache.save(sample());
    EXPECT_EQ(cache.load(), sample());

    // An empty snapshot replaces it; the fetch time keeps whole seconds.
    const Timestamp fetched = *VelmoJSON::parseDate("2025-03-04T05:06:07Z") + milliseconds(750);
    cache.save(Snapshot { .fetchedAt = fetched });
    EXPECT_EQ(cache.load(), Snapshot { .fetchedAt = floor<seconds>(fetched) });
    // Nothing but the file itself is left behind in the folder.
    EXPECT_EQ(QDir(dir.filePath("a/b/VelmoUsage")).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

TEST(SnapshotCache, BadFilesLoadAsNothingAndStayUntilTheNextSave)
{
    ScratchDir dir;
    const QString path = dir.filePath("snapshot.json");
    const SnapshotCache cache(path);
    const QByteArray bad[] = { "", R"({"fetchedAt":"2025-03-04"})", "\xff\xfe\x00",
        R"({"fetchedAt":"2025-03-04T05:06:07Z","usage":{"buckets":[{"start_time":"x"}]}})" };
    for (const auto& bytes : bad) {
        writeFile(path, bytes);
        EXPECT_EQ(cache.load(), std::nullopt) << bytes.toStdString();
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(file.readAll(), bytes);
    }
    // A truncated copy of a real file.
    cache.save(sample());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    file.resize(file.size() / 2);
    file.close();
    EXPECT_EQ(cache.load(), std::nullopt);
    // A folder in the file's place.
    QFile::remove(path);
    QDir().mkpath(path);
    EXPECT_EQ(cache.load(), std::nullopt);
}

TEST(SnapshotCache, AFailedWriteKeepsTheOldFile)
{
    ScratchDir dir;
    const QString folder = dir.filePath("cache");
    const SnapshotCache cache(folder + "/snapshot.json");
    cache.save(sample());
    // A read-only folder refuses the temporary file (root ignores modes, so
    // block the folder another way there: replace the target by a folder).
    if (::geteuid() != 0) {
        ASSERT_EQ(::chmod(folder.toLocal8Bit().constData(), 0500), 0);
        cache.save(Snapshot { .fetchedAt = Timestamp {} });
        ::chmod(folder.toLocal8Bit().constData(), 0700);
        EXPECT_EQ(cache.load(), sample());
    }
    const SnapshotCache blocked(dir.filePath("file-not-folder/snapshot.json"));
    writeFile(dir.filePath("file-not-folder"), "x");
    blocked.save(sample()); // cannot create the folder: logged, not thrown
    EXPECT_EQ(blocked.load(), std::nullopt);
}

TEST(SnapshotCache, ClearIgnoresAMissingFile)
{
    ScratchDir dir;
    const SnapshotCache cache(dir.filePath("snapshot.json"));
    cache.clear();
    cache.save(sample());
    cache.clear();
    EXPECT_FALSE(QFileInfo::exists(cache.filePath()));
}

TEST(SnapshotCache, DefaultLocationFollowsTheDataHome)
{
    ScratchDir dir;
    const QByteArray previous = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", dir.path().toLocal8Bit());
    const SnapshotCache cache = SnapshotCache::defaultCache();
    qputenv("XDG_DATA_HOME", previous);
    EXPECT_EQ(cache.filePath(), dir.path() + "/VelmoUsage/snapshot.json");
    EXPECT_FALSE(QFileInfo::exists(dir.path() + "/VelmoUsage")) << "asking for the location creates nothing";
}

} // namespace
