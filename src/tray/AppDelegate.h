#pragma once

#include "StatusItemController.h"

#include <QObject>

#include <memory>

class AppContainer;
class CredentialStoring;
class DesktopNotifier;
class RefreshTriggers;
class UsageAlerts;
class QSettings;
class SnapshotCache;

// The tray application's shell: builds the stores, the container and the
// status item in order, starts the container, opens the settings window on
// the very first launch without a session, and stops the container before
// the process ends (on Quit, SIGTERM or SIGINT).
class AppDelegate : public QObject {
    Q_OBJECT
public:
    struct Options {
        // None: the desktop keyring, or a file where there is none.
        std::shared_ptr<CredentialStoring> credentialStore;
        // None: the standard settings file.
        std::unique_ptr<QSettings> defaults;
        bool removeLegacyAPIKey = true;
        StatusItemController::Options item;
        // Notifications and the resume/network signals (off in tests that
        // bring no buses for them).
        bool desktopIntegration = true;
    };

    explicit AppDelegate(Options options, QObject* parent = nullptr);
    ~AppDelegate() override;

    // The start-up sequence; once.
    void start();
    // Stops the container, then ends the event loop with status 0.
    void quit();
    void showSettings();

    AppContainer* container() const { return m_container.get(); }
    StatusItemController* statusItem() const { return m_statusItem.get(); }

    // Run mode: the application object, one instance per session, the
    // delegate and the event loop. Returns the exit status.
    static int run(int argc, char** argv);

private:
    Options m_options;
    std::unique_ptr<AppContainer> m_container;
    std::unique_ptr<StatusItemController> m_statusItem;
    // They read the store and the item: destroyed before both.
    std::unique_ptr<DesktopNotifier> m_notifier;
    std::unique_ptr<UsageAlerts> m_alerts;
    std::unique_ptr<RefreshTriggers> m_triggers;
    bool m_quitting = false;
};
