#pragma once

#include "LoopbackServerError.h"
#include "OAuthError.h"

#include <QByteArray>
#include <QCoroTask>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <coroutine>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <variant>

class QTcpServer;
class QTcpSocket;

// The short-lived HTTP listener behind the redirect URI
// http://127.0.0.1:<port>/callback of a browser sign-in. It listens on
// 127.0.0.1 only, answers every request with a small page, checks the OAuth
// state and hands the authorization code (or the failure) to the one task
// waiting in waitForCode().
//
// Lives on the thread that created it (the main thread) and never blocks it:
// sockets are served from the event loop. Only the first chunk of a request
// (at most maxRequestBytes) is looked at, and every connection is closed after
// its answer, or when connectionDeadline passes, or at stop(). Any web page
// can reach the port, so at most maxConnections are open at once (the oldest
// idle one goes first), and when the process runs out of descriptors the
// listener pauses and tries again later instead of giving up.
class LoopbackServer : public QObject {
    Q_OBJECT

public:
    // What a callback produced: the authorization code or the failure.
    using Result = std::variant<QString, LoopbackServerError, OAuthError>;

    // One request's answer: status line text, UTF-8 page, and the result for
    // the waiting task when the request was a callback.
    struct Answer {
        QByteArray status;
        QByteArray body;
        std::optional<Result> result;
    };

    using PortChooser = std::function<int()>;

    static constexpr qint64 maxRequestBytes = 65536;
    static constexpr int maxConnections = 32;
    static constexpr std::chrono::milliseconds firstAcceptRetry { 100 };
    static constexpr std::chrono::milliseconds lastAcceptRetry { 2000 };
    static constexpr int firstRandomPort = 10000;
    static constexpr int randomPortCount = 50000;

    // Listens on random ports until one binds: bindFailed after `attempts`
    // failures (the last attempt's), or at once for no attempt.
    static std::unique_ptr<LoopbackServer> start(const QString& expectedState, int attempts,
                                                 const PortChooser& choosePort = randomPort);
    // Listens on `port` (0: any free port). Throws LoopbackServerError::bindFailed.
    static std::unique_ptr<LoopbackServer> start(int port, const QString& expectedState);
    // 10000 plus a uniformly random number below 50000, from the system's
    // secure random source.
    static int randomPort();

    ~LoopbackServer() override;

    quint16 port() const { return m_port; }
    bool isListening() const;
    // A callback result is kept for the next waitForCode().
    bool hasResult() const { return m_received.has_value(); }

    // The code of the first callback: at once when one came before the call,
    // else when it arrives. Fails with the callback's error, with timeout when
    // nothing came in time, with cancelled on stop(), and with
    // CancellationError when `stop` is requested. One waiter at a time.
    QCoro::Task<QString> waitForCode(std::chrono::milliseconds timeout, std::stop_token stop = {});

    // Closes the listener and every connection that has not been answered yet,
    // and fails a pending wait with cancelled. Idempotent.
    void stop();

    // Hands a result to the waiting task, or keeps it for the next wait when
    // nobody waits. The first result wins.
    void deliver(Result result);

    // How long a connection may stay open (silent, or not closing after the
    // answer) before it is dropped.
    void setConnectionDeadline(std::chrono::milliseconds deadline) { m_connectionDeadline = deadline; }

    // The answer to one request's text; pure.
    static Answer handle(const QString& requestText, const QString& expectedState);
    // The exact bytes sent for an answer: status line, three headers, page.
    static QByteArray responseBytes(const Answer& answer);
    // The page with the given heading and paragraph (both plain text).
    static QByteArray page(const QString& heading, const QString& paragraph);

private:
    struct Waiter;

    LoopbackServer(const QString& expectedState);
    void accept();
    void acceptFailed();
    void serve(QTcpSocket* socket);
    // Open connections, oldest first.
    QList<QTcpSocket*> connections() const;
    void closeOldestIdle();
    void resume(Waiter* waiter, Result result);
    void cancelWait(quint64 waitID);

    QTcpServer* m_listener = nullptr;
    quint16 m_port = 0;
    QString m_expectedState;
    Waiter* m_waiter = nullptr;
    quint64 m_waitCount = 0;
    std::optional<Result> m_received;
    bool m_stopped = false;
    QTimer m_timeout;
    QTimer m_acceptRetry;
    std::chrono::milliseconds m_acceptDelay { firstAcceptRetry };
    std::chrono::milliseconds m_connectionDeadline { std::chrono::seconds(10) };
};
