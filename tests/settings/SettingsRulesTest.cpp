// The settings form's rules as tables, without any window.
#include "CLICredentialReader.h"
#include "FileCredentialStore.h"
#include "InMemoryCredentialStore.h"
#include "KeychainCredentialStore.h"
#include "SettingsRules.h"
#include "TestSupport.h"
#include "AppInfo.h"

#include <gtest/gtest.h>

namespace {

using Status = UsageStore::Status;
using SettingsRules::Note;

const Credential cli { .token = "vat_cli_0123456789ab", .source = CredentialSource::cliTokens };

TEST(SettingsRules, OnlyRejectedAndExpiredSessionsGetANote)
{
    struct Case { Status status; std::optional<Note> note; };
    for (const Case& c : std::initializer_list<Case> {
             { Status::credentialRejected("Invalid token"), Note { "Invalid token", "xmark.octagon.fill", ColorRole::red } },
             { Status::credentialExpired(), Note { "Session expired — sign in again", "clock.badge.exclamationmark", ColorRole::orange } },
             { Status::error("upstream down"), std::nullopt },
             { Status::noCredential(), std::nullopt },
             { Status::ok(), std::nullopt },
         })
        EXPECT_EQ(SettingsRules::statusNote(c.status), c.note) << static_cast<int>(c.status.kind());
    EXPECT_EQ(SettingsRules::statusNote(Status::credentialRejected("bad\x1b[2Jtoken"))->text, "bad[2Jtoken");
}

// What the CLI's session is to the settings window; failures read as the
// reader describes them, cleaned of control characters.
TEST(SettingsRules, CLIStatusForEachReaderOutcome)
{
    using ReaderError = CLICredentialReader::ReaderError;
    struct Case {
        std::function<std::optional<Credential>()> read;
        std::optional<CredentialSource> current;
        QString status;
    };
    for (const Case& c : std::initializer_list<Case> {
             { [] { return std::nullopt; }, CredentialSource::app, "Not signed in" },
             { [] { return cli; }, CredentialSource::cliTokens, "In use" },
             { [] { return cli; }, CredentialSource::app, "Signed in" },
             { [] { return cli; }, std::nullopt, "Signed in" },
             { []() -> std::optional<Credential> { throw ReaderError(ReaderError::staticKey); }, std::nullopt, "API key — run `velmo login`" },
             { []() -> std::optional<Credential> { throw ReaderError(ReaderError::invalidToken); }, std::nullopt,
                 "tokens.json contains an empty access token" },
             { []() -> std::optional<Credential> { throw std::runtime_error("Is a\x1b[2J directory"); }, std::nullopt, "Is a[2J directory" },
         })
        EXPECT_EQ(SettingsRules::cliStatus(c.read, c.current), c.status);
}

TEST(SettingsRules, SmallTexts)
{
    EXPECT_NE(SettingsRules::lastUpdate(std::chrono::system_clock::now()), "Never"); // "Never": the form's walk
    EXPECT_FALSE(SettingsRules::canApply("https://a.test", "https://a.test"));
    EXPECT_TRUE(SettingsRules::canApply(" https://a.test", "https://a.test"));
    EXPECT_TRUE(SettingsRules::canApply("", "https://a.test"));
    EXPECT_EQ(SettingsRules::launchNote(true), ""); // the other note: the form's walk
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
    struct Case { QString version, build, label; };
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
