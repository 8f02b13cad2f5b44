#include "CLICredentialReader.h"
#include "FileError.h"

#include "TestSupport.h"

#include <QDir>

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

    // The token read, or the failure's text ("" for nothing at all).
    std::string outcome()
    {
        try {
            const auto credential = reader.readDetailed();
            EXPECT_EQ(reader.read(), credential);
            return credential ? "token " + credential->token : "";
        } catch (const std::exception& error) {
            EXPECT_EQ(reader.read(), std::nullopt);
            return dynamic_cast<const VelmoJSON::DecodingError*>(&error) ? "DecodingError" : error.what();
        }
    }

    velmo::test::ScratchDir home;
    CLICredentialReader reader { home.path().toStdString() };
};

const StoredTokens session { .accessToken = "access-1", .refreshToken = "refresh-1", .expiresAt = 1.7e12, .clientId = "client-1" };

} // namespace

TEST_F(CLICredentialReaderTest, WhatTheFileHoldsOrIs)
{
    const std::string path = reader.tokensFile();
    const std::string elsewhere = home.filePath("dotfiles-tokens.json").toStdString();
    const auto text = [&](QByteArray json) { return [&path, json] { writeFile(path, json); }; };
    const struct { std::function<void()> make; std::string expected; } cases[] = {
        { [] {}, "" },
        // A dangling symbolic link: nothing exists at the path.
        { [&] { ::symlink("gone.json", path.c_str()); }, "" },
        { text(R"({"accessToken":" access-1\n","refreshToken":"r"})" "\n"), "token access-1" },
        { text("{\"accessToken\":\"  sk-live-123\\n\"}"), "velmo CLI is using an API key, not a sign-in; run `velmo login`" },
        { text(R"({"accessToken":" \t\r\n "})"), "tokens.json contains an empty access token" },
        { text(R"({"accessToken":17})"), "DecodingError" },
        { text("{\"accessToken\":\"a\"}garbage"), "DecodingError" },
        { text(""), "DecodingError" },
        { [&] { QDir().mkdir(QString::fromStdString(path)); }, "Is a directory" },
        // Unreadable for the system (a link to itself), a FIFO (which must
        // neither hang the reader nor be read).
        { [&] { ::symlink(path.c_str(), path.c_str()); }, "Too many levels of symbolic links" },
        { [&] { ::mkfifo(path.c_str(), 0600); }, "not a regular file" },
        { [&] { writeFile(elsewhere, R"({"accessToken":"linked"})"), ::symlink(elsewhere.c_str(), path.c_str()); }, "token linked" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        c.make();
        EXPECT_EQ(outcome(), c.expected);
        QDir(QString::fromStdString(path)).removeRecursively();
        ::unlink(path.c_str());
    }
}

TEST_F(CLICredentialReaderTest, WriteCreatesTheFolderAndFailedWritesKeepTheOld)
{
    // The folder is created; key holds the token exactly as given.
    CLICredentialReader fresh(home.filePath("new-home").toStdString());
    fresh.write(StoredTokens { .accessToken = " raw token " });
    EXPECT_EQ(readAll(fresh.keyFile()), " raw token \n");
    EXPECT_EQ(readAll(fresh.tokensFile()).count('\n'), 1); // one line, as the tool writes it
    EXPECT_EQ(std::pair(fileMode(fresh.tokensFile()), fileMode(fresh.keyFile())), std::pair(0600u, 0600u));
    EXPECT_EQ(QDir(QString::fromStdString(fresh.velmoDirectory())).entryList(QDir::Files), (QStringList { "key", "tokens.json" }));

    // tokens.json replaced by a folder that holds something: the rename fails.
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(fresh.tokensFile() + ".d/inside")));
    ::unlink(fresh.tokensFile().c_str());
    ASSERT_TRUE(QDir().rename(QString::fromStdString(fresh.tokensFile() + ".d"), QString::fromStdString(fresh.tokensFile())));
    EXPECT_THROW(fresh.write(session), FileError);
    EXPECT_TRUE(QFileInfo(QString::fromStdString(fresh.tokensFile() + "/inside")).isDir());
    EXPECT_TRUE(QDir(QString::fromStdString(fresh.velmoDirectory())).entryList({ "*.tmp" }).isEmpty());

    // ~/.velmo is a file: nothing can be created.
    ASSERT_TRUE(QDir().mkpath(home.filePath("blocked")));
    CLICredentialReader blocked(home.filePath("blocked").toStdString());
    writeFile(blocked.velmoDirectory(), "not a folder");
    EXPECT_THROW(blocked.write(session), FileError);
    EXPECT_EQ(readAll(blocked.velmoDirectory()), "not a folder");
}
