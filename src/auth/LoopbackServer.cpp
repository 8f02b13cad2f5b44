#include "LoopbackServer.h"

#include "Cancellation.h"
#include "Log.h"
#include "SafeText.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QPointer>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>

#include <sys/socket.h>

#include <algorithm>
#include <stdexcept>
#include <utility>

// The task suspended in waitForCode(). It lives in that coroutine's frame, so
// the result handed over stays valid even if the server is gone by the time
// the task runs again.
struct LoopbackServer::Waiter {
    LoopbackServer* server;
    quint64 id;
    std::optional<Result> result;
    std::coroutine_handle<> handle;

    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> suspended)
    {
        handle = suspended;
        server->m_waiter = this;
    }
    Result await_resume() { return std::move(*result); }
};

namespace {

const char* const answeredProperty = "velmoAnswered";

LoopbackServer::Answer makeAnswer(const char* status, const QString& heading, const QString& paragraph,
                                  std::optional<LoopbackServer::Result> result = std::nullopt)
{
    return { status, LoopbackServer::page(heading, paragraph), std::move(result) };
}

LoopbackServer::Answer malformed()
{
    return makeAnswer("400 Bad Request", QStringLiteral("Bad request"), QStringLiteral("Malformed request."));
}

// The query's items in order, percent-decoded ("+" stays "+"); an item
// without "=" has no value.
std::vector<std::pair<QString, std::optional<QString>>> queryItems(const QString& encodedQuery)
{
    std::vector<std::pair<QString, std::optional<QString>>> items;
    if (encodedQuery.isEmpty())
        return items;
    for (const QString& item : encodedQuery.split(u'&')) {
        const qsizetype equals = item.indexOf(u'=');
        if (equals < 0)
            items.emplace_back(QUrl::fromPercentEncoding(item.toUtf8()), std::nullopt);
        else
            items.emplace_back(QUrl::fromPercentEncoding(item.left(equals).toUtf8()),
                               QUrl::fromPercentEncoding(item.mid(equals + 1).toUtf8()));
    }
    return items;
}

std::optional<QString> value(const std::vector<std::pair<QString, std::optional<QString>>>& items, QStringView name)
{
    for (const auto& [key, itemValue] : items) {
        if (key == name)
            return itemValue;
    }
    return std::nullopt;
}

// Ends a connection whose answer has been written: send FIN, keep discarding
// what the client still sends (closing with unread data would reset the
// connection and could destroy the page in flight), and close for good when
// the client closes its side or the deadline passes.
void finishConnection(QTcpSocket* socket)
{
    if (socket->state() != QAbstractSocket::ConnectedState)
        return;
    socket->flush();
    ::shutdown(static_cast<int>(socket->socketDescriptor()), SHUT_WR);
}

} // namespace

LoopbackServer::LoopbackServer(const QString& expectedState)
    : m_listener(new QTcpServer(this))
    , m_expectedState(expectedState)
{
    m_timeout.setSingleShot(true);
    m_timeout.setTimerType(Qt::PreciseTimer);
    connect(&m_timeout, &QTimer::timeout, this, [this] { deliver(LoopbackServerError::timeout()); });
    connect(m_listener, &QTcpServer::newConnection, this, &LoopbackServer::accept);
    connect(m_listener, &QTcpServer::acceptError, this, &LoopbackServer::acceptFailed);
    m_acceptRetry.setSingleShot(true);
    connect(&m_acceptRetry, &QTimer::timeout, this, [this] {
        if (!m_stopped)
            m_listener->resumeAccepting();
    });
}

LoopbackServer::~LoopbackServer()
{
    stop();
}

int LoopbackServer::randomPort()
{
    return firstRandomPort + static_cast<int>(QRandomGenerator::system()->bounded(quint32(randomPortCount)));
}

std::unique_ptr<LoopbackServer> LoopbackServer::start(const QString& expectedState, int attempts,
                                                      const PortChooser& choosePort)
{
    if (attempts <= 0)
        throw LoopbackServerError::bindFailed("no attempt made");
    std::optional<LoopbackServerError> lastFailure;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        try {
            return start(choosePort(), expectedState);
        } catch (const LoopbackServerError& error) {
            if (error.kind() != LoopbackServerError::Kind::bindFailed)
                throw;
            lastFailure = error;
        }
    }
    throw *lastFailure;
}

std::unique_ptr<LoopbackServer> LoopbackServer::start(int port, const QString& expectedState)
{
    if (port < 0 || port > 65535)
        throw LoopbackServerError::bindFailed("invalid port " + std::to_string(port));
    std::unique_ptr<LoopbackServer> server(new LoopbackServer(expectedState));
    // IPv4 loopback only: the redirect URI names 127.0.0.1, and nothing from
    // another interface can reach the socket. QTcpServer sets SO_REUSEADDR.
    if (!server->m_listener->listen(QHostAddress(QHostAddress::LocalHost), quint16(port)))
        throw LoopbackServerError::bindFailed(server->m_listener->errorString().toStdString());
    server->m_port = server->m_listener->serverPort();
    return server;
}

