#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <chrono>

// Notices that another process may have changed a session: the velmo tool's
// folder (tokens.json is replaced by a rename, so its folder is watched, or
// the nearest existing parent until the folder appears), the folder of the
// app's own session file, and the keyring's item signals. A burst of events
// (one rename is several; a keyring write sends more than one signal) comes
// out as one changed() a moment after the first. Main thread.
class CredentialWatcher : public QObject {
    Q_OBJECT
public:
    // How long events are gathered before changed() is emitted.
    static constexpr std::chrono::milliseconds gatherTime { 150 };

    // `folders` are watched from start() on; `keyring` adds the Secret
    // Service collections' ItemCreated/ItemChanged/ItemDeleted signals.
    CredentialWatcher(QStringList folders, bool keyring, QObject* parent = nullptr);
    ~CredentialWatcher() override;

    void start();
    void stop();
    bool isWatching() const { return m_watching; }

signals:
    // Some watched session may differ now: read it again.
    void changed();

public slots:
    // A keyring item was created, changed or deleted. (Its path is not
    // needed; Qt D-Bus also finds a slot without parameters more reliably.)
    void onKeyringItem();

private:
    void onFolderChanged(const QString& path);
    // Watches each folder, or its nearest existing parent while it is missing.
    void rewatch();
    void connectKeyring(bool connect);

    QStringList m_folders;
    bool m_keyring;
    bool m_watching = false;
    QFileSystemWatcher m_files;
    QTimer m_gather;
};
