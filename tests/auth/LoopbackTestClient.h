#pragma once

#include <QByteArray>
#include <QTcpSocket>

#include <chrono>
#include <functional>

namespace velmo::test {

// Runs the event loop until `done` holds or the watchdog fires; returns done().
bool spinUntil(const std::function<bool()>& done, std::chrono::milliseconds watchdog = std::chrono::seconds(10));

// A raw TCP client on 127.0.0.1 for poking at the loopback server: it sends
// exactly the bytes it is given and records everything it gets back.
class LoopbackTestClient {
public:
    // Connects (with a watchdog); connected() or error() tells how it went.
    explicit LoopbackTestClient(quint16 port, const QString& host = QStringLiteral("127.0.0.1"));

    bool connected() const { return m_connected; }
    QAbstractSocket::SocketError error() const { return m_error; }
    bool refused() const { return m_error == QAbstractSocket::ConnectionRefusedError; }

    void send(const QByteArray& bytes);
    // Waits until the server closes the connection; false when the watchdog fired.
    bool waitUntilClosed(std::chrono::milliseconds watchdog = std::chrono::seconds(10));
    bool closed() const { return m_closed; }
    const QByteArray& received() const { return m_received; }

private:
    QTcpSocket m_socket;
    QByteArray m_received;
    bool m_connected = false;
    bool m_closed = false;
    QAbstractSocket::SocketError m_error = QAbstractSocket::UnknownSocketError;
};

// Sends a request on a fresh connection and waits for the server to answer
// and close: what came back, and whether the server closed in time.
struct Exchange {
    bool connected = false;
    bool closed = false;
    QByteArray received;
};
Exchange exchange(quint16 port, const QByteArray& request);

// An HTTP response split into its parts.
struct ParsedResponse {
    QByteArray statusLine;
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;
    QByteArray header(const QByteArray& name) const;
};
ParsedResponse parseResponse(const QByteArray& raw);

} // namespace velmo::test
