#pragma once

#include <QByteArray>
#include <QLoggingCategory>
#include <QString>

// The process's four log channels. Info and above are on by default; debug
// lines are enabled through QT_LOGGING_RULES ("velmo-usage.*.debug=true").
// Every placeholder is written out in full, so tokens are logged masked only.
namespace Log {

inline constexpr char subsystem[] = "velmo-usage";

Q_DECLARE_LOGGING_CATEGORY(app) // application start, snapshot cache
Q_DECLARE_LOGGING_CATEGORY(network) // refresh results
Q_DECLARE_LOGGING_CATEGORY(auth) // browser sign-in
Q_DECLARE_LOGGING_CATEGORY(updates) // the update controller

enum class Destination {
    journal, // the systemd journal; standard error when it cannot be reached
    standardError,
};

inline constexpr char journalSocket[] = "/run/systemd/journal/socket";

// Sends every Qt message to the journal when standard error is not a
// terminal (a desktop session, a service), else to standard error.
void installMessageHandler();
// The same with the destination and the journal's socket given.
void installMessageHandler(Destination destination, const QString& journalSocketPath = QString::fromLatin1(journalSocket));

// One entry in the journal's native protocol: MESSAGE, PRIORITY,
// SYSLOG_IDENTIFIER and QT_CATEGORY fields.
QByteArray journalDatagram(QtMsgType type, const char* category, const QString& message);
enum class JournalSend {
    sent,
    dropped, // the journal is not reading: the line is lost, never waited for
    unreachable, // nobody listens: the caller writes to standard error instead
};
// Sends one datagram to the journal's socket without ever blocking. A
// dropped line is counted, and the first drop is said once on standard error.
JournalSend sendToJournal(const QByteArray& datagram, const QString& socketPath);
// Lines dropped because the journal was not reading, since the start.
quint64 journalDrops();

} // namespace Log
