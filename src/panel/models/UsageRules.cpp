#include "UsageRules.h"

#include "Formatters.h"

#include <QCoreApplication>

#include <algorithm>

namespace UsageRules {

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("UsageSection", text);
}

QString count(std::int64_t value)
{
    return QString::fromStdString(Formatters::compactCount(value));
}

QString money(MicrosUSD amount)
{
    return QString::fromStdString(amount.formatted());
}

QString day(const UsageBucket& bucket)
{
    return QString::fromStdString(Formatters::dayLabel(bucket.startTime));
}

} // namespace

QString header(const UsageSummary& usage)
{
    return tr("Last %1 days").arg(usage.days());
}

std::array<Tile, 3> tiles(const UsageSummary& usage)
{
    const UsageMetrics& totals = usage.totals;
    const QString failures = totals.failedRequests <= 0
        ? tr("no failures")
        : tr("%1 failed").arg(QString::fromStdString(Formatters::percent(totals.failureRate())));
    return { {
        { tr("Spend"), money(totals.charged), tr("%1/day").arg(money(usage.dailyAverageCharged())) },
        { tr("Requests"), count(totals.requests), failures },
        { tr("Tokens"), count(totals.totalTokens()),
            tr("%1 in \u00B7 %2 out").arg(count(totals.inputTokens), count(totals.outputTokens)) },
    } };
}

std::optional<QString> cacheLine(const UsageMetrics& totals)
{
    if (totals.cacheTokens() < 1)
        return std::nullopt;
    return tr("Cache %1 read \u00B7 %2 write").arg(count(totals.cacheReadTokens), count(totals.cacheWriteTokens));
}

double barScale(const std::vector<UsageBucket>& buckets)
{
    double scale = 1.0;
    for (const UsageBucket& bucket : buckets)
        scale = std::max(scale, static_cast<double>(bucket.metrics.charged.value));
    return scale;
}

double barWidth(double availableWidth, std::size_t count)
{
    const double n = static_cast<double>(std::max<std::size_t>(count, 1));
    return std::max((availableWidth - barSpacing * (n - 1)) / n, 1.0);
}

double barHeight(MicrosUSD charged, double scale, double availableHeight)
{
    return std::max(static_cast<double>(charged.value) / scale * availableHeight, minimumBarHeight);
}

double barOpacity(MicrosUSD charged, bool hovered)
{
    if (hovered)
        return 1.0;
    return charged < MicrosUSD(1) ? 0.15 : 0.6;
}

QString barTooltip(const UsageBucket& bucket)
{
    return tr("%1: %2, %3 requests")
        .arg(day(bucket), money(bucket.metrics.charged), QString::number(bucket.metrics.requests));
}

QString readout(const UsageBucket& bucket)
{
    return tr("%1 \u00B7 %2 \u00B7 %3 req").arg(day(bucket), money(bucket.metrics.charged), count(bucket.metrics.requests));
}

std::optional<std::size_t> hoverAfterLeaving(std::optional<std::size_t> hovered, std::size_t left)
{
    return hovered == left ? std::nullopt : hovered;
}

} // namespace UsageRules
