#include "CredentialResolver.h"

#include "CLITestSupport.h"
#include "FakeCredentialStore.h"
#include "TestSupport.h"

#include <QDir>

#include <gtest/gtest.h>

namespace {

class CredentialResolverTest : public testing::Test {
protected:
    void putCLITokens(const QByteArray& json)
    {
        ASSERT_TRUE(QDir().mkpath(QString::fromStdString(reader.velmoDirectory())));
        velmo::test::writeFile(reader.tokensFile(), json);
    }

    velmo::test::ScratchDir home;
    CLICredentialReader reader { home.path().toStdString() };
    std::shared_ptr<velmo::test::FakeCredentialStore> store = std::make_shared<velmo::test::FakeCredentialStore>();
    CredentialResolver resolver { store, reader };
};

const StoredTokens appSession { .accessToken = "app-token", .refreshToken = "app-refresh", .expiresAt = 1.7e12, .clientId = "app-client" };
const QByteArray cliSession = R"({"accessToken":"cli-token","refreshToken":"cli-refresh","clientId":"cli-client"})";

} // namespace

TEST_F(CredentialResolverTest, AppSessionFirstThenTheCLI)
{
    putCLITokens(cliSession);
    store->tokens = appSession;
    EXPECT_EQ(resolver.resolve(), appSession.credential(CredentialSource::app));
    // Empty store, or an unusable app record: the CLI's session.
    for (std::optional<StoredTokens> record : { std::optional<StoredTokens>(), std::optional(StoredTokens { .accessToken = " sk-live-123\n" }),
             std::optional(StoredTokens { .accessToken = " \n" }) }) {
        store->tokens = record;
        const auto credential = resolver.resolve();
        ASSERT_TRUE(credential);
        EXPECT_EQ(credential->token, "cli-token");
        EXPECT_EQ(credential->source, CredentialSource::cliTokens);
    }
}

TEST_F(CredentialResolverTest, FailingStoreMeansNoCredentialAndTheCLIIsNotConsulted)
{
    putCLITokens(cliSession);
    store->failLoad = true;
    EXPECT_EQ(resolver.resolve(), std::nullopt);
    EXPECT_TRUE(resolver.cliCredential());
}

TEST_F(CredentialResolverTest, NothingUsableAnywhere)
{
    EXPECT_EQ(resolver.resolve(), std::nullopt);
    EXPECT_EQ(resolver.cliCredential(), std::nullopt);
    putCLITokens(R"({"accessToken":"sk-live-1"})");
    EXPECT_EQ(resolver.resolve(), std::nullopt);
    EXPECT_THROW(resolver.cliCredential(), CLICredentialReader::ReaderError);
    putCLITokens("{broken");
    EXPECT_EQ(resolver.resolve(), std::nullopt);
    EXPECT_THROW(resolver.cliCredential(), VelmoJSON::DecodingError);
}
