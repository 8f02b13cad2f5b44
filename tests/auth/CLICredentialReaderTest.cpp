#include "CLICredentialReader.h"
#include "FileError.h"

#include "CLITestSupport.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using velmo::test::fileMode;
using velmo::test::readAll;
using velmo::test::writeFile;

namespace {

class CLICredentialReaderTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(QDir().mkpath(QString::fromStdString(reader.velmoDirectory()))); }

    void putTokens(const QByteArray& json) { writeFile(reader.tokensFile(), json); }

    // The failure's what(), or "" when readDetailed() did not throw.
    template <typename Error>
    std::string readFailure()
    {
        try {
            reader.readDetailed();
        } catch (const Error& error) {
            EXPECT_EQ(reader.read(), std::nullopt);
            return error.what();
        }
        ADD_FAILURE() << "readDetailed() did not fail as expected";
        return {};
    }

    velmo::test::ScratchDir home;
    CLICredentialReader reader { home.path().toStdString() };
};

const StoredTokens session { .accessToken = "access-1", .refreshToken = "refresh-1", .expiresAt = 1.7e12, .clientId = "client-1" };

} // namespace

TEST_F(CLICredentialReaderTest, NoFileOrNoFolderIsNothing)
{
    EXPECT_EQ(reader.readDetailed(), std::nullopt);
    CLICredentialReader nowhere(home.filePath("missing").toStdString());
    EXPECT_EQ(nowhere.readDetailed(), std::nullopt);
    // A dangling symbolic link: nothing exists at the path.
    ASSERT_EQ(::symlink("gone.json", reader.tokensFile().c_str()), 0);
    EXPECT_EQ(reader.readDetailed(), std::nullopt);
}

TEST_F(CLICredentialReaderTest, SessionIsReadTrimmed)
{
    putTokens(R"({"accessToken":" access-1\n","refreshToken":"refresh-1","expiresAt":1700000000000,"clientId":"client-1"})"
              "\n");
    const auto full = reader.readDetailed();
    ASSERT_TRUE(full);
    EXPECT_EQ(*full, *session.credential(CredentialSource::cliTokens));
    EXPECT_EQ(full->source, CredentialSource::cliTokens);
    EXPECT_EQ(reader.read(), full);
}

TEST_F(CLICredentialReaderTest, UnusableFilesAreErrorsNotNothing)
{
    putTokens("{\"accessToken\":\"  sk-live-123\\n\"}");
    EXPECT_EQ(readFailure<CLICredentialReader::ReaderError>(),
        "velmo CLI is using an API key, not a sign-in; run `velmo login`");
    putTokens(R"({"accessToken":" \t\r\n "})");
    EXPECT_EQ(readFailure<CLICredentialReader::ReaderError>(), "tokens.json contains an empty access token");
    for (const QByteArray& text : { QByteArray(), QByteArray("not json"), QByteArray(R"({"accessToken":17})"),
             QByteArray(R"([{"accessToken":"a"}])"), QByteArray("{\"accessToken\":\"a\"}garbage") }) {
        putTokens(text);
        EXPECT_FALSE(readFailure<VelmoJSON::DecodingError>().empty()) << text.toStdString();
    }
}

TEST_F(CLICredentialReaderTest, ThingsThatAreNotAFile)
{
    ASSERT_TRUE(QDir().mkdir(QString::fromStdString(reader.tokensFile())));
    EXPECT_EQ(readFailure<FileError>(), "Is a directory");
    ASSERT_TRUE(QDir().rmdir(QString::fromStdString(reader.tokensFile())));
    // A FIFO must neither hang the reader nor be read.
    ASSERT_EQ(::mkfifo(reader.tokensFile().c_str(), 0600), 0);
    EXPECT_EQ(readFailure<FileError>(), "not a regular file");
    ::unlink(reader.tokensFile().c_str());
    // A link to a regular file is followed.
    const std::string elsewhere = home.filePath("dotfiles-tokens.json").toStdString();
    writeFile(elsewhere, R"({"accessToken":"linked"})");
    ASSERT_EQ(::symlink(elsewhere.c_str(), reader.tokensFile().c_str()), 0);
    ASSERT_TRUE(reader.readDetailed());
    EXPECT_EQ(reader.readDetailed()->token, "linked");
}

TEST_F(CLICredentialReaderTest, UnreadableFile)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "permissions do not apply to root";
    putTokens(R"({"accessToken":"a"})");
    ::chmod(reader.tokensFile().c_str(), 0);
    EXPECT_EQ(readFailure<FileError>(), "Permission denied");
}

TEST_F(CLICredentialReaderTest, WriteReplacesTheFileWhole)
{
    writeFile(reader.tokensFile(), R"({"accessToken":"old"})", 0644);
    reader.write(session);
    const QByteArray written = readAll(reader.tokensFile());
    ASSERT_TRUE(written.endsWith("}\n"));
    EXPECT_EQ(written.count('\n'), 1);
    EXPECT_EQ(VelmoJSON::decode<StoredTokens>(written.toStdString()), session);
    EXPECT_EQ(fileMode(reader.tokensFile()), 0600u);
    EXPECT_EQ(readAll(reader.keyFile()), "access-1\n");
    EXPECT_EQ(fileMode(reader.keyFile()), 0600u);
    EXPECT_TRUE(velmo::test::temporaryFiles(reader.velmoDirectory()).isEmpty());

    // The folder is created; key holds the token exactly as given.
    CLICredentialReader fresh(home.filePath("new-home").toStdString());
    fresh.write(StoredTokens { .accessToken = " raw token " });
    EXPECT_EQ(readAll(fresh.keyFile()), " raw token \n");
}

TEST_F(CLICredentialReaderTest, FailedWriteKeepsTheOldFileAndNoTemporary)
{
    // Running out of space is covered in TokenCoordinatorTest. tokens.json replaced by a folder that holds something: the rename fails.
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(reader.tokensFile() + "/inside")));
    EXPECT_THROW(reader.write(session), FileError);
    EXPECT_TRUE(QFileInfo(QString::fromStdString(reader.tokensFile() + "/inside")).isDir());
    EXPECT_TRUE(velmo::test::temporaryFiles(reader.velmoDirectory()).isEmpty());

    // ~/.velmo is a file: nothing can be created.
    velmo::test::ScratchDir other;
    CLICredentialReader blocked(other.path().toStdString());
    writeFile(blocked.velmoDirectory(), "not a folder");
    EXPECT_THROW(blocked.write(session), FileError);
    EXPECT_EQ(readAll(blocked.velmoDirectory()), "not a folder");
}
