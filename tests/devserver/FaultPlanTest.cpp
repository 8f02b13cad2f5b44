// The fault queue and its two spellings, in-process.
#include "FaultPlan.h"

#include <gtest/gtest.h>

using namespace velmo::devserver;

TEST(FaultPlanTest, ShortFormReadsEndpointStatusOrKindCountAndRetryAfter)
{
    auto [endpoint, fault] = FaultPlan::parseArgument("usage:503:2:5");
    EXPECT_EQ(endpoint, "usage");
    EXPECT_EQ(fault.kind, Fault::Kind::status);
    EXPECT_EQ(fault.status, 503);
    EXPECT_EQ(fault.count, 2);
    EXPECT_EQ(fault.retryAfter, "5");

    auto [tokenEndpoint, hang] = FaultPlan::parseArgument("token:hang");
    EXPECT_EQ(tokenEndpoint, "token");
    EXPECT_EQ(hang.kind, Fault::Kind::hang);
    EXPECT_EQ(hang.count, 1);
    EXPECT_FALSE(hang.retryAfter.has_value());

    EXPECT_EQ(FaultPlan::parseArgument("balance:html").second.status, 502);

    for (const char* bad : { "usage:", "nowhere:503", "usage:503:x", "usage:503:1:2:3", "usage:teapot", "{\"endpoint\":" }) {
        SCOPED_TRACE(bad);
        EXPECT_THROW(FaultPlan::parseArgument(bad), FaultSpecError);
    }
}

TEST(FaultPlanTest, CountsAreConsumedInQueueOrder)
{
    FaultPlan plan;
    plan.add("usage", FaultPlan::parseArgument("usage:500:2").second);
    plan.add("usage", FaultPlan::parseArgument("usage:429").second);
    EXPECT_FALSE(plan.take("balance").has_value());
    EXPECT_EQ(plan.take("usage")->status, 500);
    EXPECT_EQ(plan.take("usage")->status, 500);
    EXPECT_EQ(plan.take("usage")->status, 429);
    EXPECT_FALSE(plan.take("usage").has_value());

    plan.add("balance", FaultPlan::parseArgument("balance:503:-1").second);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(plan.take("balance")->status, 503);
    plan.clear("balance");
    EXPECT_FALSE(plan.take("balance").has_value());
}

TEST(FaultPlanTest, LatencyFallsBackToTheDefault)
{
    FaultPlan plan;
    EXPECT_EQ(plan.latencyFor("usage"), 0);
    plan.setLatency("*", 100);
    plan.setLatency("usage", 5);
    EXPECT_EQ(plan.latencyFor("usage"), 5);
    EXPECT_EQ(plan.latencyFor("balance"), 100);
    EXPECT_THROW(plan.setLatency("nowhere", 1), FaultSpecError);
    EXPECT_THROW(plan.setLatency("*", -1), FaultSpecError);
}

TEST(FaultPlanTest, ErrorMessagesThatNeedEscapingStayValidJSON)
{
    EXPECT_EQ(nlohmann::json::parse(errorBody("nested", "a\"b\n").first)["error"]["message"], "a\"b\n");
    EXPECT_EQ(errorBody("text", "m"), (std::pair<std::string, std::string> { "m", "text/plain; charset=utf-8" }));
}
