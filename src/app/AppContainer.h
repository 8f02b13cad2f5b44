#pragma once

#include "CredentialStoring.h"
#include "CredentialWatcher.h"
#include "LoginController.h"
#include "RefreshWakeSignal.h"
#include "SettingsStore.h"
#include "SnapshotCache.h"
#include "UpdaterController.h"
#include "UsageStore.h"

#include <QObject>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>

// The composition root: owns the settings, the usage store, the login
// controller, the credential store, the updater and the wake signal, and runs
// the refresh loop (at start, every 15 minutes, and when woken). Main thread.
class AppContainer : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::seconds refreshInterval { 900 };
    static constexpr double refreshIntervalSeconds = 900.0;

    struct Options {
        // Opens the sign-in page; the desktop build passes the system browser.
        LoginController::BrowserOpener openBrowser;
        // Deletes the legacy API-key item; runs once, off the main thread.
        std::function<void()> removeLegacyAPIKey = &AppContainer::removeLegacyAPIKey;
    };

    AppContainer(std::unique_ptr<SettingsStore> settings, std::shared_ptr<CredentialStoring> credentialStore,
        std::optional<SnapshotCache> cache, Options options, QObject* parent = nullptr);
    ~AppContainer() override;

    SettingsStore& settings() const { return *m_settings; }
    UsageStore& store() const { return *m_store; }
    LoginController& login() const { return *m_login; }
    UpdaterController& updater() const { return *m_updater; }
    const std::shared_ptr<CredentialStoring>& credentialStore() const { return m_credentialStore; }
    RefreshWakeSignal& wakeSignal() const { return *m_wake; }

    // Starts the updater, shows the cache and the credential, starts the loop
    // and the watch for sessions changed by other processes.
    void start();
    // Ends the loop at once: a refresh in flight is cancelled (its requests
    // aborted, nothing published) and a wait ends; no new work starts after
    // it. Also stops the watch and the updater. stopped() follows.
    void stop();
    // The loop is running (between start() and the end of the loop).
    bool isRunning() const { return m_running; }
    // Asks the loop to refresh at once; coalesces.
    void refreshNow();
    // A new API client for the settings' base URL; forgets the old server's data.
    void applyBaseURL();
    // Deletes the app's own session (never the CLI's) and forgets the data.
    void signOut();

    static void removeLegacyAPIKey();

signals:
    // The loop has ended after stop(); the container may now be destroyed.
    void stopped();

private:
    // When the loop wakes next after a refresh at `now`: 900 s later, or when
    // a renewable session's last minute begins, if that comes first, so it
    // is renewed before it could show as expired.
    static Timestamp nextRefreshTime(Timestamp now, const std::optional<Credential>& credential);
    static QCoro::Task<> refreshLoop(QPointer<AppContainer> self, std::stop_token stop);
    VelmoClient makeClient() const;
    // Another process changed a session: reload it; refresh when it differs.
    void onSessionChanged();

    // Declared so that everything is destroyed before the settings it reads.
    std::unique_ptr<SettingsStore> m_settings;
    std::shared_ptr<CredentialStoring> m_credentialStore;
    Options m_options;
    std::unique_ptr<UpdaterController> m_updater;
    std::unique_ptr<RefreshWakeSignal> m_wake;
    std::unique_ptr<UsageStore> m_store;
    std::unique_ptr<LoginController> m_login;
    std::unique_ptr<CredentialWatcher> m_watcher;
    std::stop_source m_loopStop;
    bool m_running = false;
    bool m_destroying = false;
};
