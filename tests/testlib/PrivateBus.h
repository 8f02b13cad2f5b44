#pragma once

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QProcess>
#include <QStringList>
#include <QTest>

#include <gtest/gtest.h>

namespace velmo::test {

// A dbus-daemon of the test's own, so that the names a test owns
// (org.freedesktop.Notifications, org.freedesktop.login1) never meet
// those of tests running beside it.
class PrivateBus {
public:
    PrivateBus()
    {
        m_daemon.start(QStringLiteral("dbus-daemon"),
            { QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1") });
        if (m_daemon.waitForReadyRead(10000))
            m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
        EXPECT_FALSE(m_address.isEmpty()) << "dbus-daemon did not start";
    }
    ~PrivateBus()
    {
        for (const QString& name : m_names)
            QDBusConnection::disconnectFromBus(name);
        m_daemon.terminate();
        m_daemon.waitForFinished(5000);
    }
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    // A new connection to the bus, by a name unique in this process.
    QDBusConnection connect(const QString& name)
    {
        const QString unique = name + QString::number(reinterpret_cast<quintptr>(this));
        m_names << unique;
        QDBusConnection connection = QDBusConnection::connectToBus(m_address, unique);
        EXPECT_TRUE(connection.isConnected()) << connection.lastError().message().toStdString();
        return connection;
    }

    // Calls `method` and returns once it has been answered: everything
    // either side sent before has then arrived (a bus keeps each sender's
    // messages in order), and what it started on this thread has run.
    static void roundTrip(const QDBusConnection& from, const QDBusMessage& method)
    {
        QDBusPendingCall call = from.asyncCall(method);
        EXPECT_TRUE(QTest::qWaitFor([&] { return call.isFinished(); }, 5000));
        QCoreApplication::processEvents();
    }

private:
    QProcess m_daemon;
    QString m_address;
    QStringList m_names;
};

} // namespace velmo::test
