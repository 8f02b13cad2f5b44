// Where the panel opens next to the tray item, one row per situation.
#include "PanelPlacement.h"

#include <gtest/gtest.h>

using PanelPlacement::Edge;

namespace {

struct Case {
    const char* name;
    std::optional<QRect> item;
    QSize panel;
    QRect available;
    QPoint pointer;
    QPoint origin;
    Edge edge;
};

} // namespace

TEST(PanelPlacement, OpensAwayFromTheTrayAndStaysOnScreen)
{
    const QRect screen(0, 28, 1920, 1052); // under a 28-pixel top bar
    const QSize panel(320, 400);
    for (const Case& c : std::initializer_list<Case> {
             { "top bar, centred under the item", QRect(900, 2, 24, 24), panel, screen, {}, { 752, 32 }, Edge::top },
             { "left clamp", QRect(10, 2, 24, 24), panel, screen, {}, { 8, 32 }, Edge::top },
             { "right clamp", QRect(1890, 2, 24, 24), panel, screen, {}, { 1592, 32 }, Edge::top },
             { "right clamp wins on a narrow screen", QRect(100, 2, 24, 24), panel, QRect(0, 28, 300, 500), {},
                 { -28, 32 }, Edge::top },
             { "second screen to the right", QRect(2000, 2, 24, 24), panel, QRect(1920, 28, 1280, 996), {},
                 { 1928, 32 }, Edge::top },
             { "bottom panel: above the item", QRect(1800, 1050, 30, 30), panel, QRect(0, 0, 1920, 1048), {},
                 { 1592, 644 }, Edge::bottom },
             { "left dock: beside the item", QRect(4, 500, 40, 40), panel, QRect(48, 0, 1872, 1080), {},
                 { 50, 320 }, Edge::left },
             { "right dock, clamped to the bottom", QRect(1880, 1000, 40, 40), panel, QRect(0, 0, 1876, 1080), {},
                 { 1554, 672 }, Edge::right },
             { "a point from the host (Activate x, y)", QRect(600, 10, 1, 1), panel, screen, {}, { 440, 17 },
                 Edge::top },
             { "no geometry: below the pointer in the upper half", std::nullopt, panel, screen, QPoint(500, 300),
                 { 340, 307 }, Edge::top },
             { "no geometry: above the pointer in the lower half", std::nullopt, panel, screen, QPoint(500, 900),
                 { 340, 494 }, Edge::bottom },
         }) {
        const auto placed = PanelPlacement::place(c.item, c.panel, c.available, c.pointer);
        EXPECT_EQ(placed.origin, c.origin) << c.name;
        EXPECT_EQ(placed.edge, c.edge) << c.name;
    }
}