bool LoopbackServer::isListening() const
{
    return m_listener->isListening();
}

void LoopbackServer::accept()
{
    m_acceptDelay = firstAcceptRetry;
    while (QTcpSocket* socket = m_listener->nextPendingConnection()) {
        serve(socket);
        if (connections().size() > maxConnections)
            closeOldestIdle();
    }
}

void LoopbackServer::acceptFailed()
{
    // Qt has paused the listener for good (out of descriptors, typically).
    // Try again later, backing off, so that a flood neither ends the sign-in
    // nor keeps the loop busy. Our own connections are capped already.
    qCWarning(Log::auth, "the sign-in callback port could not accept a connection: %s",
        qUtf8Printable(m_listener->errorString()));
    m_listener->pauseAccepting();
    m_acceptRetry.start(m_acceptDelay);
    m_acceptDelay = std::min(m_acceptDelay * 2, lastAcceptRetry);
}

QList<QTcpSocket*> LoopbackServer::connections() const
{
    QList<QTcpSocket*> open;
    for (QTcpSocket* socket : m_listener->findChildren<QTcpSocket*>(Qt::FindDirectChildrenOnly)) {
        if (socket->state() != QAbstractSocket::UnconnectedState)
            open.append(socket);
    }
    return open;
}

void LoopbackServer::closeOldestIdle()
{
    const QList<QTcpSocket*> open = connections();
    // Idle: not in the middle of sending its page.
    const auto idle = std::find_if(open.begin(), open.end(), [](QTcpSocket* socket) { return socket->bytesToWrite() == 0; });
    if (idle != open.end())
        (*idle)->abort();
    else if (!open.isEmpty())
        open.first()->abort();
}

void LoopbackServer::serve(QTcpSocket* socket)
{
    // Qt reads no more than this into memory; a flood stays in the kernel.
    socket->setReadBufferSize(maxRequestBytes);

    struct State {
        bool answered = false;
        bool delivered = false;
        std::optional<Result> result;
    };
    auto state = std::make_shared<State>();

    // The result goes to the waiter from the event loop, not from inside
    // this socket's signal: the waiter may well stop and destroy the server.
    auto handOver = [this, state] {
        if (state->delivered || !state->result)
            return;
        state->delivered = true;
        QMetaObject::invokeMethod(
            this, [this, result = *state->result] { deliver(result); }, Qt::QueuedConnection);
    };

    auto* deadline = new QTimer(socket);
    deadline->setSingleShot(true);
    connect(deadline, &QTimer::timeout, socket, [socket] { socket->abort(); });
    deadline->start(m_connectionDeadline);

    connect(socket, &QTcpSocket::readyRead, socket, [this, socket, state] {
        if (state->answered) {
            socket->skip(socket->bytesAvailable());
            return;
        }
        state->answered = true;
        socket->setProperty(answeredProperty, true);
        const QByteArray request = socket->read(maxRequestBytes);
        Answer answer = handle(QString::fromUtf8(request), m_expectedState);
        state->result = std::move(answer.result);
        socket->skip(socket->bytesAvailable());
        socket->write(responseBytes(answer));
    });
    connect(socket, &QTcpSocket::bytesWritten, socket, [socket, handOver] {
        if (socket->bytesToWrite() > 0)
            return;
        handOver();
        finishConnection(socket);
    });
    // A client that resets the connection before the page went out has still
    // delivered its callback.
    connect(socket, &QTcpSocket::disconnected, socket, [socket, handOver] {
        handOver();
        socket->deleteLater();
    });
}

void LoopbackServer::deliver(Result result)
{
    if (m_waiter) {
        resume(std::exchange(m_waiter, nullptr), std::move(result));
        return;
    }
    if (!m_received)
        m_received = std::move(result);
}

void LoopbackServer::resume(Waiter* waiter, Result result)
{
    m_timeout.stop();
    waiter->result = std::move(result);
    // Resumed from the event loop: the caller of deliver() or stop() may be a
    // signal of an object that the resumed task destroys.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [handle = waiter->handle] { handle.resume(); }, Qt::QueuedConnection);
}

void LoopbackServer::cancelWait(quint64 waitID)
{
    if (m_waiter && m_waiter->id == waitID)
        resume(std::exchange(m_waiter, nullptr), LoopbackServerError::cancelled());
}

