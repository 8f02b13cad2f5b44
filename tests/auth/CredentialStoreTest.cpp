#include "FileCredentialStore.h"
#include "FileError.h"
#include "InMemoryCredentialStore.h"
#include "SessionStorage.h"

#include "TestSupport.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

const StoredTokens sample { .accessToken = "access-1", .refreshToken = "refresh-1", .expiresAt = 1.7e12, .clientId = "client-1" };

mode_t modeOf(const QString& path)
{
    struct stat info { };
    if (::lstat(path.toLocal8Bit().constData(), &info) != 0)
        return 0;
    return info.st_mode & 07777;
}

void writeText(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

} // namespace

TEST(InMemoryCredentialStoreTest, LoadSaveRemove)
{
    InMemoryCredentialStore store;
    EXPECT_EQ(store.load(), std::nullopt);
    store.save(sample);
    EXPECT_EQ(store.load(), sample);
    StoredTokens second = sample;
    second.accessToken = "access-2";
    store.save(second);
    EXPECT_EQ(store.load(), second);
    store.remove();
    EXPECT_EQ(store.load(), std::nullopt);
    store.remove();
    InMemoryCredentialStore prefilled(sample);
    EXPECT_EQ(prefilled.load(), sample);
}

TEST(FileCredentialStoreTest, SaveLoadReplaceRemove)
{
    velmo::test::ScratchDir dir;
    const QString path = dir.filePath("VelmoUsage/session.json");
    FileCredentialStore store(path.toStdString());
    EXPECT_EQ(store.load(), std::nullopt);
    store.remove();
    store.save(sample);
    EXPECT_EQ(store.load(), sample);
    EXPECT_EQ(modeOf(path), 0600u);
    EXPECT_EQ(modeOf(dir.filePath("VelmoUsage")), 0700u);
    StoredTokens second = sample;
    second.accessToken = "access-2";
    store.save(second);
    EXPECT_EQ(store.load(), second);
    EXPECT_EQ(QDir(dir.filePath("VelmoUsage")).entryList(QDir::Files | QDir::Hidden), QStringList { "session.json" });
    store.remove();
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_EQ(store.load(), std::nullopt);
}

TEST(FileCredentialStoreTest, BadRecordsAreErrorsNotEmptyStores)
{
    velmo::test::ScratchDir dir;
    const QString path = dir.filePath("session.json");
    FileCredentialStore store(path.toStdString());
    writeText(path, "");
    EXPECT_EQ(store.load(), std::nullopt);
    writeText(path, "{\"accessToken\":");
    EXPECT_THROW(store.load(), VelmoJSON::DecodingError);
    QFile::remove(path);
    ASSERT_TRUE(QDir(dir.path()).mkdir("session.json"));
    EXPECT_THROW(store.load(), FileError);
    // A failed save leaves what was there.
    EXPECT_THROW(store.save(sample), FileError);
    EXPECT_TRUE(QFileInfo(path).isDir());
}

TEST(SessionStorageTest, DescriptionsNameThePlace)
{
    EXPECT_EQ(SessionStorage::keyringDescription(), "Desktop keyring (Secret Service)");
    EXPECT_EQ(SessionStorage::fileDescription("/home/u/.local/share/VelmoUsage/session.json"),
        "File /home/u/.local/share/VelmoUsage/session.json");
    EXPECT_TRUE(QString::fromStdString(FileCredentialStore::defaultPath()).endsWith("/VelmoUsage/session.json"));
}
