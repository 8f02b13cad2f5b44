#include "Log.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// A datagram socket standing in for journald's.
struct FakeJournal {
    explicit FakeJournal(const QString& path)
    {
        sockaddr_un address { .sun_family = AF_UNIX, .sun_path = {} };
        std::strncpy(address.sun_path, path.toLocal8Bit().constData(), sizeof(address.sun_path) - 1);
        bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
    }
    ~FakeJournal() { ::close(fd); }
    // The next datagram, or "" when none is waiting (the sender never blocks).
    QByteArray receive()
    {
        QByteArray buffer(256 * 1024, '\0');
        const auto got = ::recv(fd, buffer.data(), static_cast<std::size_t>(buffer.size()), MSG_DONTWAIT);
        return got > 0 ? buffer.left(got) : QByteArray();
    }
    int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    bool bound = false;
};

// Captures what is written to file descriptor 2 until finish().
struct StandardErrorCapture {
    explicit StandardErrorCapture(const QString& path)
        : file(path)
    {
        std::fflush(stderr);
        const int fd = ::open(path.toLocal8Bit().constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        ::dup2(fd, STDERR_FILENO);
        ::close(fd);
    }
    ~StandardErrorCapture()
    {
        finish();
        ::close(saved);
    }
    QByteArray finish()
    {
        std::fflush(stderr);
        ::dup2(saved, STDERR_FILENO);
        return velmo::test::readAll(file);
    }
    QString file;
    int saved = ::dup(STDERR_FILENO);
};

TEST(Log, JournalDatagramsUseTheNativeProtocol)
{
    EXPECT_EQ(Log::journalDatagram(QtInfoMsg, "velmo-usage.network", "refresh ok via app"),
        "MESSAGE=refresh ok via app\nPRIORITY=6\nSYSLOG_IDENTIFIER=velmo-usage\nQT_CATEGORY=velmo-usage.network\n");
    EXPECT_TRUE(Log::journalDatagram(QtDebugMsg, "c", "x").contains("\nPRIORITY=7\n"));
    EXPECT_TRUE(Log::journalDatagram(QtCriticalMsg, "c", "x").contains("\nPRIORITY=3\n"));

    // A line break switches the field to the length-prefixed form.
    const QByteArray multi = Log::journalDatagram(QtCriticalMsg, "velmo-usage.app", "two\nlines");
    EXPECT_TRUE(multi.startsWith(QByteArray("MESSAGE\n") + QByteArray("\x09\0\0\0\0\0\0\0", 8) + "two\nlines\n"));

    // A huge message is cut on a character boundary.
    const QByteArray huge = Log::journalDatagram(QtInfoMsg, "c", QString(100'000, QChar(0x00e9)));
    EXPECT_LT(huge.size(), 50 * 1024);
    EXPECT_TRUE(QString::fromUtf8(huge).contains(QChar(0x2026)));
    EXPECT_FALSE(QString::fromUtf8(huge).contains(QChar(0xfffd)));
}

TEST(Log, HandlerWritesToTheJournalAndFallsBackToStandardError)
{
    velmo::test::ScratchDir scratch;
    const QString socketPath = scratch.filePath("journal.socket");
    FakeJournal journal(socketPath);
    ASSERT_TRUE(journal.bound);
    const std::shared_ptr<void> restore(nullptr, [](void*) { qInstallMessageHandler(nullptr); });

    Log::installMessageHandler(Log::Destination::journal, socketPath);
    qCInfo(Log::network, "refresh failed (%s): %s", "cliTokens", "Network error: offline");
    const QByteArray entry = journal.receive();
    EXPECT_TRUE(entry.startsWith("MESSAGE=refresh failed (cliTokens): Network error: offline\nPRIORITY=6\n")) << entry.toStdString();
    EXPECT_TRUE(entry.contains("QT_CATEGORY=velmo-usage.network\n"));
    // Debug is off by default: filtered lines never reach the handler.
    qCDebug(Log::updates, "probing feed");
    EXPECT_TRUE(journal.receive().isEmpty());

    // No journal listening: the line goes to standard error instead.
    StandardErrorCapture capture(scratch.filePath("stderr.txt"));
    Log::installMessageHandler(Log::Destination::journal, scratch.filePath("absent.socket"));
    qCCritical(Log::app, "snapshot cache write failed: %s", "disk full");
    Log::installMessageHandler(Log::Destination::standardError);
    qCInfo(Log::auth, "oauth client registered; opening browser");
    const QByteArray written = capture.finish();
    EXPECT_TRUE(written.contains("velmo-usage.app: snapshot cache write failed: disk full\n")) << written.toStdString();
    EXPECT_TRUE(written.contains("velmo-usage.auth: oauth client registered; opening browser\n")) << written.toStdString();
    EXPECT_TRUE(journal.receive().isEmpty());
}

TEST(Log, AJournalThatStopsReadingLosesLinesInsteadOfBlocking)
{
    velmo::test::ScratchDir scratch;
    const QString socketPath = scratch.filePath("journal.socket");
    FakeJournal journal(socketPath); // never read
    ASSERT_TRUE(journal.bound);
    const QByteArray datagram = Log::journalDatagram(QtInfoMsg, "c", QString(1000, 'x'));
    StandardErrorCapture capture(scratch.filePath("stderr.txt"));
    // The queue fills after a few hundred; a blocking send would hang here.
    int sent = 0;
    while (sent < 100'000 && Log::sendToJournal(datagram, socketPath) == Log::JournalSend::sent)
        ++sent;
    EXPECT_EQ(Log::sendToJournal(datagram, socketPath), Log::JournalSend::dropped);
    EXPECT_GE(Log::journalDrops(), 2u);
    const QByteArray said = capture.finish();
    EXPECT_EQ(said.count("log lines are being dropped"), 1) << said.toStdString();
    EXPECT_FALSE(journal.receive().isEmpty()) << "what was sent arrived";
}

} // namespace
