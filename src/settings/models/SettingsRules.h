#pragma once

#include "ColorRole.h"
#include "Credential.h"
#include "CredentialStoring.h"
#include "UsageStore.h"

#include <QString>

#include <functional>
#include <optional>

// What the settings form shows, as plain functions of the stores' values:
// the account rows, the sign-in buttons, the velmo CLI row, the last update,
// the base-URL field's Apply button and the launch-at-login note.
namespace SettingsRules {

// The "Signed in via" row of a credential: the source's label and the
// masked token.
struct SignedInVia {
    QString source;
    QString masked;
    friend bool operator==(const SignedInVia&, const SignedInVia&) = default;
};
std::optional<SignedInVia> signedInVia(const std::optional<Credential>& credential);

// The line under it for a rejected or expired credential.
struct Note {
    QString text;
    QString icon; // a symbol name
    ColorRole color = ColorRole::secondary;
    friend bool operator==(const Note&, const Note&) = default;
};
std::optional<Note> statusNote(const UsageStore::Status& status);

// The browser sign-in row.
struct SignIn {
    QString buttonTitle; // "Waiting for browser…" or "Sign in with Browser"
    bool busy = false; // the spinner before the title; the button is disabled
    bool canCancel = false;
    bool canSignOut = false; // only the app's own session can be signed out here
    friend bool operator==(const SignIn&, const SignIn&) = default;
};
SignIn signIn(bool isSigningIn, const std::optional<Credential>& credential);

// The velmo CLI row: what `read` (the tool's token file) holds, and whether
// it is the credential in use. A failing read shows its own description.
QString cliStatus(const std::function<std::optional<Credential>()>& read, std::optional<CredentialSource> current);

// The snapshot's fetch time in the user's locale, or "Never".
QString lastUpdate(std::optional<Timestamp> fetchedAt);

// "Apply" only when the field differs from the stored override.
bool canApply(const QString& draft, const QString& stored);

// Where the app keeps its browser session; empty for a store that keeps
// nothing (as the screenshots' in-memory one).
QString sessionStorage(const CredentialStoring* store);

// The note under the launch-at-login toggle when it cannot be switched.
QString launchNote(bool available);

} // namespace SettingsRules
