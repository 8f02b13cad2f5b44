#include "VelmoGlyph.h"

#include "SVGPathParser.h"

#include <QFile>
#include <QLinearGradient>
#include <QPainter>
#include <QtDebug>

#include <cmath>

namespace VelmoGlyph {

namespace {

constexpr auto pathResource = ":/velmo/VelmoGlyph.svgpath";

// The plate's gradient, lighter at the top.
QColor plateTop()
{
    return QColor::fromRgbF(0.16f, 0.16f, 0.17f);
}

QColor plateBottom()
{
    return QColor::fromRgbF(0.09f, 0.09f, 0.10f);
}

qreal saneRatio(qreal devicePixelRatio)
{
    return std::isfinite(devicePixelRatio) && devicePixelRatio > 0 ? devicePixelRatio : 1.0;
}

// A transparent image of `logical` size at the given pixel ratio; null when
// the size is empty or the memory cannot be had.
QImage blankImage(QSize logical, qreal devicePixelRatio)
{
    if (logical.isEmpty())
        return {};
    const QSize pixels(static_cast<int>(std::ceil(logical.width() * devicePixelRatio)),
        static_cast<int>(std::ceil(logical.height() * devicePixelRatio)));
    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull())
        return image;
    image.setDevicePixelRatio(devicePixelRatio);
    image.fill(Qt::transparent);
    return image;
}

QImage markImage(int height, const QColor& color, qreal devicePixelRatio)
{
    const QSize size = imageSize(height);
    QImage image = blankImage(size, saneRatio(devicePixelRatio));
    if (image.isNull())
        return image;
    QPainter painter(&image);
    if (!painter.isActive())
        return image; // stays blank
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(color);
    fill(painter, QRectF(QPointF(0, 0), QSizeF(size)));
    return image;
}

} // namespace

QColor brandOrange()
{
    return QColor::fromRgbF(0.9686274509803922f, 0.4117647058823529f, 0.09411764705882353f, 1.0f);
}

QByteArray pathData()
{
    QFile file(pathResource);
    if (!file.open(QIODevice::ReadOnly)) {
        qWarning("the glyph path data %s is missing", pathResource);
        return {};
    }
    return file.readAll();
}

const QPainterPath& path()
{
    static const QPainterPath parsed = [] {
        const QByteArray data = pathData();
        return SVGPathParser::parse(
            std::string_view(data.constData(), static_cast<std::size_t>(data.size())));
    }();
    return parsed;
}

void fill(QPainter& painter, const QRectF& rect)
{
    // In Qt's painter y already grows downwards like the view box, so the
    // mark needs no flip: scale to fit, then centre.
    const qreal scale = std::min(rect.width() / viewBox.width(), rect.height() / viewBox.height());
    if (!(scale > 0) || !std::isfinite(scale))
        return;
    const qreal width = viewBox.width() * scale;
    const qreal height = viewBox.height() * scale;
    QTransform transform;
    transform.translate(rect.x() + (rect.width() - width) / 2, rect.y() + (rect.height() - height) / 2);
    transform.scale(scale, scale);

    QPainterPath mark = transform.map(path());
    mark.setFillRule(Qt::WindingFill);
    painter.fillPath(mark, painter.brush());
}

QSize imageSize(int height)
{
    if (height <= 0)
        return {};
    return { static_cast<int>(std::ceil(height * viewBox.width() / viewBox.height())), height };
}

QImage templateImage(int height, qreal devicePixelRatio)
{
    QImage image = markImage(height, Qt::black, devicePixelRatio);
    if (!image.isNull())
        image.setText(templateTextKey, QStringLiteral("true"));
    return image;
}

bool isTemplate(const QImage& image)
{
    return image.text(templateTextKey) == QLatin1String("true");
}

QImage brandImage(int height, const QColor& color, qreal devicePixelRatio)
{
    return markImage(height, color, devicePixelRatio);
}

AppIconGeometry appIconGeometry(int size)
{
    const qreal side = size;
    const qreal inset = 0.06 * side;
    const QRectF plate(inset, inset, side - 2 * inset, side - 2 * inset);
    const qreal markHeight = 0.58 * plate.height();
    const qreal markWidth = markHeight * viewBox.width() / viewBox.height();
    QRectF mark(0, 0, markWidth, markHeight);
    mark.moveCenter(plate.center());
    return { plate, 0.2 * side, mark };
}

QImage appIcon(int size)
{
    QImage image = blankImage(QSize(size, size), 1.0);
    if (image.isNull())
        return image;
    QPainter painter(&image);
    if (!painter.isActive())
        return image;
    painter.setRenderHint(QPainter::Antialiasing);

    const AppIconGeometry geometry = appIconGeometry(size);
    QPainterPath plate;
    plate.setFillRule(Qt::WindingFill);
    plate.addRoundedRect(geometry.plate, geometry.cornerRadius, geometry.cornerRadius);
    QLinearGradient gradient(QPointF(0, 0), QPointF(0, size));
    gradient.setColorAt(0, plateTop());
    gradient.setColorAt(1, plateBottom());
    painter.fillPath(plate, gradient);

    painter.setBrush(brandOrange());
    fill(painter, geometry.mark);
    return image;
}

} // namespace VelmoGlyph
