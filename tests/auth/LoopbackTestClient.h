#pragma once

#include <QHostAddress>
#include <QTcpSocket>
#include <QTest>
#include <QUrlQuery>

#include <chrono>
#include <functional>

namespace velmo::test {

// Runs the event loop until `done` holds or the watchdog fires; returns done().
inline bool spinUntil(const std::function<bool()>& done, std::chrono::milliseconds watchdog = std::chrono::seconds(10))
{
    return QTest::qWaitFor(done, static_cast<int>(watchdog.count()));
}

// A raw TCP client for poking at the loopback server: it sends exactly the
// bytes it is given and keeps everything it gets back. Connecting needs no
// event loop (the kernel answers for a listening socket); sending and
// waiting for the server's answer run the loop.
class RawClient {
public:
    explicit RawClient(quint16 port, const char* host = "127.0.0.1")
    {
        m_socket.connectToHost(QHostAddress(QString::fromLatin1(host)), port);
        m_connected = m_socket.waitForConnected(5000);
    }
    bool connected() const { return m_connected; }
    void send(const QByteArray& bytes) { m_socket.write(bytes); }
    // Reads what has arrived; true once the server has closed.
    bool closed()
    {
        m_received += m_socket.readAll();
        return m_socket.state() == QAbstractSocket::UnconnectedState;
    }
    // Until the server closes the connection; false when the watchdog fired.
    bool waitUntilClosed() { return spinUntil([this] { return closed(); }); }
    const QByteArray& received() const { return m_received; }

private:
    QTcpSocket m_socket;
    bool m_connected = false;
    QByteArray m_received;
};

// Nothing listens on the port: a connection is refused.
inline bool refused(quint16 port) { return !RawClient(port).connected(); }

// A request on a fresh connection: all the server sent until it closed
// (empty when it did not close in time).
inline QByteArray exchange(quint16 port, const QByteArray& request)
{
    RawClient client(port);
    client.send(request);
    return client.waitUntilClosed() ? client.received() : QByteArray();
}

// An item of a URL's query, decoded; the loopback port an authorization URL
// sends the browser back to.
inline QString queryItem(const QUrl& url, const char* name)
{
    return QUrlQuery(url).queryItemValue(QString::fromLatin1(name), QUrl::FullyDecoded);
}
inline quint16 callbackPort(const QUrl& authorizationURL) { return quint16(QUrl(queryItem(authorizationURL, "redirect_uri")).port()); }

} // namespace velmo::test
