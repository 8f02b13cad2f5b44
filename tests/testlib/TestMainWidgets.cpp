#include <QApplication>
#include <gtest/gtest.h>

// The tray's widgets (QSystemTrayIcon, QMenu) need a QApplication; without
// a display they run offscreen like the other UI tests.
int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    return RUN_ALL_TESTS();
}
