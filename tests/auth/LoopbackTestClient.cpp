#include "LoopbackTestClient.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>

namespace velmo::test {

bool spinUntil(const std::function<bool()>& done, std::chrono::milliseconds watchdog)
{
    // The heartbeat only bounds how long processEvents() may block; every
    // socket event wakes it earlier.
    QTimer heartbeat;
    heartbeat.start(std::chrono::milliseconds(20));
    const QDeadlineTimer deadline(watchdog);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

LoopbackTestClient::LoopbackTestClient(quint16 port, const QString& host)
{
    QObject::connect(&m_socket, &QTcpSocket::connected, [this] { m_connected = true; });
    QObject::connect(&m_socket, &QTcpSocket::readyRead, [this] { m_received += m_socket.readAll(); });
    QObject::connect(&m_socket, &QTcpSocket::disconnected, [this] { m_closed = true; });
    QObject::connect(&m_socket, &QTcpSocket::errorOccurred, [this](QAbstractSocket::SocketError error) {
        m_error = error;
        if (error == QAbstractSocket::RemoteHostClosedError)
            m_closed = true;
    });
    m_socket.connectToHost(host, port);
    spinUntil([this] { return m_connected || m_socket.state() == QAbstractSocket::UnconnectedState; });
}

void LoopbackTestClient::send(const QByteArray& bytes)
{
    m_socket.write(bytes);
}

bool LoopbackTestClient::waitUntilClosed(std::chrono::milliseconds watchdog)
{
    const bool ok = spinUntil([this] { return m_closed || m_socket.state() == QAbstractSocket::UnconnectedState; }, watchdog);
    m_received += m_socket.readAll();
    return ok;
}

Exchange exchange(quint16 port, const QByteArray& request)
{
    LoopbackTestClient client(port);
    if (!client.connected())
        return {};
    client.send(request);
    const bool closed = client.waitUntilClosed();
    return { true, closed, client.received() };
}

ParsedResponse parseResponse(const QByteArray& raw)
{
    ParsedResponse parsed;
    const qsizetype end = raw.indexOf("\r\n\r\n");
    const QByteArray head = end < 0 ? raw : raw.left(end);
    parsed.body = end < 0 ? QByteArray() : raw.mid(end + 4);
    const QList<QByteArray> lines = head.split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArray line = lines[i].endsWith('\r') ? lines[i].chopped(1) : lines[i];
        if (i == 0) {
            parsed.statusLine = line;
            continue;
        }
        const qsizetype colon = line.indexOf(':');
        if (colon > 0)
            parsed.headers.append({ line.left(colon), line.mid(colon + 1).trimmed() });
    }
    return parsed;
}

QByteArray ParsedResponse::header(const QByteArray& name) const
{
    for (const auto& [key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

} // namespace velmo::test
