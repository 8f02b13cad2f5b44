#pragma once

#include <QObject>
#include <QString>

class QSettings;

// Software updates. This build has no update feed or signing key compiled
// in, so the controller stays inactive: it reads and keeps the user's
// preference and says why it is off, and never touches the network.
class UpdaterController : public QObject {
    Q_OBJECT
    // True once started with a usable feed; never in this build.
    Q_PROPERTY(bool isActive READ isActive NOTIFY isActiveChanged)
    // Whether the hourly probe runs (the "automaticallyChecksForUpdates" key).
    Q_PROPERTY(bool automaticallyChecksForUpdates READ automaticallyChecksForUpdates WRITE
            setAutomaticallyChecksForUpdates NOTIFY automaticallyChecksForUpdatesChanged)
    // The version the last probe found; empty when none.
    Q_PROPERTY(QString availableUpdateVersion READ availableUpdateVersion NOTIFY availableUpdateVersionChanged)
    // False while a check runs (and always while inactive).
    Q_PROPERTY(bool canCheckForUpdates READ canCheckForUpdates NOTIFY canCheckForUpdatesChanged)

public:
    // `defaults` is not owned and must outlive the controller.
    explicit UpdaterController(QSettings* defaults, QObject* parent = nullptr);

    bool isActive() const { return m_isActive; }
    bool automaticallyChecksForUpdates() const { return m_automaticallyChecks; }
    void setAutomaticallyChecksForUpdates(bool enabled);
    const QString& availableUpdateVersion() const { return m_availableUpdateVersion; }
    // Set by a probe; tests and the screenshot mode set it directly.
    void setAvailableUpdateVersion(const QString& version);
    bool canCheckForUpdates() const { return m_canCheckForUpdates; }

    // A user-initiated check with its window; nothing while inactive.
    Q_INVOKABLE void checkForUpdates();
    // The banner's install button: the same as checkForUpdates().
    Q_INVOKABLE void installAvailableUpdate();
    // The banner's close button: hides the banner until the next probe.
    Q_INVOKABLE void dismissAvailableUpdate();

    // Starts once; a second call does nothing.
    void start();
    void stop();

signals:
    void isActiveChanged();
    void automaticallyChecksForUpdatesChanged();
    void availableUpdateVersionChanged();
    void canCheckForUpdatesChanged();

private:
    QSettings* m_defaults;
    bool m_started = false;
    bool m_isActive = false;
    bool m_automaticallyChecks = true;
    bool m_canCheckForUpdates = false;
    QString m_availableUpdateVersion;
};