QCoro::Task<QString> LoopbackServer::waitForCode(std::chrono::milliseconds timeout, std::stop_token stop)
{
    throwIfCancelled(stop);
    std::optional<Result> result = std::exchange(m_received, std::nullopt);
    if (!result && m_stopped)
        result = LoopbackServerError::cancelled();
    if (!result && m_waiter)
        throw std::logic_error("LoopbackServer::waitForCode: a wait is already pending");
    if (!result) {
        Waiter waiter { this, ++m_waitCount, std::nullopt, {} };
        // A stop request may come from any thread; the wait ends on ours.
        std::stop_callback onStop(stop, [server = QPointer<LoopbackServer>(this), id = waiter.id] {
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [server, id] {
                    if (server)
                        server->cancelWait(id);
                },
                Qt::QueuedConnection);
        });
        m_timeout.start(timeout);
        // From here on `this` may be destroyed before we resume: only the
        // waiter's own result is read afterwards.
        result = co_await waiter;
        throwIfCancelled(stop);
    }
    if (auto* code = std::get_if<QString>(&*result))
        co_return *code;
    if (auto* error = std::get_if<LoopbackServerError>(&*result))
        throw *error;
    throw std::get<OAuthError>(*result);
}

void LoopbackServer::stop()
{
    m_stopped = true;
    m_acceptRetry.stop();
    m_listener->close();
    // Connections that never sent a request would otherwise linger until
    // their deadline; answered ones finish sending their page.
    for (QTcpSocket* socket : m_listener->findChildren<QTcpSocket*>()) {
        if (!socket->property(answeredProperty).toBool())
            socket->abort();
    }
    if (m_waiter)
        resume(std::exchange(m_waiter, nullptr), LoopbackServerError::cancelled());
}

LoopbackServer::Answer LoopbackServer::handle(const QString& requestText, const QString& expectedState)
{
    const QStringList lines = requestText.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    if (lines.isEmpty())
        return malformed();
    const QStringList pieces = lines.first().split(u' ', Qt::SkipEmptyParts);
    if (pieces.size() < 2)
        return malformed();
    // A request target is visible ASCII; QUrl alone would accept any Unicode.
    const QString& target = pieces[1];
    for (QChar c : target) {
        if (c.unicode() < 0x21 || c.unicode() > 0x7e)
            return malformed();
    }
    const QUrl url(QStringLiteral("http://127.0.0.1") + target, QUrl::StrictMode);
    if (!url.isValid())
        return malformed();
    if (url.path(QUrl::FullyDecoded) != QStringLiteral("/callback"))
        return makeAnswer("404 Not Found", QStringLiteral("Not found"), QStringLiteral("Nothing here."));

    const auto items = queryItems(url.query(QUrl::FullyEncoded));
    const auto state = value(items, u"state");
    const bool stateMatches = state && *state == expectedState;
    const auto mismatch = [](std::optional<Result> result) {
        return makeAnswer("400 Bad Request", QStringLiteral("Sign-in failed"),
                          QStringLiteral("State mismatch. Start sign-in again from Velmo Usage."), std::move(result));
    };
    if (const auto error = value(items, u"error")) {
        // The provider returns the state with its errors: an error without
        // it comes from someone else and must not end the sign-in.
        if (!stateMatches)
            return mismatch(std::nullopt);
        const QString text = SafeText::clean(value(items, u"error_description").value_or(*error));
        return makeAnswer("400 Bad Request", QStringLiteral("Sign-in failed"), text,
                          OAuthError::authorizationDenied(text.toStdString()));
    }
    if (!stateMatches)
        return mismatch(LoopbackServerError::stateMismatch());
    const auto code = value(items, u"code");
    if (!code || code->isEmpty())
        return makeAnswer("400 Bad Request", QStringLiteral("Sign-in failed"), QStringLiteral("Missing authorization code."),
                          OAuthError::authorizationDenied("missing code"));
    return makeAnswer("200 OK", QStringLiteral("Signed in"),
                      QStringLiteral("You can close this window and return to Velmo Usage."), *code);
}

QByteArray LoopbackServer::page(const QString& heading, const QString& paragraph)
{
    static const QByteArray head = QByteArrayLiteral(
        "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Velmo Usage</title><style>"
        "body{font-family:-apple-system,system-ui,sans-serif;display:flex;align-items:center;"
        "justify-content:center;min-height:100vh;margin:0;background:#f5f5f7;color:#1d1d1f}"
        "main{text-align:center;padding:2rem}"
        "h1{font-size:1.5rem;margin:0 0 .5rem}"
        "p{color:#6e6e73;margin:0}"
        "</style></head><body><main><h1>");
    // Texts are escaped: the provider's error description comes from the
    // redirect's query, which anyone can put into a link to this port.
    return head + heading.toHtmlEscaped().toUtf8() + "</h1><p>" + paragraph.toHtmlEscaped().toUtf8()
        + "</p></main></body></html>";
}

QByteArray LoopbackServer::responseBytes(const Answer& answer)
{
    return "HTTP/1.1 " + answer.status + "\r\nContent-Type: text/html; charset=utf-8\r\n"
        + "Content-Length: " + QByteArray::number(answer.body.size()) + "\r\nConnection: close\r\n\r\n"
        + answer.body;
}
