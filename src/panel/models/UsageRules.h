#pragma once

#include "Usage.h"

#include <QString>

#include <array>
#include <optional>
#include <vector>

// The usage section's figures: the period header, the three tiles, the cache
// line, and the daily bars' scale, sizes, fills, tooltips and hover read-out.
namespace UsageRules {

// "Last 30 days" (plural even for one day).
QString header(const UsageSummary& usage);

struct Tile {
    QString title;
    QString value;
    QString detail;
    friend bool operator==(const Tile&, const Tile&) = default;
};

// Spend, Requests, Tokens, from the period's totals.
std::array<Tile, 3> tiles(const UsageSummary& usage);

// "Cache 1.2M read · 40K write", when any cache tokens were counted.
std::optional<QString> cacheLine(const UsageMetrics& totals);

// The daily chart is this tall, in points.
inline constexpr double chartHeight = 44;
inline constexpr double barSpacing = 2;
inline constexpr double minimumBarHeight = 2;

// The largest day's charge in micro-dollars, never below 1.
double barScale(const std::vector<UsageBucket>& buckets);
// Equal bars with 2 points between them, never narrower than 1 point.
double barWidth(double availableWidth, std::size_t count);
// Proportional to the day's charge, never below 2 points.
double barHeight(MicrosUSD charged, double scale, double availableHeight = chartHeight);
// Full brand colour when hovered, else 60 %, or 15 % for a day without spend.
double barOpacity(MicrosUSD charged, bool hovered);
// "Mar 4: $1.23, 456 requests".
QString barTooltip(const UsageBucket& bucket);
// "Mar 4 · $1.23 · 456 req" for the header while a bar is hovered.
QString readout(const UsageBucket& bucket);

// Leaving a bar clears the hover only when it still holds that bar, so moving
// from one bar to the next never passes through "none".
std::optional<std::size_t> hoverAfterLeaving(std::optional<std::size_t> hovered, std::size_t left);

} // namespace UsageRules
