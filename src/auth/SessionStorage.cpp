#include "SessionStorage.h"

#include "FileCredentialStore.h"
#include "KeychainCredentialStore.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusReply>

namespace {
const QString secretsName = QStringLiteral("org.freedesktop.secrets");
}

QString SessionStorage::keyringDescription()
{
    return QStringLiteral("Desktop keyring (Secret Service)");
}

QString SessionStorage::fileDescription(const QString& path)
{
    return QStringLiteral("File ") + path;
}

bool SessionStorage::secretServiceAvailable()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface())
        return false;
    if (bus.interface()->isServiceRegistered(secretsName).value())
        return true;
    // Not running yet, but the bus would start it on the first call.
    const QDBusReply<QStringList> activatable = bus.interface()->call(QStringLiteral("ListActivatableNames"));
    return activatable.isValid() && activatable.value().contains(secretsName);
}

SessionStorage SessionStorage::platformDefault()
{
    if (secretServiceAvailable()) {
        return { std::make_shared<KeychainCredentialStore>(
                     KeychainCredentialStore::defaultService, KeychainCredentialStore::sessionAccount),
            keyringDescription() };
    }
    const std::string path = FileCredentialStore::defaultPath();
    return { std::make_shared<FileCredentialStore>(path), fileDescription(QString::fromStdString(path)) };
}
