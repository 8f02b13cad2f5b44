// The panel's selection rules as tables, without any window.
#include "BalanceRules.h"
#include "ContentModel.h"
#include "DashboardRules.h"
#include "Formatters.h"
#include "UsageRules.h"
#include "VelmoJSON.h"

#include <gtest/gtest.h>

namespace {

using Status = UsageStore::Status;
using namespace std::chrono_literals;

const Timestamp now = *VelmoJSON::parseDate("2025-06-01T12:00:00Z");

MicrosUSD usd(double dollars)
{
    return MicrosUSD(static_cast<std::int64_t>(dollars * 1'000'000));
}

Balance balance(MicrosUSD account, MicrosUSD available, MicrosUSD goToMarket = {})
{
    Balance b;
    b.accountBalance = account;
    b.availableBalance = available;
    b.goToMarketBalance = goToMarket;
    return b;
}

TEST(DashboardRules, BadgeForEveryStatus)
{
    struct Case { Status status; bool stale; DashboardRules::Badge badge; };
    for (const Case& c : std::initializer_list<Case> {
             { Status::credentialRejected("no"), false, { "Auth", ColorRole::red } },
             { Status::credentialExpired(), true, { "Auth", ColorRole::red } },
             { Status::error("boom"), false, { "Error", ColorRole::orange } },
             { Status::noCredential(), true, { "Setup", ColorRole::secondary } },
             { Status::ok(), true, { "Outdated", ColorRole::orange } },
             { Status::ok(), false, { "Live", ColorRole::green } },
         })
        EXPECT_EQ(DashboardRules::badge(c.status, c.stale), c.badge) << c.badge.text.toStdString();
}

// The states of the panel's QML test, plus what it cannot tell apart: which
// parts of the data column a partial snapshot fills.
TEST(DashboardRules, APartialSnapshotShowsWhatItHasWithTheErrorLine)
{
    const Snapshot balanceOnly { balance(usd(10), usd(10)), std::nullopt, now };
    const auto content = DashboardRules::content(Status::error("HTTP 502"), balanceOnly, "HTTP 502");
    EXPECT_EQ(content.kind, DashboardRules::ContentKind::data);
    EXPECT_TRUE(content.showBalance);
    EXPECT_FALSE(content.showUsage);
    EXPECT_EQ(content.loadingText, std::nullopt);
    EXPECT_EQ(content.errorLine, "HTTP 502");
}

TEST(DashboardRules, OnlyOurOwnDetailsCarryInlineCode)
{
    const auto signedOut = DashboardRules::content(Status::noCredential(), std::nullopt, std::nullopt).empty;
    EXPECT_EQ(ContentModel::richDetail(signedOut),
        "Sign in with your browser in Settings, or run <code>velmo login</code> in the CLI.");
    const auto rejected
        = DashboardRules::content(Status::credentialRejected("<b>no</b> `x`"), std::nullopt, std::nullopt).empty;
    EXPECT_EQ(ContentModel::richDetail(rejected), "&lt;b&gt;no&lt;/b&gt; `x`");
}

TEST(DashboardRules, FooterCountsDownOnlyWithACredentialAndASchedule)
{
    struct Case {
        std::optional<Timestamp> fetchedAt;
        bool credential;
        std::optional<Timestamp> next;
        bool refreshing;
        DashboardRules::Footer footer;
    };
    for (const Case& c : std::initializer_list<Case> {
             { std::nullopt, true, now + 14min + 59s, false, { "Not updated yet", "Next in 14m" } },
             { now - 3min, true, now + 10s, false, { "Updated 3m ago", "Next in <1m" } },
             { now - 2h, true, now + 14min, true, { "Updated 2h ago", "Refreshing…" } },
             { now - 3min, false, now + 14min, false, { "Updated 3m ago", std::nullopt } },
             { now - 3min, true, std::nullopt, false, { "Updated 3m ago", std::nullopt } },
         })
        EXPECT_EQ(DashboardRules::footer(c.fetchedAt, c.credential, c.next, c.refreshing, now), c.footer)
            << c.footer.updated.toStdString();
}

TEST(BalanceRules, HeroColourAndLabelAtTheThresholds)
{
    struct Case { MicrosUSD account, available; ColorRole color; QString label; };
    for (const Case& c : std::initializer_list<Case> {
             { MicrosUSD(0), MicrosUSD(0), ColorRole::red, "Out of credit" },
             { usd(-1), usd(20), ColorRole::red, "Out of credit" },
             { usd(20), MicrosUSD(4'999'999), ColorRole::orange, "Low balance" },
             { usd(20), MicrosUSD(5'000'000), ColorRole::primary, "" },
         }) {
        const auto hero = BalanceRules::hero(balance(c.account, c.available));
        EXPECT_EQ(hero.color, c.color) << c.available.value;
        EXPECT_EQ(hero.statusText, c.label) << c.available.value;
        EXPECT_EQ(hero.statusIcon.isEmpty(), c.label.isEmpty());
    }
    EXPECT_EQ(BalanceRules::accountTotal(balance(usd(42.75), usd(30))), "Account total $42.75");
    EXPECT_EQ(BalanceRules::accountTotal(balance(usd(30), usd(30))), std::nullopt);
}

TEST(BalanceRules, PlanRowAndItsNote)
{
    Balance::GTM active { .active = true, .planCode = "builder", .balance = usd(20), .trialBalance = usd(5),
        .expiresAt = now + 17 * 24h + 1h };
    Balance::GTM lapsed { .active = false, .planCode = "team", .balance = {}, .trialBalance = usd(2),
        .expiresAt = now - 1s };
    Balance withActive = balance(usd(40), usd(40), usd(20));
    withActive.gtm = active;
    Balance withLapsed = balance(usd(40), usd(40), usd(3));
    withLapsed.gtm = lapsed;
    Balance inactiveNoGoToMarket = balance(usd(40), usd(40));
    inactiveNoGoToMarket.gtm = lapsed;

    using Row = BalanceRules::Row;
    EXPECT_EQ(BalanceRules::planRow(withActive, now),
        (Row { "Builder Plan", "$20.00", "incl. $5.00 trial \u00B7 renews in 17d" }));
    EXPECT_EQ(BalanceRules::planRow(withLapsed, now), (Row { "Subscription Plan", "$3.00", std::nullopt }));
    EXPECT_EQ(BalanceRules::planRow(inactiveNoGoToMarket, now), std::nullopt);
    EXPECT_EQ(BalanceRules::planNote(lapsed, now), "incl. $2.00 trial \u00B7 expired");
    EXPECT_EQ(BalanceRules::planNote(Balance::GTM { .active = true }, now), std::nullopt);
}

TEST(BalanceRules, PayAsYouGoNoteOnlyForACappedKeyWithLessUsable)
{
    using Row = BalanceRules::Row;
    // account 42.75 with a 20.00 plan: 22.75 pay-as-you-go.
    EXPECT_EQ(BalanceRules::payAsYouGoRow(balance(usd(42.75), usd(30), usd(20))),
        (Row { "Pay As You Go", "$22.75", "$10.00 usable by this key" }));
    EXPECT_EQ(BalanceRules::payAsYouGoRow(balance(usd(42.75), usd(42.75), usd(20))).note, std::nullopt);
    // Capped, but the key may spend exactly the pay-as-you-go balance.
    EXPECT_EQ(BalanceRules::payAsYouGoRow(balance(usd(10), usd(12), usd(-2))).note, std::nullopt);
    // A negative plan balance: the figures' own rule (BalanceTest).
}

TEST(BalanceRules, KeyLimitFractionAndTint)
{
    struct Case { Balance::APIKeyLimit key; std::optional<double> fraction; ColorRole tint; };
    for (const Case& c : std::initializer_list<Case> {
             { { .unlimited = true, .remaining = usd(1), .used = usd(1) }, std::nullopt, ColorRole::accent },
             { { .unlimited = false, .remaining = usd(5), .used = usd(95) }, 0.95, ColorRole::red },
             { { .unlimited = false, .remaining = usd(10), .used = usd(90) }, 0.9, ColorRole::orange },
             { { .unlimited = false, .remaining = usd(30), .used = usd(70) }, 0.7, ColorRole::accent },
             { { .unlimited = false, .remaining = {}, .used = {} }, 0.0, ColorRole::accent },
             { { .unlimited = false, .remaining = usd(-5), .used = usd(10) }, 1.0, ColorRole::red },
         }) {
        Balance b = balance(usd(50), usd(50));
        b.apiKey = c.key;
        const auto limit = BalanceRules::keyLimit(b);
        ASSERT_EQ(limit.has_value(), c.fraction.has_value());
        if (!limit)
            continue;
        EXPECT_DOUBLE_EQ(limit->fraction, *c.fraction);
        EXPECT_EQ(limit->tint, c.tint) << *c.fraction;
    }
    Balance b = balance(usd(50), usd(50));
    b.apiKey = { .unlimited = false, .remaining = usd(30), .used = usd(20) };
    EXPECT_EQ(BalanceRules::keyLimit(b)->row, (BalanceRules::Row { "Key limit", "$30.00 left", "of $50.00" }));
}

UsageSummary summary(std::chrono::seconds length, UsageMetrics totals)
{
    return UsageSummary { .startTime = now - length, .endTime = now, .totals = totals };
}

TEST(UsageRules, HeaderAndTilesFromTheTotals)
{
    struct Case { std::chrono::seconds length; UsageMetrics totals; QString header; std::array<QString, 3> details; };
    const UsageMetrics base { .requests = 1000, .inputTokens = 1'200'000, .outputTokens = 34'000, .charged = usd(7) };
    auto with = [&](std::int64_t failed, std::int64_t requests = 1000) {
        UsageMetrics m = base;
        m.failedRequests = failed;
        m.requests = requests;
        return m;
    };
    for (const Case& c : std::initializer_list<Case> {
             { 7 * 24h, with(3), "Last 7 days", { "$1.00/day", "0.3% failed", "1.2M in \u00B7 34K out" } },
             { 30 * 24h, with(150), "Last 30 days", { "$0.23/day", "15% failed", "1.2M in \u00B7 34K out" } },
             { 1h, with(0), "Last 1 days", { "$7.00/day", "no failures", "1.2M in \u00B7 34K out" } },
             { 7 * 24h, with(4, 0), "Last 7 days", { "$1.00/day", "0% failed", "1.2M in \u00B7 34K out" } },
         }) {
        const auto usage = summary(c.length, c.totals);
        EXPECT_EQ(UsageRules::header(usage), c.header);
        const auto tiles = UsageRules::tiles(usage);
        for (std::size_t i = 0; i < 3; ++i)
            EXPECT_EQ(tiles[i].detail, c.details[i]) << c.header.toStdString() << " tile " << i;
    }
    const auto tiles = UsageRules::tiles(summary(7 * 24h, base));
    EXPECT_EQ(tiles[0], (UsageRules::Tile { "Spend", "$7.00", "$1.00/day" }));
    EXPECT_EQ(tiles[1].value, "1K");
    EXPECT_EQ(tiles[2].value, "1.2M");
}

TEST(UsageRules, CacheLineOnlyWithCacheTokens)
{
    EXPECT_EQ(UsageRules::cacheLine({}), std::nullopt);
    EXPECT_EQ(UsageRules::cacheLine({ .cacheWriteTokens = 1 }), "Cache 0 read \u00B7 1 write");
    EXPECT_EQ(UsageRules::cacheLine({ .cacheReadTokens = 2'400'000, .cacheWriteTokens = 711'000 }),
        "Cache 2.4M read \u00B7 711K write");
}

TEST(UsageRules, BarsScaleToTheLargestDayWithStubsForEmptyDays)
{
    auto day = [](std::int64_t micros, std::int64_t requests = 0) {
        return UsageBucket { .startTime = now, .endTime = now + 24h,
            .metrics = { .requests = requests, .charged = MicrosUSD(micros) } };
    };
    // Scale, heights and widths of a real month: the panel's drawn bars. Here the edges.
    EXPECT_DOUBLE_EQ(UsageRules::barScale({ day(0) }), 1.0);
    EXPECT_DOUBLE_EQ(UsageRules::barScale({}), 1.0);
    EXPECT_DOUBLE_EQ(UsageRules::barHeight(MicrosUSD(500'000), 2'000'000), 11);
    EXPECT_DOUBLE_EQ(UsageRules::barWidth(292, 0), 292);
    EXPECT_DOUBLE_EQ(UsageRules::barWidth(10, 30), 1.0);
    EXPECT_DOUBLE_EQ(UsageRules::barOpacity(MicrosUSD(0), false), 0.15);
    EXPECT_DOUBLE_EQ(UsageRules::barOpacity(MicrosUSD(1), false), 0.6);
    EXPECT_DOUBLE_EQ(UsageRules::barOpacity(MicrosUSD(0), true), 1.0);

    const UsageBucket busy = day(1'234'567, 12'345);
    const QString label = QString::fromStdString(Formatters::dayLabel(busy.startTime));
    EXPECT_EQ(UsageRules::barTooltip(busy), label + ": $1.23, 12345 requests");
    EXPECT_EQ(UsageRules::readout(busy), label + " \u00B7 $1.23 \u00B7 12.3K req");
}

} // namespace
