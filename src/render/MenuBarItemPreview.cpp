#include "MenuBarItemPreview.h"

#include "AppType.h"
#include "VelmoGlyph.h"

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPainter>

#include <cmath>

namespace {

constexpr int glyphHeight = 16;
constexpr int spacing = 4;
constexpr int padding = 8;
constexpr int height = 24;

} // namespace

MenuBarItemPreview::MenuBarItemPreview(QString text)
    : m_text(std::move(text))
{
}

QFont MenuBarItemPreview::font() const
{
    QFont font = QGuiApplication::font();
    font.setPixelSize(13);
    font.setWeight(QFont::Normal);
    return AppType::withTabularDigits(font);
}

QSize MenuBarItemPreview::size() const
{
    const qreal textWidth = QFontMetricsF(font()).horizontalAdvance(m_text);
    const int glyphWidth = VelmoGlyph::imageSize(glyphHeight).width();
    return { padding + glyphWidth + spacing + static_cast<int>(std::ceil(textWidth)) + padding, height };
}

QImage MenuBarItemPreview::render(const QColor& color, qreal devicePixelRatio) const
{
    const QSize points = size();
    QImage image(points * devicePixelRatio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(devicePixelRatio);
    image.fill(Qt::transparent);

    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    // The template glyph is a mask: tinted with the text's colour.
    const QSize glyph = VelmoGlyph::imageSize(glyphHeight);
    const QRectF glyphRect(padding, (height - glyph.height()) / 2.0, glyph.width(), glyph.height());
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    VelmoGlyph::fill(painter, glyphRect);

    painter.setFont(font());
    painter.setPen(color);
    const QRectF textRect(glyphRect.right() + spacing, 0, points.width() - glyphRect.right() - spacing, height);
    painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter, m_text);
    return image;
}
