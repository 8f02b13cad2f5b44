#include "QtNetworkTransport.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <gtest/gtest.h>

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

[[maybe_unused]] const auto* const registered = ::testing::AddGlobalTestEnvironment(new NetworkTestEnvironment);

} // namespace
