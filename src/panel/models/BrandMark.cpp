#include "BrandMark.h"

#include "VelmoGlyph.h"

#include <QPainter>

BrandMark::BrandMark(QQuickItem* parent)
    : QQuickPaintedItem(parent)
{
    setAntialiasing(true);
}

void BrandMark::paint(QPainter* painter)
{
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(Qt::NoPen);
    painter->setBrush(VelmoGlyph::brandOrange());
    VelmoGlyph::fill(*painter, QRectF(QPointF(0, 0), size()));
}
