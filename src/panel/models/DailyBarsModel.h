#pragma once

#include "Usage.h"

#include <QAbstractListModel>
#include <QtQml/qqmlregistration.h>

#include <optional>
#include <vector>

// The daily spend chart: one row per day with its bar's height, fill and
// tooltip, and which bar the pointer is over.
class DailyBarsModel : public QAbstractListModel {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Part of the usage section")
    // The number of bars.
    Q_PROPERTY(int count READ count NOTIFY countChanged)
    // The bar under the pointer, or -1.
    Q_PROPERTY(int hoveredIndex READ hoveredIndex NOTIFY hoveredIndexChanged)
    // The chart's height in points.
    Q_PROPERTY(double chartHeight READ chartHeight CONSTANT)

public:
    enum Role { BarHeightRole = Qt::UserRole + 1, FillOpacityRole, TooltipRole };

    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    int count() const { return static_cast<int>(m_buckets.size()); }
    int hoveredIndex() const { return m_hovered ? static_cast<int>(*m_hovered) : -1; }
    const UsageBucket* hoveredBucket() const;
    double chartHeight() const;

    // Each bar's width for the chart's width and `count` bars; the count is
    // passed so that a QML binding follows it (the days can
    // arrive after the chart was laid out).
    Q_INVOKABLE double barWidth(double availableWidth, int count) const;
    // The pointer entered or left a bar's full-height cell.
    Q_INVOKABLE void enter(int index);
    Q_INVOKABLE void leave(int index);

    void setBuckets(const std::vector<UsageBucket>& buckets);

signals:
    void countChanged();
    void hoveredIndexChanged();

private:
    void setHovered(std::optional<std::size_t> hovered);

    std::vector<UsageBucket> m_buckets;
    double m_scale = 1.0;
    std::optional<std::size_t> m_hovered;
};
