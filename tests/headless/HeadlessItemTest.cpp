#include "HeadlessItem.h"
#include "StoreFixture.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using namespace std::chrono_literals;
using nlohmann::json;
using velmo::test::StoreFixture;

namespace {

json parsed(const ItemInputs& inputs)
{
    const std::string line = HeadlessItem::waybarJSON(inputs);
    EXPECT_EQ(line.find('\n'), std::string::npos) << line;
    return json::parse(line);
}

ItemInputs withBalance(std::int64_t account, std::int64_t available, ItemStatus status = {})
{
    ItemInputs inputs;
    inputs.balance = StoreFixture::balance(account, available);
    inputs.status = std::move(status);
    inputs.now = *VelmoJSON::parseDate("2025-06-01T12:00:00Z");
    inputs.fetchedAt = inputs.now - 3min;
    return inputs;
}

TEST(HeadlessItem, StatusAndStyleMapCaseForCase)
{
    using S = UsageStore::Status;
    using K = ItemStatus::Kind;
    EXPECT_EQ(HeadlessItem::itemStatus(S::ok()), (ItemStatus { K::ok, "" }));
    EXPECT_EQ(HeadlessItem::itemStatus(S::error("server down")), (ItemStatus { K::error, "server down" }));
    EXPECT_EQ(HeadlessItem::itemStatus(S::credentialRejected("invalid access token")),
        (ItemStatus { K::credentialRejected, "invalid access token" }));
    EXPECT_EQ(HeadlessItem::itemStatus(S::noCredential()), (ItemStatus { K::noCredential, "" }));
    EXPECT_EQ(HeadlessItem::itemStatus(S::credentialExpired()), (ItemStatus { K::credentialExpired, "" }));

    EXPECT_EQ(HeadlessItem::itemStyle(SettingsStore::MenuBarStyle::iconOnly), ItemStyle::iconOnly);
    EXPECT_EQ(HeadlessItem::itemStyle(SettingsStore::MenuBarStyle::account), ItemStyle::account);

    EXPECT_EQ(HeadlessItem::statusName(K::ok), "ok");
    EXPECT_EQ(HeadlessItem::statusName(K::error), "error");
    EXPECT_EQ(HeadlessItem::statusName(K::credentialRejected), "credentialRejected");
    EXPECT_EQ(HeadlessItem::statusName(K::noCredential), "noCredential");
    EXPECT_EQ(HeadlessItem::statusName(K::credentialExpired), "credentialExpired");
}

TEST(HeadlessItem, InputsFollowTheStore)
{
    StoreFixture fixture;
    UsageStore& store = *fixture.store;

    ItemInputs inputs = HeadlessItem::inputs(store, ItemStyle::iconOnly);
    EXPECT_EQ(inputs.style, ItemStyle::iconOnly);
    EXPECT_EQ(inputs.status.kind, ItemStatus::Kind::noCredential);
    EXPECT_FALSE(inputs.balance);
    EXPECT_FALSE(inputs.fetchedAt);
    EXPECT_FALSE(inputs.stale);
    EXPECT_EQ(inputs.now, fixture.clock);

    fixture.signIn();
    const Balance balance = StoreFixture::balance(7'000'000, 6'000'000);
    store.setSnapshot(Snapshot { balance, std::nullopt, fixture.clock - 1800s });
    inputs = HeadlessItem::inputs(store, ItemStyle::account);
    EXPECT_EQ(inputs.status.kind, ItemStatus::Kind::ok);
    EXPECT_EQ(inputs.balance, balance);
    EXPECT_EQ(inputs.fetchedAt, fixture.clock - 1800s);
    EXPECT_FALSE(inputs.stale) << "exactly the threshold is not stale";

    fixture.clock += 1s;
    EXPECT_TRUE(HeadlessItem::inputs(store, ItemStyle::account).stale);
}

TEST(HeadlessItem, WaybarLineForEachState)
{
    // Signed out, nothing cached.
    ItemInputs signedOut;
    signedOut.status = { ItemStatus::Kind::noCredential, {} };
    json line = parsed(signedOut);
    EXPECT_EQ(line["text"], "?");
    EXPECT_EQ(line["class"], json::array({ "signed-out" }));
    EXPECT_EQ(line["alt"], "noCredential");
    EXPECT_EQ(line["tooltip"], "Velmo Usage\nNot signed in \u2014 open Settings");

    // All well: the compact balance alone, no leading space.
    line = parsed(withBalance(12'500'000'000, 12'500'000'000));
    EXPECT_EQ(line["text"], "$12.5K");
    EXPECT_EQ(line["class"], json::array({ "ok" }));
    EXPECT_EQ(line["alt"], "ok");
    EXPECT_EQ(line["tooltip"], "Velmo Usage\nAvailable $12500.00 \u00B7 Account $12500.00\nUpdated 3m ago");

    // A failure keeps the cached balance, with the warning badge and the message.
    line = parsed(withBalance(42'750'000, 1'000'000, { ItemStatus::Kind::error, "service unavailable" }));
    EXPECT_EQ(line["text"], "\u26A0\uFE0E $42.75");
    EXPECT_EQ(line["class"], json::array({ "error", "low" }));
    EXPECT_EQ(line["alt"], "error");
    EXPECT_TRUE(line["tooltip"].get<std::string>().ends_with("\nservice unavailable"));

    // Rejected and expired sessions share the "auth" class; alt tells them apart.
    ItemInputs rejected = withBalance(0, 0, { ItemStatus::Kind::credentialRejected, "invalid access token" });
    rejected.stale = true;
    line = parsed(rejected);
    EXPECT_EQ(line["class"], json::array({ "auth", "stale", "empty" }));
    EXPECT_EQ(line["alt"], "credentialRejected");
    line = parsed(withBalance(1, 1, { ItemStatus::Kind::credentialExpired, {} }));
    EXPECT_EQ(line["class"][0], "auth");
    EXPECT_EQ(line["alt"], "credentialExpired");
}

TEST(HeadlessItem, WaybarTextIgnoresTheIconOnlyStyle)
{
    ItemInputs inputs = withBalance(42'750'000, 30'000'000);
    inputs.style = ItemStyle::iconOnly;
    EXPECT_EQ(parsed(inputs)["text"], "$42.75");
}

TEST(HeadlessItem, HostileMessagesStayOneValidLine)
{
    // Invalid UTF-8 and control characters from a server's error body.
    ItemInputs inputs = withBalance(1'000'000, 1'000'000,
        { ItemStatus::Kind::error, std::string("bad \xff\xfe bytes\nsecond line \x1b[31mred\"quote") });
    const json line = parsed(inputs);
    const std::string tooltip = line["tooltip"];
    EXPECT_NE(tooltip.find("bad \xEF\xBF\xBD\xEF\xBF\xBD bytes"), std::string::npos) << tooltip;
    EXPECT_NE(tooltip.find("\x1b[31mred\"quote"), std::string::npos) << "escaped in JSON, not lost";

    const std::string text = HeadlessItem::tooltipText(inputs);
    EXPECT_EQ(text.find('\x1b'), std::string::npos);
    EXPECT_TRUE(text.ends_with("second line  [31mred\"quote\n")) << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 4) << "one line break per tooltip line";
}

TEST(HeadlessItem, TooltipTextIsOneLinePerTooltipLine)
{
    const ItemInputs inputs = withBalance(42'750'000, 30'000'000);
    EXPECT_EQ(HeadlessItem::tooltipText(inputs),
        "Velmo Usage\nAvailable $30.00 \u00B7 Account $42.75\nUpdated 3m ago\n");
}

} // namespace
