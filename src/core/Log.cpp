#include "Log.h"

#include <QMutex>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace Log {

Q_LOGGING_CATEGORY(app, "velmo-usage.app", QtInfoMsg)
Q_LOGGING_CATEGORY(network, "velmo-usage.network", QtInfoMsg)
Q_LOGGING_CATEGORY(auth, "velmo-usage.auth", QtInfoMsg)
Q_LOGGING_CATEGORY(updates, "velmo-usage.updates", QtInfoMsg)

namespace {

// A journal datagram stays well below the socket's limits.
constexpr qsizetype maxMessageBytes = 48 * 1024;

struct HandlerState {
    QMutex mutex;
    Destination destination = Destination::standardError;
    QByteArray socketPath;
};

std::atomic<quint64> drops { 0 };

HandlerState& state()
{
    static HandlerState instance;
    return instance;
}

int priority(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return 7;
    case QtInfoMsg:
        return 6;
    case QtWarningMsg:
        return 4;
    case QtCriticalMsg:
        return 3;
    case QtFatalMsg:
        return 2;
    }
    return 6;
}

void appendField(QByteArray& out, const char* name, const QByteArray& value)
{
    if (!value.contains('\n')) {
        out += name;
        out += '=';
        out += value;
        out += '\n';
        return;
    }
    // A value with line breaks: the name, its length as 64-bit little endian, the bytes.
    out += name;
    out += '\n';
    quint64 length = static_cast<quint64>(value.size());
    for (int i = 0; i < 8; ++i) {
        out += static_cast<char>(length & 0xff);
        length >>= 8;
    }
    out += value;
    out += '\n';
}

void writeToStandardError(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    const QByteArray line = qFormatLogMessage(type, context, message).toLocal8Bit() + '\n';
    std::fwrite(line.constData(), 1, static_cast<std::size_t>(line.size()), stderr);
    std::fflush(stderr);
}

void handleMessage(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    Destination destination;
    QByteArray socketPath;
    {
        QMutexLocker lock(&state().mutex);
        destination = state().destination;
        socketPath = state().socketPath;
    }
    if (destination == Destination::journal
        && sendToJournal(journalDatagram(type, context.category, message), QString::fromLocal8Bit(socketPath))
            != JournalSend::unreachable)
        return;
    writeToStandardError(type, context, message);
}

} // namespace

QByteArray journalDatagram(QtMsgType type, const char* category, const QString& message)
{
    QByteArray text = message.toUtf8();
    if (text.size() > maxMessageBytes) {
        text.truncate(maxMessageBytes);
        // Do not end inside a UTF-8 sequence.
        while (!text.isEmpty() && (static_cast<unsigned char>(text.back()) & 0xc0) == 0x80)
            text.chop(1);
        if (!text.isEmpty() && (static_cast<unsigned char>(text.back()) & 0x80))
            text.chop(1);
        text += "\xE2\x80\xA6";
    }
    QByteArray out;
    out.reserve(text.size() + 128);
    appendField(out, "MESSAGE", text);
    appendField(out, "PRIORITY", QByteArray::number(priority(type)));
    appendField(out, "SYSLOG_IDENTIFIER", subsystem);
    if (category && *category)
        appendField(out, "QT_CATEGORY", QByteArray(category).replace('\n', ' '));
    return out;
}

JournalSend sendToJournal(const QByteArray& datagram, const QString& socketPath)
{
    // One socket for the process, made on first use.
    static const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const QByteArray path = socketPath.toLocal8Bit();
    sockaddr_un address {};
    if (fd < 0 || path.isEmpty() || static_cast<std::size_t>(path.size()) >= sizeof(address.sun_path))
        return JournalSend::unreachable;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.constData(), static_cast<std::size_t>(path.size()));
    // A journal that stops reading must not freeze the thread that logs.
    const auto sent = ::sendto(fd, datagram.constData(), static_cast<std::size_t>(datagram.size()),
        MSG_NOSIGNAL | MSG_DONTWAIT, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
    if (sent == datagram.size())
        return JournalSend::sent;
    if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        if (drops.fetch_add(1) == 0) {
            std::fputs("velmo-usage: the journal is not keeping up; log lines are being dropped\n", stderr);
            std::fflush(stderr);
        }
        return JournalSend::dropped;
    }
    return JournalSend::unreachable;
}

quint64 journalDrops()
{
    return drops.load();
}

void installMessageHandler(Destination destination, const QString& journalSocketPath)
{
    {
        QMutexLocker lock(&state().mutex);
        state().destination = destination;
        state().socketPath = journalSocketPath.toLocal8Bit();
    }
    qInstallMessageHandler(handleMessage);
}

void installMessageHandler()
{
    installMessageHandler(::isatty(STDERR_FILENO) ? Destination::standardError : Destination::journal);
}

} // namespace Log
