// The settings form's rules as tables, without any window.
#include "CLICredentialReader.h"
#include "FileCredentialStore.h"
#include "InMemoryCredentialStore.h"
#include "KeychainCredentialStore.h"
#include "SettingsRules.h"
#include "../auth/QtPrinters.h"
#include "TestSupport.h"
#include "AppInfo.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

namespace {

using Status = UsageStore::Status;
using SettingsRules::Note;
using SettingsRules::SignIn;

const Credential browser { .token = "vat_0123456789abcdef", .source = CredentialSource::app };
const Credential cli { .token = "vat_cli_0123456789ab", .source = CredentialSource::cliTokens };

TEST(SettingsRules, OnlyRejectedAndExpiredSessionsGetANote)
{
    struct Case {
        Status status;
        std::optional<Note> note;
    };
    for (const Case& c : std::initializer_list<Case> {
             { Status::credentialRejected("Invalid token"), Note { "Invalid token", "xmark.octagon.fill", ColorRole::red } },
             { Status::credentialExpired(),
                 Note { "Session expired — sign in again", "clock.badge.exclamationmark", ColorRole::orange } },
             { Status::error("upstream down"), std::nullopt },
             { Status::noCredential(), std::nullopt },
             { Status::ok(), std::nullopt },
         })
        EXPECT_EQ(SettingsRules::statusNote(c.status), c.note) << static_cast<int>(c.status.kind());
    EXPECT_EQ(SettingsRules::statusNote(Status::credentialRejected("bad\x1b[2Jtoken"))->text, "bad[2Jtoken");
}

TEST(SettingsRules, SignInRowOffersCancelWhileWaitingAndSignOutForTheAppsOwnSession)
{
    struct Case {
        bool signingIn;
        std::optional<Credential> credential;
        SignIn row;
    };
    for (const Case& c : std::initializer_list<Case> {
             { false, std::nullopt, { "Sign in with Browser", false, false, false } },
             { false, browser, { "Sign in with Browser", false, false, true } },
             { false, cli, { "Sign in with Browser", false, false, false } },
             { true, std::nullopt, { "Waiting for browser…", true, true, false } },
             { true, browser, { "Waiting for browser…", true, true, true } },
         })
        EXPECT_EQ(SettingsRules::signIn(c.signingIn, c.credential), c.row) << c.signingIn << c.credential.has_value();
}

// Each thing the velmo CLI's token file can hold, read by the real reader.
TEST(SettingsRules, CLIStatusForEachReaderOutcome)
{
    struct Case {
        const char* name;
        std::optional<QByteArray> file; // none: no tokens.json; "/": a folder in its place
        std::optional<CredentialSource> current;
        QString status;
    };
    const QByteArray session = R"({"accessToken":"vat_cli","refreshToken":"r","expiresAt":1,"clientId":"c"})";
    for (const Case& c : std::initializer_list<Case> {
             { "no file", std::nullopt, std::nullopt, "Not signed in" },
             { "session, in use", session, CredentialSource::cliTokens, "In use" },
             { "session, app's own in use", session, CredentialSource::app, "Signed in" },
             { "session, nothing in use", session, std::nullopt, "Signed in" },
             { "api key", R"({"accessToken":"  sk-live-123"})", std::nullopt, "API key — run `velmo login`" },
             { "empty token", R"({"accessToken":" "})", std::nullopt, "tokens.json contains an empty access token" },
             { "not json", "{", std::nullopt, "" },
             { "a folder", "/", std::nullopt, "" },
         }) {
        SCOPED_TRACE(c.name);
        velmo::test::ScratchDir home;
        const CLICredentialReader reader(home.path().toStdString());
        QDir().mkpath(QString::fromStdString(reader.velmoDirectory()));
        const QString tokens = QString::fromStdString(reader.tokensFile());
        if (c.file == "/") {
            QDir().mkpath(tokens);
        } else if (c.file) {
            QFile out(tokens);
            ASSERT_TRUE(out.open(QIODevice::WriteOnly));
            out.write(*c.file);
        }
        const QString status = SettingsRules::cliStatus([&] { return reader.readDetailed(); }, c.current);
        if (c.status.isEmpty()) {
            // A failing read shows the reader's own description.
            std::string description;
            try {
                reader.readDetailed();
            } catch (const std::exception& error) {
                description = error.what();
            }
            ASSERT_FALSE(description.empty());
            EXPECT_EQ(status.toStdString(), description);
        } else {
            EXPECT_EQ(status, c.status);
        }
    }
}

TEST(SettingsRules, SmallTexts)
{
    EXPECT_EQ(SettingsRules::lastUpdate(std::nullopt), "Never");
    EXPECT_NE(SettingsRules::lastUpdate(std::chrono::system_clock::now()), "Never");
    EXPECT_FALSE(SettingsRules::canApply("https://a.test", "https://a.test"));
    EXPECT_TRUE(SettingsRules::canApply(" https://a.test", "https://a.test"));
    EXPECT_TRUE(SettingsRules::canApply("", "https://a.test"));
    EXPECT_EQ(SettingsRules::launchNote(false), "Available when running from an installed copy.");
    EXPECT_EQ(SettingsRules::launchNote(true), "");
}

TEST(SettingsRules, SessionStorageNamesTheKeyringOrTheFile)
{
    const KeychainCredentialStore keyring("velmo-usage", "oauth-session");
    FileCredentialStore file("/home/u/.local/share/VelmoUsage/session.json");
    InMemoryCredentialStore memory;
    EXPECT_EQ(SettingsRules::sessionStorage(&keyring), "Desktop keyring (Secret Service)");
    EXPECT_EQ(SettingsRules::sessionStorage(&file), "File /home/u/.local/share/VelmoUsage/session.json");
    EXPECT_EQ(SettingsRules::sessionStorage(&memory), "");
}

TEST(AppInfo, VersionLabelIsVersionThenBuildOrDev)
{
    struct Case {
        QString version, build, label;
    };
    for (const Case& c : std::initializer_list<Case> {
             { "1.2", "34", "1.2 (34)" },
             { "1.2", "", "1.2" },
             { "", "34", "dev" },
             { "", "", "dev" },
         })
        EXPECT_EQ((AppInfo { .version = c.version, .build = c.build }).versionLabel(), c.label)
            << c.version.toStdString() << "/" << c.build.toStdString();
}

} // namespace
