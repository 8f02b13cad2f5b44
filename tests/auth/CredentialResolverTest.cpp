#include "CredentialResolver.h"

#include "TestSupport.h"
#include "FakeCredentialStore.h"

#include <QDir>

#include <gtest/gtest.h>

TEST(CredentialResolverTest, AppSessionFirstThenTheCLIsAlsoWhenTheStoreFails)
{
    const StoredTokens appSession { .accessToken = "app-token", .refreshToken = "r", .expiresAt = 1.7e12, .clientId = "c" };
    const QByteArray cliSession = R"({"accessToken":"cli-token","refreshToken":"r","clientId":"c"})";
    // token: "" for no credential
    const struct { std::optional<StoredTokens> app; bool storeFails; QByteArray cliFile; std::string token; CredentialSource source; } cases[] = {
        { appSession, false, cliSession, "app-token", CredentialSource::app },
        { std::nullopt, false, cliSession, "cli-token", CredentialSource::cliTokens },
        // A record that is no session (an API key) gives way too.
        { StoredTokens { .accessToken = " sk-live-123\n" }, false, cliSession, "cli-token", CredentialSource::cliTokens },
        { appSession, true, cliSession, "cli-token", CredentialSource::cliTokens },
        // A broken file of the tool's is no credential, not a failure.
        { std::nullopt, false, "{broken", "", {} },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cliFile.toStdString());
        velmo::test::ScratchDir home;
        const CLICredentialReader reader(home.path().toStdString());
        ASSERT_TRUE(QDir().mkpath(QString::fromStdString(reader.velmoDirectory())));
        velmo::test::writeFile(reader.tokensFile(), c.cliFile);
        auto store = std::make_shared<velmo::test::FakeCredentialStore>();
        store->tokens = c.app;
        store->failLoad = c.storeFails;
        const auto credential = CredentialResolver(store, reader).resolve();
        EXPECT_EQ(credential ? credential->token : "", c.token);
        EXPECT_EQ(credential ? credential->source : c.source, c.source);
    }
}
