// The fault queue and its two spellings, in-process.
#include "FaultPlan.h"

#include <gtest/gtest.h>

using namespace velmo::devserver;

TEST(FaultPlanTest, BothSpellingsParseAndBadOnesAreRefused)
{
    const struct {
        const char* text;
        std::string endpoint;
        Fault::Kind kind;
        int status;
        int count;
        std::optional<std::string> retryAfter;
    } cases[] = {
        { "usage:503:2:5", "usage", Fault::Kind::status, 503, 2, "5" },
        { "token:hang", "token", Fault::Kind::hang, 0, 1, std::nullopt },
        { "balance:html", "balance", Fault::Kind::html, 502, 1, std::nullopt },
        { R"({"endpoint":"balance","status":429,"count":-1,"retry_after":"9"})", "balance", Fault::Kind::status, 429, -1, "9" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const auto [endpoint, fault] = FaultPlan::parseArgument(c.text);
        EXPECT_EQ(endpoint, c.endpoint);
        EXPECT_EQ(fault.kind, c.kind);
        EXPECT_EQ(c.status ? fault.status : 0, c.status);
        EXPECT_EQ(fault.count, c.count);
        EXPECT_EQ(fault.retryAfter, c.retryAfter);
    }
    for (const char* bad : { "nowhere:503", "usage:503:x", "usage:teapot", "{\"endpoint\":",
             R"({"endpoint":"balance","retry_after":"1\r\nX-Evil: 1"})" })
        EXPECT_THROW(FaultPlan::parseArgument(bad), FaultSpecError) << bad;
}

// Queue order and counts are checked over the admin API, endless faults by the
// headless process tests.
TEST(FaultPlanTest, ClearingEndsAnEndlessFaultAndLatencyFallsBack)
{
    FaultPlan plan;
    plan.add("balance", FaultPlan::parseArgument("balance:503:-1").second);
    EXPECT_EQ(plan.take("balance")->status, 503);
    EXPECT_FALSE(plan.take("token").has_value());
    plan.clear("balance");
    EXPECT_FALSE(plan.take("balance").has_value());

    plan.setLatency("*", 100);
    plan.setLatency("usage", 5);
    EXPECT_EQ(plan.latencyFor("usage"), 5);
    EXPECT_EQ(plan.latencyFor("balance"), 100);
    EXPECT_THROW(plan.setLatency("nowhere", 1), FaultSpecError);
    EXPECT_THROW(plan.setLatency("*", -1), FaultSpecError);
    // Error bodies stay valid JSON whatever the message holds.
    EXPECT_EQ(nlohmann::json::parse(errorBody("nested", "a\"b\n").first)["error"]["message"], "a\"b\n");
    EXPECT_EQ(errorBody("text", "m"), (std::pair<std::string, std::string> { "m", "text/plain; charset=utf-8" }));
}
