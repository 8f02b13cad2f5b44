#pragma once

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QPainterPath>
#include <QRectF>
#include <QSizeF>

class QPainter;

// The product mark, drawn from vector path data at run time: the tray icon,
// the panel header and the application icon set all come from here.
namespace VelmoGlyph {

// sRGB (247, 105, 24).
QColor brandOrange();

// The coordinate space of the path data; y grows downwards.
inline constexpr QSizeF viewBox { 50, 60 };

// The path data as shipped (a Qt resource); empty when it is missing.
QByteArray pathData();

// The parsed mark, built once on first use (thread-safe), nonzero fill rule.
const QPainterPath& path();

// Fills the mark into `rect` with the painter's current brush: scaled
// uniformly to fit, centred, upright.
void fill(QPainter& painter, const QRectF& rect);

// Image size for a mark of the given height: ceil(height * 50 / 60) wide.
QSize imageSize(int height);

// Key of the QImage text that marks a template image; see isTemplate.
inline constexpr const char* templateTextKey = "velmo-template";

// The mark in black on transparent, `height` logical pixels tall, flagged as
// a template: only its alpha counts, and the tray tints it to suit the
// panel (light or dark). A null image when height is not positive.
QImage templateImage(int height, qreal devicePixelRatio = 1.0);

// Whether an image is a template (a mask to be tinted, not shown as is).
bool isTemplate(const QImage& image);

// The mark in `color`, same size as templateImage; not a template.
QImage brandImage(int height, const QColor& color, qreal devicePixelRatio = 1.0);

// Where the application icon's parts go in a square of `size` pixels.
struct AppIconGeometry {
    QRectF plate; // inset 6 % on every side
    qreal cornerRadius = 0; // 20 % of the size
    QRectF mark; // 58 % of the plate's height, centred on the plate
};
AppIconGeometry appIconGeometry(int size);

// The square application icon: a dark rounded plate with a vertical
// gradient, the mark in brand orange on it. A null image when size is not
// positive.
QImage appIcon(int size);

} // namespace VelmoGlyph
