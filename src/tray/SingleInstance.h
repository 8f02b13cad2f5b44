#pragma once

#include <QLockFile>
#include <QObject>
#include <QString>

#include <memory>

class QLocalServer;

// One tray application per user session. The first launch holds a lock file
// and listens on a local socket in $XDG_RUNTIME_DIR; a later launch finds the
// lock taken, asks the first one (over the socket) to show its settings
// window and exits. A lock left by a crashed process is taken over.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    // `folder` empty: $XDG_RUNTIME_DIR, else the temporary folder.
    explicit SingleInstance(QString folder = {}, QObject* parent = nullptr);
    ~SingleInstance() override;

    // Takes the lock: true for the first instance, which then listens.
    bool claim();
    // For a later instance: asks the first one to show its settings; true
    // once it has confirmed (it may still be starting, so this waits a while).
    bool handOver();

    QString socketPath() const { return m_socketPath; }

signals:
    // Another launch asked for the settings window.
    void showSettingsRequested();

private:
    QString m_socketPath;
    QLockFile m_lock;
    std::unique_ptr<QLocalServer> m_server;
};
