#pragma once

#include <QProcess>
#include <QStringList>

#include <chrono>

namespace velmo::test {

// The stand-in velmo tool (FakeVelmo.cpp) as a child process.
class FakeVelmoProcess {
public:
    FakeVelmoProcess() = default;
    ~FakeVelmoProcess();
    FakeVelmoProcess(const FakeVelmoProcess&) = delete;
    FakeVelmoProcess& operator=(const FakeVelmoProcess&) = delete;

    void start(const QStringList& arguments);
    // `hold`: waits (bounded) until the tool reports that it holds the lock.
    bool waitUntilHeld(std::chrono::milliseconds watchdog = std::chrono::seconds(20));
    // `hold`: closes stdin so that the tool releases the lock and exits.
    void release() { m_process.closeWriteChannel(); }
    // True when the tool ended by itself with status 0 within the watchdog.
    bool finishedCleanly(std::chrono::milliseconds watchdog = std::chrono::seconds(120));
    QString errors() { return QString::fromUtf8(m_process.readAllStandardError()); }
    QProcess& process() { return m_process; }

private:
    QProcess m_process;
};

} // namespace velmo::test
