#pragma once

#include "UpdateConfiguration.h"
#include "UpdateSession.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>

class QSettings;

// Software updates on our own schedule. Once started with a usable feed, a
// background probe reads the feed 15 s after start and then hourly (on a
// clock that counts suspended time) and publishes a newer version in
// `availableUpdateVersion`, which the panel shows as a banner. Installing
// opens the "Software Update" window (an UpdateSession). Builds without a
// feed and key stay inactive: every operation is then a no-op. Lives on the
// main thread.
class UpdaterController : public QObject {
    Q_OBJECT
    // True once started with a usable feed.
    Q_PROPERTY(bool isActive READ isActive NOTIFY isActiveChanged)
    // Whether the hourly probe runs (the "automaticallyChecksForUpdates" key).
    Q_PROPERTY(bool automaticallyChecksForUpdates READ automaticallyChecksForUpdates WRITE
            setAutomaticallyChecksForUpdates NOTIFY automaticallyChecksForUpdatesChanged)
    // The version the last probe found; empty when none.
    Q_PROPERTY(
        QString availableUpdateVersion READ availableUpdateVersion NOTIFY availableUpdateVersionChanged)
    // False while a check runs (and always while inactive).
    Q_PROPERTY(bool canCheckForUpdates READ canCheckForUpdates NOTIFY canCheckForUpdatesChanged)

public:
    // Starts a one-shot timer calling `fire` after `timeout`; destroying the
    // returned object cancels it. Tests pass their own.
    using TimerFactory = std::function<std::unique_ptr<QObject>(
        std::chrono::milliseconds timeout, std::function<void()> fire)>;
    // Shows a new session to the user (by default the "Software Update"
    // window, when the application has widgets).
    using SessionPresenter = std::function<void(UpdateSession& session)>;

    static constexpr std::chrono::seconds firstProbeDelay { 15 };
    static constexpr std::chrono::seconds checkInterval { 3600 };

    // `defaults` is not owned and must outlive the controller. Uses this
    // build's feed (UpdateConfiguration::fromBuild) and the boot clock.
    explicit UpdaterController(QSettings* defaults, QObject* parent = nullptr);
    UpdaterController(QSettings* defaults, UpdateConfiguration configuration, TimerFactory timers,
        QObject* parent = nullptr);
    ~UpdaterController() override;

    bool isActive() const { return m_isActive; }
    bool automaticallyChecksForUpdates() const { return m_automaticallyChecks; }
    // Stores the preference and, while active, restarts the probe loop (its
    // first probe 15 s later) or ends it.
    void setAutomaticallyChecksForUpdates(bool enabled);
    const QString& availableUpdateVersion() const { return m_availableUpdateVersion; }
    // Set by a probe; tests and the screenshot mode set it directly.
    void setAvailableUpdateVersion(const QString& version);
    bool canCheckForUpdates() const { return m_canCheckForUpdates; }

    // A user-initiated check with its window; brings an open one forward;
    // nothing while inactive.
    Q_INVOKABLE void checkForUpdates();
    // The banner's install button: the same as checkForUpdates().
    Q_INVOKABLE void installAvailableUpdate();
    // The banner's close button: hides the banner until the next probe.
    Q_INVOKABLE void dismissAvailableUpdate();

    // Starts once; a second call does nothing. Logs why when inactive.
    void start();
    // Ends the probe loop (at application exit); nothing else changes.
    void stop();

    // The open update session, if any.
    UpdateSession* session() const { return m_session; }
    void setSessionPresenter(SessionPresenter presenter) { m_presenter = std::move(presenter); }
    // Whether a probe loop is scheduled.
    bool isProbing() const { return static_cast<bool>(m_probeTimer); }

signals:
    void isActiveChanged();
    void automaticallyChecksForUpdatesChanged();
    void availableUpdateVersionChanged();
    void canCheckForUpdatesChanged();
    // A background probe has ended, whatever it found.
    void probeFinished();

private:
    void scheduleProbes();
    void armProbeTimer(std::chrono::seconds delay);
    void probe();
    QCoro::Task<> runProbe(std::stop_token stop);
    void cancelProbe();
    void sessionFinished(UpdateSession::Outcome outcome, const QString& error);
    void updateCanCheck();

    QSettings* m_defaults;
    UpdateConfiguration m_configuration;
    TimerFactory m_timers;
    SessionPresenter m_presenter;
    bool m_isActive = false;
    bool m_automaticallyChecks = true;
    bool m_canCheckForUpdates = false;
    QString m_availableUpdateVersion;
    std::unique_ptr<QObject> m_probeTimer;
    std::optional<std::stop_source> m_probe; // the probe in flight
    QPointer<UpdateSession> m_session;
};
