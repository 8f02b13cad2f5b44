#include "StoreFixture.h"
#include "WaybarRunner.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using namespace std::chrono_literals;
using nlohmann::json;
using velmo::test::StoreFixture;

namespace {

// Runs what the event loop has queued (the runner's coalesced line).
void settle()
{
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents();
}

struct RunnerFixture : StoreFixture {
    RunnerFixture()
        : runner(*store, [this](const std::string& line) {
            written.push_back(line);
            return accepting;
        })
    {
    }
    json line(std::size_t index) const { return json::parse(written.at(index)); }

    std::vector<std::string> written;
    bool accepting = true;
    WaybarRunner runner;
};

// The first line at once, then one line per burst of changes that shows
// something new, and one every minute whatever changed.
TEST(WaybarRunner, WritesAtStartOncePerVisibleChangeAndEveryMinute)
{
    RunnerFixture f;
    f.runner.start();
    ASSERT_EQ(f.written.size(), 1u);
    EXPECT_EQ(f.line(0)["alt"], "noCredential");
    // A refresh's worth of changes within one turn of the loop: one line.
    f.signIn();
    f.store->setSnapshot(Snapshot { StoreFixture::balance(42'750'000, 30'000'000), std::nullopt, f.clock });
    EXPECT_EQ(f.written.size(), 1u) << "nothing before the loop turns";
    settle();
    ASSERT_EQ(f.written.size(), 2u);
    EXPECT_EQ(f.line(1)["text"], "$42.75");
    emit f.store->lastAttemptAtChanged(); // nothing shown changes
    settle();
    EXPECT_EQ(f.written.size(), 2u);

    // The tick keeps the age current and writes even when nothing changed
    // (it is how a closed bar is seen).
    f.clock += 5min;
    f.runner.tick();
    f.runner.tick();
    ASSERT_EQ(f.written.size(), 4u);
    EXPECT_NE(f.line(2)["tooltip"], f.line(1)["tooltip"]);
    EXPECT_EQ(f.written[3], f.written[2]);
}

// The reader gone before the first line (a reader that goes later: the
// process tests): closed for good, said once.
TEST(WaybarRunner, AFailedWriteClosesTheRunnerForGood)
{
    RunnerFixture f;
    QSignalSpy closed(&f.runner, &WaybarRunner::outputClosed);
    f.accepting = false;
    f.runner.start();
    EXPECT_TRUE(f.runner.isClosed());
    f.signIn();
    f.store->setSnapshot(Snapshot { StoreFixture::balance(2'000'000, 2'000'000), std::nullopt, f.clock });
    settle();
    f.runner.tick();
    EXPECT_EQ(f.written.size(), 1u) << "no write after the output closed";
    EXPECT_EQ(closed.count(), 1);
}

} // namespace
