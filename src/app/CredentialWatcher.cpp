#include "CredentialWatcher.h"

#include <QDBusConnection>
#include <QDir>
#include <QFileInfo>
#include <QSet>

namespace {
const QString secretsService = QStringLiteral("org.freedesktop.secrets");
const QString collectionInterface = QStringLiteral("org.freedesktop.Secret.Collection");
const char* const itemSignals[] = { "ItemCreated", "ItemChanged", "ItemDeleted" };

// The folder itself when it exists, else its nearest existing parent.
QString nearestExisting(QString path)
{
    while (!QFileInfo(path).isDir()) {
        const QString parent = QFileInfo(path).absolutePath();
        if (parent == path)
            break;
        path = parent;
    }
    return path;
}
} // namespace

CredentialWatcher::CredentialWatcher(QStringList folders, bool keyring, QObject* parent)
    : QObject(parent)
    , m_folders(std::move(folders))
    , m_keyring(keyring)
{
    for (QString& folder : m_folders)
        folder = QDir::cleanPath(QDir(folder).absolutePath());
    m_gather.setSingleShot(true);
    m_gather.setInterval(gatherTime);
    connect(&m_gather, &QTimer::timeout, this, &CredentialWatcher::changed);
    connect(&m_files, &QFileSystemWatcher::directoryChanged, this, &CredentialWatcher::onFolderChanged);
}

CredentialWatcher::~CredentialWatcher()
{
    stop();
}

void CredentialWatcher::start()
{
    if (m_watching)
        return;
    m_watching = true;
    rewatch();
    if (m_keyring)
        connectKeyring(true);
}

void CredentialWatcher::stop()
{
    if (!m_watching)
        return;
    m_watching = false;
    m_gather.stop();
    if (const QStringList watched = m_files.directories(); !watched.isEmpty())
        m_files.removePaths(watched);
    if (m_keyring)
        connectKeyring(false);
}

void CredentialWatcher::onFolderChanged(const QString& path)
{
    if (!m_watching)
        return;
    const QStringList before = m_files.directories();
    rewatch();
    // A parent's other entries are none of our business; the folder itself
    // changing, appearing or going is.
    const bool ours = m_folders.contains(path)
        || std::any_of(m_folders.begin(), m_folders.end(), [&](const QString& folder) {
               return m_files.directories().contains(folder) && !before.contains(folder);
           });
    if (ours && !m_gather.isActive())
        m_gather.start();
}

void CredentialWatcher::rewatch()
{
    QSet<QString> wanted;
    for (const QString& folder : m_folders)
        wanted.insert(nearestExisting(folder));
    const QStringList watched = m_files.directories();
    for (const QString& path : watched) {
        if (!wanted.contains(path))
            m_files.removePath(path);
    }
    for (const QString& path : wanted) {
        if (!watched.contains(path))
            m_files.addPath(path);
    }
}

void CredentialWatcher::connectKeyring(bool connect)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    for (const char* name : itemSignals) {
        // Any collection: the session may live in another than the default.
        const QString signal = QString::fromLatin1(name);
        if (connect)
            bus.connect(secretsService, QString(), collectionInterface, signal, this, SLOT(onKeyringItem()));
        else
            bus.disconnect(
                secretsService, QString(), collectionInterface, signal, this, SLOT(onKeyringItem()));
    }
}

void CredentialWatcher::onKeyringItem()
{
    if (m_watching && !m_gather.isActive())
        m_gather.start();
}
