#include "PanelPlacement.h"

#include <algorithm>
#include <array>

namespace PanelPlacement {

namespace {

// Raises to the low bound first, then lowers to the high bound, so the high
// bound wins when the two cross.
int clampLowThenHigh(int value, int low, int high)
{
    return std::min(std::max(value, low), high);
}

} // namespace

Edge edgeOf(const QRect& item, const QRect& available)
{
    const QPoint centre = item.center();
    // Distances from the centre to each side; an item outside the available
    // area (on a panel that reserves its strut) is negative, so nearest.
    const std::array<std::pair<int, Edge>, 4> distances { {
        { centre.y() - available.top(), Edge::top },
        { available.bottom() - centre.y(), Edge::bottom },
        { centre.x() - available.left(), Edge::left },
        { available.right() - centre.x(), Edge::right },
    } };
    return std::min_element(distances.begin(), distances.end(),
        [](const auto& a, const auto& b) { return a.first < b.first; })
        ->second;
}

Placement place(std::optional<QRect> item, QSize panel, const QRect& available, QPoint pointer)
{
    QRect anchor;
    Edge edge = Edge::top;
    if (item && item->isValid()) {
        anchor = *item;
        edge = edgeOf(anchor, available);
    } else {
        anchor = QRect(pointer, QSize(1, 1));
        edge = pointer.y() > available.center().y() ? Edge::bottom : Edge::top;
    }
    const int width = panel.width();
    const int height = panel.height();
    // QRect's right()/bottom() are the last pixel, hence the + 1s.
    const int right = available.x() + available.width();
    const int bottom = available.y() + available.height();
    const int itemRight = anchor.x() + anchor.width();
    const int itemBottom = anchor.y() + anchor.height();

    QPoint origin;
    if (edge == Edge::top || edge == Edge::bottom) {
        const int x = anchor.x() + anchor.width() / 2 - width / 2;
        origin.setX(clampLowThenHigh(x, available.x() + screenMargin, right - width - screenMargin));
        origin.setY(edge == Edge::top ? itemBottom + itemGap : anchor.y() - itemGap - height);
    } else {
        const int y = anchor.y() + anchor.height() / 2 - height / 2;
        origin.setY(clampLowThenHigh(y, available.y() + screenMargin, bottom - height - screenMargin));
        origin.setX(edge == Edge::left ? itemRight + itemGap : anchor.x() - itemGap - width);
    }
    return { origin, edge };
}

} // namespace PanelPlacement
