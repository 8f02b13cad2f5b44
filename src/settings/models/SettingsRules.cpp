#include "SettingsRules.h"

#include "CLICredentialReader.h"
#include "FileCredentialStore.h"
#include "Formatters.h"
#include "KeychainCredentialStore.h"
#include "SafeText.h"
#include "SessionStorage.h"

#include <QCoreApplication>

namespace SettingsRules {

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("SettingsRules", text);
}

QString text(std::string_view utf8)
{
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

} // namespace

std::optional<SignedInVia> signedInVia(const std::optional<Credential>& credential)
{
    if (!credential)
        return std::nullopt;
    return SignedInVia { text(label(credential->source)), QString::fromStdString(credential->masked()) };
}

std::optional<Note> statusNote(const UsageStore::Status& status)
{
    switch (status.kind()) {
    case UsageStore::Status::Kind::credentialRejected:
        return Note { SafeText::clean(QString::fromStdString(status.message())), QStringLiteral("xmark.octagon.fill"),
            ColorRole::red };
    case UsageStore::Status::Kind::credentialExpired:
        return Note { tr("Session expired — sign in again"), QStringLiteral("clock.badge.exclamationmark"),
            ColorRole::orange };
    default:
        return std::nullopt;
    }
}

SignIn signIn(bool isSigningIn, const std::optional<Credential>& credential)
{
    return { isSigningIn ? tr("Waiting for browser…") : tr("Sign in with Browser"), isSigningIn, isSigningIn,
        credential && credential->source == CredentialSource::app };
}

QString cliStatus(const std::function<std::optional<Credential>()>& read, std::optional<CredentialSource> current)
{
    try {
        if (!read())
            return tr("Not signed in");
    } catch (const CLICredentialReader::ReaderError& error) {
        if (error.kind() == CLICredentialReader::ReaderError::staticKey)
            return tr("API key — run `velmo login`");
        return SafeText::clean(QString::fromUtf8(error.what()));
    } catch (const std::exception& error) {
        return SafeText::clean(QString::fromUtf8(error.what()));
    }
    return current == CredentialSource::cliTokens ? tr("In use") : tr("Signed in");
}

QString lastUpdate(std::optional<Timestamp> fetchedAt)
{
    return fetchedAt ? QString::fromStdString(Formatters::dateTime(*fetchedAt)) : tr("Never");
}

bool canApply(const QString& draft, const QString& stored)
{
    return draft != stored;
}

QString sessionStorage(const CredentialStoring* store)
{
    if (dynamic_cast<const KeychainCredentialStore*>(store))
        return SessionStorage::keyringDescription();
    if (const auto* file = dynamic_cast<const FileCredentialStore*>(store))
        return SessionStorage::fileDescription(QString::fromStdString(file->path()));
    return {};
}

QString launchNote(bool available)
{
    return available ? QString() : tr("Available when running from an installed copy.");
}

} // namespace SettingsRules
