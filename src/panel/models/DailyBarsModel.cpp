#include "DailyBarsModel.h"

#include "UsageRules.h"

#include <algorithm>

int DailyBarsModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : count();
}

QVariant DailyBarsModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const auto row = static_cast<std::size_t>(index.row());
    const UsageBucket& bucket = m_buckets[row];
    switch (role) {
    case BarHeightRole:
        return UsageRules::barHeight(bucket.metrics.charged, m_scale);
    case FillOpacityRole:
        return UsageRules::barOpacity(bucket.metrics.charged, m_hovered == row);
    case TooltipRole:
        return UsageRules::barTooltip(bucket);
    default:
        return {};
    }
}

QHash<int, QByteArray> DailyBarsModel::roleNames() const
{
    return { { BarHeightRole, "barHeight" }, { FillOpacityRole, "fillOpacity" }, { TooltipRole, "tooltip" } };
}

const UsageBucket* DailyBarsModel::hoveredBucket() const
{
    return m_hovered ? &m_buckets[*m_hovered] : nullptr;
}

double DailyBarsModel::chartHeight() const
{
    return UsageRules::chartHeight;
}

double DailyBarsModel::barWidth(double availableWidth, int count) const
{
    return UsageRules::barWidth(availableWidth, static_cast<std::size_t>(std::max(count, 0)));
}

void DailyBarsModel::enter(int index)
{
    if (index >= 0 && index < count())
        setHovered(static_cast<std::size_t>(index));
}

void DailyBarsModel::leave(int index)
{
    if (index >= 0)
        setHovered(UsageRules::hoverAfterLeaving(m_hovered, static_cast<std::size_t>(index)));
}

void DailyBarsModel::setHovered(std::optional<std::size_t> hovered)
{
    if (hovered == m_hovered)
        return;
    const auto previous = m_hovered;
    m_hovered = hovered;
    for (const auto& row : { previous, hovered }) {
        if (row) {
            const QModelIndex changed = index(static_cast<int>(*row));
            emit dataChanged(changed, changed, { FillOpacityRole });
        }
    }
    emit hoveredIndexChanged();
}

void DailyBarsModel::setBuckets(const std::vector<UsageBucket>& buckets)
{
    if (buckets == m_buckets)
        return;
    const int oldCount = count();
    if (buckets.size() == m_buckets.size()) {
        // Same days, new figures: the bars animate to their new heights.
        m_buckets = buckets;
        m_scale = UsageRules::barScale(m_buckets);
        if (!m_buckets.empty())
            emit dataChanged(index(0), index(count() - 1));
    } else {
        beginResetModel();
        m_buckets = buckets;
        m_scale = UsageRules::barScale(m_buckets);
        m_hovered.reset();
        endResetModel();
        emit hoveredIndexChanged();
    }
    if (count() != oldCount)
        emit countChanged();
}
