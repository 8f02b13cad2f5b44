#pragma once

#include "Appcast.h"
#include "UpdateConfiguration.h"

#include <QCoroTask>
#include <QObject>

#include <functional>
#include <optional>
#include <stop_token>

class QSettings;

// One user-initiated update check, from "Checking for updates…" to the
// window closing: the feed is read, the result shown, and on request the
// update downloaded, verified and installed (an AppImage replaces itself;
// otherwise the download page opens in the browser). The "Software Update"
// window is a thin view over this model. Lives on the main thread.
class UpdateSession : public QObject {
    Q_OBJECT
    // Where the session is.
    Q_PROPERTY(State state READ state NOTIFY changed)
    // The window's bold first line.
    Q_PROPERTY(QString headline READ headline NOTIFY changed)
    // The sentence under it.
    Q_PROPERTY(QString message READ message NOTIFY changed)
    // The update's notes as plain text; empty when the feed has none.
    Q_PROPERTY(QString releaseNotes READ releaseNotes NOTIFY changed)
    // Bytes downloaded so far, and how many are expected (-1 when unknown).
    Q_PROPERTY(qint64 bytesReceived READ bytesReceived NOTIFY progressChanged)
    Q_PROPERTY(qint64 bytesExpected READ bytesExpected NOTIFY progressChanged)
    // "12.5 MB of 80 MB" while downloading; empty otherwise.
    Q_PROPERTY(QString progressText READ progressText NOTIFY progressChanged)

public:
    enum class State { Checking, UpdateAvailable, UpToDate, Downloading, Installed, Failed };
    Q_ENUM(State)
    enum class Action {
        Install,
        OpenDownloadPage,
        RemindLater,
        SkipVersion,
        ReleaseNotes,
        Cancel,
        Relaunch,
        Later,
        Done
    };
    Q_ENUM(Action)
    // How the session ended, for the log.
    enum class Outcome { Finished, UpToDate, Canceled, Failed };

    struct Button {
        Action action;
        QString label;
        bool isDefault = false;
        bool operator==(const Button&) const = default;
    };

    // What the session does outside itself; tests replace both.
    struct Platform {
        std::function<void(const QUrl&)> openURL; // the default browser
        std::function<void(const QString& appImagePath)> relaunch; // start the new file, quit this one
        static Platform system();
    };

    // The settings key that holds the version the user chose to skip.
    static constexpr char skippedVersionKey[] = "skippedUpdateVersion";

    // `defaults` is not owned and must outlive the session.
    UpdateSession(
        UpdateConfiguration configuration, QSettings* defaults, Platform platform, QObject* parent = nullptr);
    ~UpdateSession() override;

    // Reads the feed. Call once.
    void start();

    State state() const { return m_state; }
    QString headline() const;
    QString message() const;
    QString releaseNotes() const;
    qint64 bytesReceived() const { return m_received; }
    qint64 bytesExpected() const { return m_expected; }
    QString progressText() const;
    // The buttons of the current state, left to right, at most one default.
    QList<Button> buttons() const;
    // The update on offer once one was found.
    const std::optional<AppcastItem>& update() const { return m_update; }
    // Set once the session has ended.
    bool isFinished() const { return m_finished; }

    // What a button does; an action that does not belong to the current
    // state does nothing.
    Q_INVOKABLE void trigger(Action action);
    // The window was closed: cancels work in progress, else ends the session.
    Q_INVOKABLE void close();

signals:
    void changed();
    void progressChanged();
    // An update is about to be shown to the user.
    void willShowUpdate();
    // Somebody asked for a check while this one is open: bring it forward.
    void raiseRequested();
    // The session has ended (once); the window goes away.
    void finished(UpdateSession::Outcome outcome, const QString& error);

private:
    QCoro::Task<> check(std::stop_token stop);
    QCoro::Task<> download(std::stop_token stop);
    void setState(State state);
    void setProgress(qint64 received, qint64 expected);
    void fail(const QString& error);
    void finish(Outcome outcome);

    UpdateConfiguration m_configuration;
    QSettings* m_defaults;
    Platform m_platform;
    std::stop_source m_stop;
    State m_state = State::Checking;
    std::optional<AppcastItem> m_update;
    QString m_error;
    qint64 m_received = 0;
    qint64 m_expected = -1;
    bool m_finished = false;
};
