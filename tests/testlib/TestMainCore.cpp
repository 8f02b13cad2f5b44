#include <QCoreApplication>
#include <gtest/gtest.h>

// Headless subsystems need an event loop and Qt's application object, nothing more.
int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
