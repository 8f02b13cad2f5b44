#include "HeadlessItem.h"
#include "StoreFixture.h"

#include <QDir>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using namespace std::chrono_literals;
using nlohmann::json;
using velmo::test::StoreFixture;
using S = UsageStore::Status;

namespace {

// The store's status as the item sees it.
ItemInputs withBalance(std::int64_t account, std::int64_t available, const S& status = S::ok())
{
    ItemInputs inputs;
    inputs.balance = StoreFixture::balance(account, available);
    inputs.status = HeadlessItem::itemStatus(status);
    inputs.now = *VelmoJSON::parseDate("2025-06-01T12:00:00Z");
    inputs.fetchedAt = inputs.now - 3min;
    return inputs;
}

TEST(HeadlessItem, WaybarLinePerState)
{
    ItemInputs signedOut;
    signedOut.status = HeadlessItem::itemStatus(S::noCredential());
    signedOut.signedOutLine = HeadlessItem::signInHint;
    ItemInputs loading;
    loading.loading = true;
    ItemInputs rejected = withBalance(0, 0, S::credentialRejected("invalid access token"));
    rejected.stale = true;
    ItemInputs iconOnly = withBalance(42'750'000, 30'000'000);
    iconOnly.style = ItemStyle::iconOnly; // the bar shows the balance whatever the tray does
    ItemInputs noted = withBalance(1'000'000, 1'000'000);
    noted.note = "Session store unreadable: no keyring";
    const struct {
        ItemInputs inputs;
        json text, classes, alt;
        std::string tooltip;
    } cases[] = {
        { signedOut, "?", { "signed-out" }, "noCredential",
            "Velmo Usage\nNot signed in \u2014 run velmo-usage --sign-in (or velmo login)" },
        { loading, "\u2026", { "loading" }, "ok", "Velmo Usage" },
        { withBalance(12'500'000'000, 12'500'000'000), "$12.5K", { "ok" }, "ok",
            "Velmo Usage\nAvailable $12500.00 \u00B7 Account $12500.00\nUpdated 3m ago" },
        { iconOnly, "$42.75", { "ok" }, "ok", "Velmo Usage\nAvailable $30.00 \u00B7 Account $42.75\nUpdated 3m ago" },
        { withBalance(42'750'000, 1'000'000, S::error("Billing & <limits> unavailable")), "\u26A0\uFE0E $42.75",
            { "error", "low" }, "error",
            "Velmo Usage\nAvailable $1.00 \u00B7 Account $42.75\nUpdated 3m ago\nBilling &amp; &lt;limits&gt; unavailable" },
        { rejected, "\u26A0\uFE0E $0.00", { "auth", "stale", "empty" }, "credentialRejected",
            "Velmo Usage\nAvailable $0.00 \u00B7 Account $0.00\nUpdated 3m ago\ninvalid access token" },
        { withBalance(1, 1, S::credentialExpired()), "\u26A0\uFE0E $0.00", { "auth", "low" }, "credentialExpired",
            "Velmo Usage\nAvailable $0.00 \u00B7 Account $0.00\nUpdated 3m ago\nSession expired \u2014 sign in again" },
        { noted, "$1.00", { "ok", "low" }, "ok",
            "Velmo Usage\nAvailable $1.00 \u00B7 Account $1.00\nUpdated 3m ago\nSession store unreadable: no keyring" },
        // Control characters and invalid UTF-8 from a server never reach the bar.
        { withBalance(1'000'000, 1'000'000, S::error("bad \xff bytes\n\x1b[31mred\"")),
            "\u26A0\uFE0E $1.00", { "error", "low" }, "error",
            "Velmo Usage\nAvailable $1.00 \u00B7 Account $1.00\nUpdated 3m ago\nbad \uFFFD bytes[31mred&quot;" },
    };
    for (const auto& c : cases) {
        const std::string raw = HeadlessItem::waybarJSON(c.inputs);
        SCOPED_TRACE(raw);
        EXPECT_EQ(raw.find('\n'), std::string::npos);
        const json line = json::parse(raw);
        EXPECT_EQ(line["text"], c.text);
        EXPECT_EQ(line["class"], c.classes);
        EXPECT_EQ(line["alt"], c.alt);
        EXPECT_EQ(line["tooltip"], c.tooltip);
    }
    // The terminal's lines: one line break each, nothing a terminal obeys.
    EXPECT_EQ(HeadlessItem::tooltipText(cases[8].inputs),
        "Velmo Usage\nAvailable $1.00 \u00B7 Account $1.00\nUpdated 3m ago\nbad \uFFFD bytes[31mred\"\n");
}

TEST(HeadlessItem, InputsFollowTheStoreAndExplainTheCredential)
{
    StoreFixture fixture;
    UsageStore& store = *fixture.store;
    ItemInputs inputs
        = HeadlessItem::terminalInputs(store, HeadlessItem::itemStyle(SettingsStore::MenuBarStyle::iconOnly));
    EXPECT_EQ(inputs.style, ItemStyle::iconOnly);
    EXPECT_FALSE(inputs.loading) << "signed out is known without a refresh";
    EXPECT_FALSE(inputs.stale) << "no figures are not old figures";

    // The CLI's file holds a static API key: that is what the line says.
    ASSERT_TRUE(QDir().mkpath(fixture.scratch.filePath("home/.velmo")));
    velmo::test::writeFile(fixture.scratch.filePath("home/.velmo/tokens.json"), R"({"accessToken":"sk-live-1"})");
    EXPECT_EQ(HeadlessItem::terminalInputs(store, ItemStyle::account).signedOutLine, "API key \u2014 run `velmo login`");

    fixture.signIn();
    EXPECT_TRUE(HeadlessItem::terminalInputs(store, ItemStyle::account).loading) << "until the first refresh ends";
    store.setSnapshot(Snapshot { StoreFixture::balance(7'000'000, 6'000'000), std::nullopt, fixture.clock - 1800s });
    inputs = HeadlessItem::terminalInputs(store, ItemStyle::account);
    EXPECT_FALSE(inputs.loading);
    EXPECT_FALSE(inputs.stale) << "exactly the threshold is not stale";
    fixture.clock += 1s;
    EXPECT_TRUE(HeadlessItem::terminalInputs(store, ItemStyle::account).stale);
}

} // namespace
