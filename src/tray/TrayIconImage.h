#pragma once

#include "StatusItemModel.h"

#include <QColor>
#include <QIcon>
#include <QImage>

// The tray icon: the product mark tinted to read on the tray's panel, or in
// the warning colour of a low or empty balance.
namespace TrayIconImage {

// The mark's colour on a tray of the given darkness: red or orange for those
// roles, else near-white on a dark tray and near-black on a light one.
QColor tint(ItemColorRole role, bool darkTray);

// A square image of `size` pixels with the tinted mark centred in it, 3/4 of
// its height.
QImage image(int size, const QColor& color);

// The sizes trays ask for (16, 22, 32, 48 pixels and twice 22).
QIcon icon(const QColor& color);

} // namespace TrayIconImage
