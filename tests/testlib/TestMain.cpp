// The one test main, built three times: headless subsystems need Qt's
// application object and an event loop, nothing more; drawing and Qt Quick
// need a QGuiApplication, the tray's widgets (QSystemTrayIcon, QMenu) a
// QApplication. Without a display they run offscreen.
#include "QtNetworkTransport.h"

#include <QEventLoop>
#include <QTimer>
#include <gtest/gtest.h>

#if defined(VELMO_TEST_WIDGETS)
#include <QApplication>
using TestApplication = QApplication;
#elif defined(VELMO_TEST_GUI)
#include <QGuiApplication>
using TestApplication = QGuiApplication;
#else
#include <QCoreApplication>
using TestApplication = QCoreApplication;
#endif

namespace {

// Lets Qt's network thread wind down while the event loop still runs: a
// manager destroyed inside ~QCoreApplication leaves its connection cache
// behind (a leak report at exit, not a fault of the code under test).
class NetworkTestEnvironment : public ::testing::Environment {
public:
    void TearDown() override
    {
        QtNetworkTransport::releaseManager();
        QEventLoop loop;
        QTimer::singleShot(0, &loop, &QEventLoop::quit);
        loop.exec();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
};

} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new NetworkTestEnvironment);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TestApplication app(argc, argv);
#if defined(VELMO_TEST_WIDGETS)
    QApplication::setQuitOnLastWindowClosed(false);
#endif
    return RUN_ALL_TESTS();
}
