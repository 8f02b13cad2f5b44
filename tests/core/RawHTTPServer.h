#pragma once

#include <QCoreApplication>
#include <QEventLoop>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <functional>
#include <vector>

namespace velmo::test {

// A loopback server that reads each request's head and hands the socket to a
// handler, which writes whatever raw bytes the test needs (or nothing).
class RawHTTPServer {
public:
    using Handler = std::function<void(QTcpSocket& socket, const QByteArray& head)>;

    explicit RawHTTPServer(Handler handler)
        : m_handler(std::move(handler))
    {
        QObject::connect(&m_server, &QTcpServer::newConnection, &m_server, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection()) {
                ++m_open;
                QObject::connect(socket, &QTcpSocket::disconnected, socket, [this] { --m_open; });
                auto* buffer = new QByteArray;
                QObject::connect(socket, &QObject::destroyed, [buffer] { delete buffer; });
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, buffer] {
                    buffer->append(socket->readAll());
                    const auto end = buffer->indexOf("\r\n\r\n");
                    if (end < 0 || buffer->isEmpty())
                        return;
                    const QByteArray head = buffer->left(end);
                    buffer->clear();
                    heads.push_back(head);
                    m_handler(*socket, head);
                });
            }
        });
        m_server.listen(QHostAddress::LocalHost);
    }

    quint16 port() const { return m_server.serverPort(); }
    QUrl url(const QString& path = "/") const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port()).arg(path));
    }

    // Runs the event loop until the client has closed every connection, so
    // an aborted exchange is torn down before the test ends (Qt finishes an
    // abort on its network thread). False when the watchdog fires first.
    bool waitUntilClosed(std::chrono::milliseconds watchdog = std::chrono::seconds(10))
    {
        QEventLoop loop;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            if (m_open == 0)
                loop.quit();
        });
        QTimer::singleShot(watchdog, &loop, &QEventLoop::quit);
        poll.start(std::chrono::milliseconds(5));
        loop.exec();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return m_open == 0;
    }

    std::vector<QByteArray> heads;

private:
    QTcpServer m_server;
    Handler m_handler;
    int m_open = 0;
};

// A complete response with Content-Length.
inline QByteArray rawResponse(int status, const QByteArray& reason, const QByteArray& body,
    const QByteArray& extraHeaders = {})
{
    return "HTTP/1.1 " + QByteArray::number(status) + " " + reason + "\r\nContent-Length: "
        + QByteArray::number(body.size()) + "\r\n" + extraHeaders + "\r\n" + body;
}

} // namespace velmo::test
