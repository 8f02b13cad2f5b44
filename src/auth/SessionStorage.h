#pragma once

#include "CredentialStoring.h"

#include <QString>

#include <memory>

// Where the app keeps its own browser session: the desktop keyring when the
// session bus has a Secret Service provider, else a 0600 file in the app's
// data folder. `description` is what the settings window shows.
struct SessionStorage {
    std::shared_ptr<CredentialStoring> store;
    QString description;

    // "Desktop keyring (Secret Service)".
    static QString keyringDescription();
    // "File <path>".
    static QString fileDescription(const QString& path);

    // Asks the session bus (running or activatable org.freedesktop.secrets).
    static bool secretServiceAvailable();
    // The keyring store for service "velmo-usage", account "oauth-session",
    // or the file store at FileCredentialStore::defaultPath().
    static SessionStorage platformDefault();
};
