#include "TrayIconImage.h"

#include "VelmoGlyph.h"

#include <QPainter>
#include <QPixmap>

namespace TrayIconImage {

QColor tint(ItemColorRole role, bool dark)
{
    switch (role) {
    case ItemColorRole::red:
        return dark ? QColor(0xFF, 0x6B, 0x5E) : QColor(0xD7, 0x26, 0x1B);
    case ItemColorRole::orange:
        return dark ? QColor(0xFF, 0xA9, 0x45) : QColor(0xC8, 0x5A, 0x00);
    case ItemColorRole::label:
        break;
    }
    return dark ? QColor(0xF5, 0xF5, 0xF5) : QColor(0x1E, 0x1E, 0x1E);
}

QImage image(int size, const QColor& color)
{
    QImage out(size, size, QImage::Format_ARGB32_Premultiplied);
    out.fill(Qt::transparent);
    QPainter painter(&out);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    const qreal height = size * 0.75;
    const qreal width = height * VelmoGlyph::viewBox.width() / VelmoGlyph::viewBox.height();
    VelmoGlyph::fill(painter, QRectF((size - width) / 2, (size - height) / 2, width, height));
    return out;
}

QIcon icon(const QColor& color)
{
    QIcon out;
    for (int size : { 16, 22, 32, 44, 48 })
        out.addPixmap(QPixmap::fromImage(image(size, color)));
    return out;
}

} // namespace TrayIconImage
