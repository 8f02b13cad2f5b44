#include "CredentialResolver.h"

#include "TestSupport.h"
#include "FakeCredentialStore.h"

#include <QDir>

#include <gtest/gtest.h>

TEST(CredentialResolverTest, AppSessionFirstThenTheCLIsAlsoWhenTheStoreFails)
{
    const StoredTokens appSession { .accessToken = "app-token", .refreshToken = "r", .expiresAt = 1.7e12, .clientId = "c" };
    const QByteArray cliSession = R"({"accessToken":"cli-token","refreshToken":"r","clientId":"c"})";
    const struct {
        std::optional<StoredTokens> app;
        bool storeFails;
        QByteArray cliFile;
        std::string token; // "" for no credential
        CredentialSource source;
    } cases[] = {
        { appSession, false, cliSession, "app-token", CredentialSource::app },
        { std::nullopt, false, cliSession, "cli-token", CredentialSource::cliTokens },
        { StoredTokens { .accessToken = " sk-live-123\n" }, false, cliSession, "cli-token", CredentialSource::cliTokens },
        { StoredTokens { .accessToken = " \n" }, false, cliSession, "cli-token", CredentialSource::cliTokens },
        { appSession, true, cliSession, "cli-token", CredentialSource::cliTokens },
        { std::nullopt, false, R"({"accessToken":"sk-live-1"})", "", {} },
        { std::nullopt, false, "{broken", "", {} },
        { std::nullopt, false, {}, "", {} },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cliFile.toStdString());
        velmo::test::ScratchDir home;
        const CLICredentialReader reader(home.path().toStdString());
        if (!c.cliFile.isNull()) {
            ASSERT_TRUE(QDir().mkpath(QString::fromStdString(reader.velmoDirectory())));
            velmo::test::writeFile(reader.tokensFile(), c.cliFile);
        }
        auto store = std::make_shared<velmo::test::FakeCredentialStore>();
        store->tokens = c.app;
        store->failLoad = c.storeFails;
        const CredentialResolver resolver(store, reader);
        const auto credential = resolver.resolve();
        EXPECT_EQ(credential ? credential->token : "", c.token);
        EXPECT_EQ(credential ? credential->source : c.source, c.source);
        // The settings window reads the tool's state with its reason.
        if (c.cliFile.startsWith("{b")) {
            EXPECT_THROW(resolver.cliCredential(), VelmoJSON::DecodingError);
        }
        if (c.storeFails) {
            EXPECT_EQ(resolver.cliCredential()->token, "cli-token");
        }
    }
}
