#include "CLICredentialReader.h"
#include "FileCredentialStore.h"
#include "FileError.h"

#include "TestSupport.h"
#include "LogCapture.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

using velmo::test::fileMode;

namespace {

const StoredTokens sample { .accessToken = "access-1", .refreshToken = "refresh-1", .expiresAt = 1.7e12, .clientId = "client-1" };

} // namespace

TEST(FileCredentialStoreTest, SavesWholeIntoAPrivateFolderAndBadRecordsAreErrors)
{
    velmo::test::ScratchDir dir;
    const QString path = dir.filePath("VelmoUsage/session.json");
    FileCredentialStore store(path.toStdString());
    EXPECT_EQ(store.load(), std::nullopt);
    store.remove();
    for (const StoredTokens& tokens : { sample, StoredTokens { .accessToken = "access-2" } }) {
        store.save(tokens);
        EXPECT_EQ(store.load(), tokens);
    }
    EXPECT_EQ(fileMode(path.toStdString()), 0600u);
    EXPECT_EQ(fileMode(dir.filePath("VelmoUsage").toStdString()), 0700u);
    EXPECT_EQ(QDir(dir.filePath("VelmoUsage")).entryList(QDir::Files | QDir::Hidden), QStringList { "session.json" });
    velmo::test::writeFile(store.path(), "");
    EXPECT_EQ(store.load(), std::nullopt);
    velmo::test::writeFile(store.path(), "{\"accessToken\":");
    EXPECT_THROW(store.load(), VelmoJSON::DecodingError);
    store.remove();
    EXPECT_FALSE(QFile::exists(path));
    // A folder in its place: an error, and a failed save leaves it there.
    ASSERT_TRUE(QDir().mkdir(path));
    EXPECT_THROW(store.load(), FileError);
    EXPECT_THROW(store.save(sample), FileError);
    EXPECT_TRUE(QFileInfo(path).isDir());
}

TEST(SecretFileTest, LooseFilesAreNarrowedTo0600WhenReadAndThatIsLoggedOnce)
{
    velmo::test::ScratchDir home;
    const CLICredentialReader reader(home.path().toStdString());
    FileCredentialStore store(home.filePath("session.json").toStdString());
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(reader.velmoDirectory())));
    const std::pair<std::string, std::function<void()>> files[] = {
        { reader.tokensFile(), [&] { ASSERT_TRUE(reader.readDetailed()); } },
        { store.path(), [&] { ASSERT_TRUE(store.load()); } },
    };
    for (const auto& [path, read] : files) {
        velmo::test::writeFile(path, R"({"accessToken":"a"})", 0644);
        velmo::test::LogCapture log;
        read();
        read();
        EXPECT_EQ(fileMode(path), 0600u) << path;
        EXPECT_EQ(log.count(QString::fromStdString(path) + " was readable by others"), 1) << path;
    }
}
