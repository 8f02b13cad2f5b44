#pragma once

#include "StatusItemModel.h"

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QPalette>

// The tray icon: the product mark tinted to read on the tray's panel, or in
// the warning colour of a low or empty balance.
namespace TrayIconImage {

// The mark's colour: red or orange for those roles, else the palette's text
// colour (light on a dark desktop, dark on a light one).
QColor tint(ItemColorRole role, const QPalette& palette);

// A square image of `size` pixels with the tinted mark centred in it, 3/4 of
// its height.
QImage image(int size, const QColor& color);

// The sizes trays ask for (16, 22, 32, 48 pixels and twice 22).
QIcon icon(const QColor& color);

} // namespace TrayIconImage
