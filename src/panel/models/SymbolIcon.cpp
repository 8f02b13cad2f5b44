#include "SymbolIcon.h"

#include <QFile>
#include <QPainter>
#include <QSvgRenderer>

SymbolIcon::SymbolIcon(QQuickItem* parent)
    : QQuickPaintedItem(parent)
{
    setAntialiasing(true);
}

QString SymbolIcon::filePath(const QString& name)
{
    const QString path = QStringLiteral(":/velmo/icons/%1.svg").arg(name);
    return QFile::exists(path) ? path : QString();
}

void SymbolIcon::setName(const QString& name)
{
    if (name == m_name)
        return;
    m_name = name;
    emit nameChanged();
    update();
}

void SymbolIcon::setColor(const QColor& color)
{
    if (color == m_color)
        return;
    m_color = color;
    emit colorChanged();
    update();
}

void SymbolIcon::paint(QPainter* painter)
{
    const QString path = filePath(m_name);
    if (path.isEmpty() || width() <= 0 || height() <= 0)
        return;
    QSvgRenderer renderer(path);
    // Drawn black into a buffer at the device's density, then tinted: the
    // icons' own colours do not matter, only their shapes.
    const qreal ratio = painter->device()->devicePixelRatioF();
    const QRectF box(QPointF(0, 0), size());
    QImage buffer((box.size() * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
    buffer.setDevicePixelRatio(ratio);
    buffer.fill(Qt::transparent);
    QPainter tint(&buffer);
    tint.setRenderHint(QPainter::Antialiasing);
    renderer.render(&tint, box);
    tint.setCompositionMode(QPainter::CompositionMode_SourceIn);
    tint.fillRect(box, m_color);
    tint.end();
    painter->drawImage(box, buffer);
}
