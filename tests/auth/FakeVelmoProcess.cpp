#include "FakeVelmoProcess.h"

#include <gtest/gtest.h>

namespace velmo::test {

FakeVelmoProcess::~FakeVelmoProcess()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
}

void FakeVelmoProcess::start(const QStringList& arguments)
{
    m_process.start(QStringLiteral(VELMO_FAKE_VELMO), arguments);
    ASSERT_TRUE(m_process.waitForStarted(10000)) << m_process.errorString().toStdString();
}

bool FakeVelmoProcess::waitUntilHeld(std::chrono::milliseconds watchdog)
{
    while (!m_process.canReadLine()) {
        if (!m_process.waitForReadyRead(static_cast<int>(watchdog.count())))
            return false;
    }
    return m_process.readLine().trimmed() == "held";
}

bool FakeVelmoProcess::finishedCleanly(std::chrono::milliseconds watchdog)
{
    // waitForFinished() is false for a process that has finished already.
    if (m_process.state() != QProcess::NotRunning && !m_process.waitForFinished(static_cast<int>(watchdog.count())))
        return false;
    return m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
}

} // namespace velmo::test
