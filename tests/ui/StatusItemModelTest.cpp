#include "StatusItemModel.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

using namespace std::chrono_literals;
using Kind = ItemStatus::Kind;

namespace {

const Timestamp now = Timestamp {} + std::chrono::seconds(1'741'100'000);
const std::string warning = "\xE2\x9A\xA0\xEF\xB8\x8E"; // U+26A0 U+FE0E in UTF-8

Balance balance(std::int64_t account, std::int64_t available)
{
    Balance b;
    b.accountBalance = MicrosUSD(account);
    b.availableBalance = MicrosUSD(available);
    return b;
}

// A healthy account: $12,500 on the account, all of it available.
const Balance healthy = balance(12'500'000'000, 12'500'000'000);

ItemInputs inputs(ItemStyle style, ItemStatus status, std::optional<Balance> b = healthy,
    std::optional<Timestamp> fetchedAt = now - 5min, bool stale = false)
{
    return ItemInputs {
        .style = style,
        .balance = std::move(b),
        .status = std::move(status),
        .stale = stale,
        .fetchedAt = fetchedAt,
        .now = now,
    };
}

const ItemStatus ok { Kind::ok, {} };
const ItemStatus signedOut { Kind::noCredential, {} };
const ItemStatus expired { Kind::credentialExpired, {} };

ItemStatus error(std::string message) { return { Kind::error, std::move(message) }; }
ItemStatus rejected(std::string message) { return { Kind::credentialRejected, std::move(message) }; }

} // namespace

// The badge ("?" signed out, a warning for any other trouble or a stale balance)
// comes before the balance, which only the account style shows.
TEST(StatusItemModelTitle, BadgeForEveryStatusThenTheBalanceInAccountStyle)
{
    EXPECT_EQ(healthy.accountBalance.compact(), "$12.5K"); // so the cases below check a real text
    const std::pair<ItemInputs, std::string> cases[] = {
        { inputs(ItemStyle::iconOnly, ok), "" },
        { inputs(ItemStyle::iconOnly, signedOut, std::nullopt, std::nullopt), " ?" },
        { inputs(ItemStyle::iconOnly, error("boom")), " " + warning },
        { inputs(ItemStyle::iconOnly, expired), " " + warning },
        { inputs(ItemStyle::iconOnly, rejected("x"), healthy, now - 5min, true), " " + warning },
        { inputs(ItemStyle::iconOnly, signedOut, healthy, now - 31min, true), " ?" }, // signed out wins over stale
        { inputs(ItemStyle::iconOnly, ok, healthy, now - 31min, true), " " + warning },
        { inputs(ItemStyle::account, ok), " $12.5K" },
        // The account balance, not the available one.
        { inputs(ItemStyle::account, ok, balance(40'000'000, 20'000'000)), " $40.00" },
        { inputs(ItemStyle::account, ok, healthy, now - 31min, true), " " + warning + " $12.5K" },
        { inputs(ItemStyle::account, signedOut), " ? $12.5K" },
        { inputs(ItemStyle::account, ok, std::nullopt, std::nullopt), "" },
        { inputs(ItemStyle::account, error("boom"), std::nullopt, std::nullopt), " " + warning },
    };
    for (const auto& [in, title] : cases)
        EXPECT_EQ(StatusItemModel::render(in).title, title) << title;
}

TEST(StatusItemModelColor, RedAtZeroOrBelowOrangeUnderFiveDollars)
{
    const std::tuple<std::int64_t, std::int64_t, ItemColorRole> cases[] = { // account, available
        { 0, 10'000'000, ItemColorRole::red }, // red wins over everything
        { -1, 10'000'000, ItemColorRole::red },
        { 1, 1, ItemColorRole::orange },
        { 10'000'000, 4'999'999, ItemColorRole::orange },
        { 10'000'000, -3, ItemColorRole::orange },
        { 10'000'000, 5'000'000, ItemColorRole::label },
    };
    for (const auto& [account, available, role] : cases)
        for (ItemStyle style : { ItemStyle::account, ItemStyle::iconOnly })
            EXPECT_EQ(StatusItemModel::render(inputs(style, ok, balance(account, available))).colorRole, role)
                << account << " / " << available << " style " << static_cast<int>(style);
    // No balance is the label colour.
    EXPECT_EQ(StatusItemModel::colorRole(inputs(ItemStyle::account, error("x"), std::nullopt, std::nullopt)),
        ItemColorRole::label);
}

TEST(StatusItemModelTooltip, BalanceAgeAndStatusLines)
{
    using Lines = std::vector<std::string>;
    EXPECT_EQ(StatusItemModel::render(inputs(ItemStyle::iconOnly, ok, balance(10'000'000, 4'500'000))).tooltip(),
        "Velmo Usage\nAvailable $4.50 \u00B7 Account $10.00\nUpdated 5m ago");
    EXPECT_EQ(StatusItemModel::tooltipLines(inputs(ItemStyle::account, ok, std::nullopt, std::nullopt)),
        Lines { "Velmo Usage" });
    // A snapshot whose balance never arrived still says when it was taken.
    EXPECT_EQ(StatusItemModel::tooltipLines(inputs(ItemStyle::account, ok, std::nullopt, now - 2h)),
        (Lines { "Velmo Usage", "Updated 2h ago" }));
    // The status line comes last.
    const std::string message = "500: Internal error \u2014 \"retry\" <later>";
    EXPECT_EQ(StatusItemModel::tooltipLines(inputs(ItemStyle::account, error(message))).back(), message);
    EXPECT_EQ(StatusItemModel::tooltipLines(inputs(ItemStyle::account, expired)).back(),
        "Session expired \u2014 sign in again");
    EXPECT_EQ(StatusItemModel::tooltipLines(inputs(ItemStyle::iconOnly, signedOut, std::nullopt, std::nullopt)),
        (Lines { "Velmo Usage", "Not signed in \u2014 open Settings" }));
}
