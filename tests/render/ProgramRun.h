#pragma once

#include "TestSupport.h"

#include <QProcess>

// How a run of the real velmo-usage ended and what it said.
struct ProgramRun {
    int exitCode = -1;
    QString out;
    QString err;
};

// Runs velmo-usage without any display or session bus, on a platform that
// needs a display: the render modes must go offscreen themselves. The wait
// is a watchdog, not a timing assumption.
inline ProgramRun runProgram(const QStringList& arguments, const QString& workingDirectory = {},
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment())
{
    for (const char* name : { "DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS" })
        environment.remove(name);
    environment.insert("QT_QPA_PLATFORM", "xcb");
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(workingDirectory);
    process.start(QStringLiteral(VELMO_USAGE_BINARY), arguments);
    const velmo::test::ProcessResult result = velmo::test::finishProcess(process, 240'000);
    return { result.exitCode, QString::fromUtf8(result.out), QString::fromUtf8(result.err) };
}
