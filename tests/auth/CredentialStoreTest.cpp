#include "FileCredentialStore.h"
#include "FileError.h"

#include "CLITestSupport.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

using velmo::test::fileMode;

namespace {

const StoredTokens sample { .accessToken = "access-1", .refreshToken = "refresh-1", .expiresAt = 1.7e12, .clientId = "client-1" };

} // namespace

TEST(FileCredentialStoreTest, SaveLoadReplaceRemove)
{
    velmo::test::ScratchDir dir;
    const QString path = dir.filePath("VelmoUsage/session.json");
    FileCredentialStore store(path.toStdString());
    EXPECT_EQ(store.load(), std::nullopt);
    store.remove();
    store.save(sample);
    EXPECT_EQ(store.load(), sample);
    EXPECT_EQ(fileMode(path.toStdString()), 0600u);
    EXPECT_EQ(fileMode(dir.filePath("VelmoUsage").toStdString()), 0700u);
    const StoredTokens second { .accessToken = "access-2" };
    store.save(second);
    EXPECT_EQ(store.load(), second);
    EXPECT_EQ(QDir(dir.filePath("VelmoUsage")).entryList(QDir::Files | QDir::Hidden), QStringList { "session.json" });
    store.remove();
    EXPECT_FALSE(QFile::exists(path));
}

TEST(FileCredentialStoreTest, BadRecordsAreErrorsNotEmptyStores)
{
    velmo::test::ScratchDir dir;
    const std::string path = dir.filePath("session.json").toStdString();
    FileCredentialStore store(path);
    velmo::test::writeFile(path, "");
    EXPECT_EQ(store.load(), std::nullopt);
    velmo::test::writeFile(path, "{\"accessToken\":");
    EXPECT_THROW(store.load(), VelmoJSON::DecodingError);
    QFile::remove(QString::fromStdString(path));
    ASSERT_TRUE(QDir(dir.path()).mkdir("session.json"));
    EXPECT_THROW(store.load(), FileError);
    // A failed save leaves what was there.
    EXPECT_THROW(store.save(sample), FileError);
    EXPECT_TRUE(QFileInfo(QString::fromStdString(path)).isDir());
}
