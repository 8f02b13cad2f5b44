#include "SingleInstance.h"

#include "Log.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>

#include <unistd.h>

namespace {

constexpr QByteArrayView request = "show-settings\n";
constexpr QByteArrayView confirmation = "ok\n";
// A first instance that has the lock but is still starting up gets this long.
constexpr int handOverMs = 10'000;

QString runtimeFolder(QString folder)
{
    if (folder.isEmpty())
        folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (folder.isEmpty())
        folder = QDir::tempPath() + QStringLiteral("/velmo-usage-%1").arg(::getuid());
    QDir().mkpath(folder);
    return folder;
}

} // namespace

SingleInstance::SingleInstance(QString folder, QObject* parent)
    : QObject(parent)
    , m_socketPath(runtimeFolder(std::move(folder)) + QStringLiteral("/velmo-usage.socket"))
    , m_lock(m_socketPath + QStringLiteral(".lock"))
{
    m_lock.setStaleLockTime(0); // only a dead holder makes it stale
}

SingleInstance::~SingleInstance()
{
    if (m_server)
        m_server->close();
}

bool SingleInstance::claim()
{
    if (!m_lock.tryLock(0))
        return false;
    // The lock is ours, so a socket file left behind is a dead instance's.
    QLocalServer::removeServer(m_socketPath);
    m_server = std::make_unique<QLocalServer>();
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(m_socketPath)) {
        qCWarning(Log::app, "cannot listen on %s: %s; later launches start their own copy",
            qUtf8Printable(m_socketPath), qUtf8Printable(m_server->errorString()));
        return true;
    }
    connect(m_server.get(), &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = m_server->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                if (!socket->canReadLine())
                    return;
                const QByteArray line = socket->readLine();
                if (line == request.toByteArray()) {
                    socket->write(confirmation.data(), confirmation.size());
                    socket->flush();
                    qCInfo(Log::app, "another launch asked for the settings window");
                    emit showSettingsRequested();
                }
                socket->disconnectFromServer();
            });
        }
    });
    return true;
}

bool SingleInstance::handOver()
{
    const QDeadlineTimer deadline(handOverMs);
    while (!deadline.hasExpired()) {
        QLocalSocket socket;
        socket.connectToServer(m_socketPath);
        if (socket.waitForConnected(1000)) {
            socket.write(request.data(), request.size());
            socket.waitForBytesWritten(1000);
            while (!socket.canReadLine() && socket.waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime()))))
                ;
            return socket.readLine() == confirmation.toByteArray();
        }
        QThread::msleep(100);
    }
    return false;
}
