#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

#include <optional>

// Where the drop-down panel goes, as a pure function of the tray item's
// geometry, the panel's size and the screen's available geometry (y grows
// downwards, as on X11).
namespace PanelPlacement {

// The side of the screen the tray sits on; the panel opens away from it.
enum class Edge { top, bottom, left, right };

inline constexpr int screenMargin = 8; // kept from the screen's sides
inline constexpr int itemGap = 6; // between the item and the panel

struct Placement {
    QPoint origin; // the panel's top-left corner
    Edge edge = Edge::top;

    friend bool operator==(const Placement&, const Placement&) = default;
};

// The tray's edge: the side of `available` nearest to the item's centre.
Edge edgeOf(const QRect& item, const QRect& available);

// Under an item on a top tray: x = the item's centre − half the panel,
// raised to at least the left edge + 8, then lowered to at most the right
// edge − width − 8 (last, so it wins on a screen narrower than the panel);
// the top 6 below the item. Above it on a bottom tray, beside it on a side
// tray (centred on it vertically, clamped the same way). Without an item
// (`item` empty) the pointer stands in for it: the panel opens below the
// pointer in the upper half of the screen, above it in the lower half.
Placement place(std::optional<QRect> item, QSize panel, const QRect& available, QPoint pointer);

} // namespace PanelPlacement
