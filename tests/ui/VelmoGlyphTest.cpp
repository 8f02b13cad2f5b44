#include "VelmoGlyph.h"
#include "SVGPathParser.h"

#include <QPainter>
#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace {

// Points of the view box that the mark is known to cover or leave open, so
// that pixels can be checked wherever the mark is drawn.
const QPointF coinCentre { 25, 11 }; // the dot in the middle of the coin
const QPointF coinRim { 25, 2 }; // the coin's outer ring
const QPointF coinGap { 25, 6 }; // between ring and dot (a counter-wound hole)
const QPointF armsMeet { 25, 55 }; // where the two arms overlap (nonzero only)
const QPointF insideTheV { 25, 32 }; // open space between the arms

bool near(const QColor& a, const QColor& b, int tolerance)
{
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance
        && std::abs(a.blue() - b.blue()) <= tolerance && std::abs(a.alpha() - b.alpha()) <= tolerance;
}

// How many pixels of `area` satisfy `ok(colour)`.
template <typename Predicate> int countPixels(const QImage& image, const QRect& area, Predicate ok)
{
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            count += ok(image.pixelColor(x, y)) ? 1 : 0;
    return count;
}

template <typename Predicate> bool everyPixel(const QImage& image, const QRect& area, Predicate ok)
{
    return countPixels(image, area, ok) == area.width() * area.height();
}

const auto transparent = [](const QColor& c) { return c.alpha() == 0; };

TEST(VelmoGlyph, PathHasFiveSubpathsSpanningTheViewBoxAndFillsCentredWithNonzeroFill)
{
    const QPainterPath& path = VelmoGlyph::path();
    int moves = 0;
    for (int i = 0; i < path.elementCount(); ++i)
        moves += path.elementAt(i).isMoveTo() ? 1 : 0;
    EXPECT_EQ(moves, 5);
    const QRectF bounds = path.boundingRect();
    EXPECT_TRUE(QRectF(QPointF(0, 0), VelmoGlyph::viewBox).contains(bounds));
    EXPECT_LT(bounds.top(), 0.5);
    EXPECT_GT(bounds.bottom(), 58.5);
    for (const auto& [p, ink] : { std::pair { coinCentre, true }, { coinRim, true }, { coinGap, false },
             { insideTheV, false }, { armsMeet, true } })
        EXPECT_EQ(path.contains(p), ink) << p.x() << "," << p.y();
    QPainterPath evenOdd = path;
    evenOdd.setFillRule(Qt::OddEvenFill);
    EXPECT_FALSE(evenOdd.contains(armsMeet)) << "the overlap no longer tells the fill rules apart";

    // Filling centres the mark in the rect with the painter's brush: upright,
    // nonzero fill, the coin's hole open, checked at the marked points.
    QImage canvas(200, 200, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    {
        QPainter painter(&canvas);
        painter.setBrush(Qt::red);
        VelmoGlyph::fill(painter, QRectF(0, 0, 200, 60)); // wide: scale 1, 75 on each side
        VelmoGlyph::fill(painter, QRectF(10, 70, 100, 130)); // tall: scale 2, 5 above and below
        VelmoGlyph::fill(painter, QRectF(150, 150, 0, 40)); // empty: nothing
    }
    EXPECT_TRUE(everyPixel(canvas, QRect(0, 0, 75, 60), transparent));
    EXPECT_EQ(canvas.pixelColor((QPointF(75, 0) + coinCentre).toPoint()), QColor(Qt::red));
    EXPECT_EQ(canvas.pixelColor((QPointF(10, 75) + 2 * coinCentre).toPoint()), QColor(Qt::red));
    EXPECT_EQ(canvas.pixelColor((QPointF(10, 75) + 2 * armsMeet).toPoint()), QColor(Qt::red));
    EXPECT_EQ(qAlpha(canvas.pixel((QPointF(10, 75) + 2 * insideTheV).toPoint())), 0);
    EXPECT_EQ(qAlpha(canvas.pixel((QPointF(10, 75) + 2 * coinGap).toPoint())), 0);
    EXPECT_TRUE(everyPixel(canvas, QRect(10, 70, 100, 5), transparent));
    EXPECT_TRUE(everyPixel(canvas, QRect(150, 150, 50, 50), transparent));
}

TEST(VelmoGlyph, TemplateIsABlackMaskBrandImageTheMarkInItsColourBothFiveSixthsWide)
{
    EXPECT_EQ(VelmoGlyph::brandOrange().rgba(), qRgba(247, 105, 24, 255));
    for (const auto& [height, size] : { std::pair { 18, QSize(15, 18) }, { 60, QSize(50, 60) }, { 1, QSize(1, 1) } })
        EXPECT_EQ(VelmoGlyph::imageSize(height), size) << height;
    EXPECT_TRUE(VelmoGlyph::templateImage(0).isNull());
    EXPECT_TRUE(VelmoGlyph::brandImage(-3, Qt::red).isNull());

    const QImage image = VelmoGlyph::templateImage(16);
    ASSERT_EQ(image.size(), QSize(14, 16));
    EXPECT_TRUE(VelmoGlyph::isTemplate(image.copy())) << "the flag must travel with copies";
    EXPECT_TRUE(everyPixel(
        image, image.rect(), [](const QColor& c) { return c.alpha() == 0 || c.rgb() == qRgb(0, 0, 0); }));
    EXPECT_FALSE(everyPixel(image, QRect(0, 0, 14, 1), transparent)) << "the mark fills the full height";
    EXPECT_FALSE(everyPixel(image, QRect(0, 15, 14, 1), transparent));
    const QImage sharp = VelmoGlyph::templateImage(16, 2.0);
    EXPECT_EQ(sharp.size(), QSize(28, 32));
    EXPECT_EQ(sharp.deviceIndependentSize(), QSizeF(14, 16));
    EXPECT_EQ(VelmoGlyph::templateImage(16, std::nan("")).size(), QSize(14, 16));

    const QColor teal(0, 128, 128);
    const QImage brand = VelmoGlyph::brandImage(18, teal);
    EXPECT_FALSE(VelmoGlyph::isTemplate(brand));
    EXPECT_GT(countPixels(brand, brand.rect(), [&](const QColor& c) { return c == teal; }), 0);
    EXPECT_TRUE(everyPixel(brand, brand.rect(),
        [&](const QColor& c) { return c.alpha() < 128 || near(c, QColor(0, 128, 128, c.alpha()), 3); }));
}

TEST(VelmoGlyph, AppIconIsARoundedGradientPlateWithTheOrangeMark)
{
    constexpr int size = 256;
    const QImage icon = VelmoGlyph::appIcon(size);
    ASSERT_EQ(icon.size(), QSize(size, size));
    EXPECT_FALSE(VelmoGlyph::isTemplate(icon));

    // Outside the plate: the inset margin and the rounded corners.
    for (const QPoint p :
        { QPoint(0, 0), QPoint(255, 255), QPoint(128, 5), QPoint(5, 128), QPoint(18, 18), QPoint(237, 18) })
        EXPECT_EQ(qAlpha(icon.pixel(p)), 0) << p.x() << "," << p.y();

    // The plate: opaque, dark, lighter at the top (39 against 25), slightly blue.
    const QColor top = icon.pixelColor(128, 20);
    const QColor bottom = icon.pixelColor(128, 235);
    EXPECT_GE(top.blue(), top.red());
    EXPECT_TRUE(near(top, QColor(39, 39, 42), 4)) << top.name().toStdString();
    EXPECT_TRUE(near(bottom, QColor(25, 25, 28), 4)) << bottom.name().toStdString();

    // The mark in brand orange where the path has ink, the plate where not.
    const VelmoGlyph::AppIconGeometry g = VelmoGlyph::appIconGeometry(size);
    EXPECT_EQ(g.mark.center(), QPointF(size / 2, size / 2));
    EXPECT_DOUBLE_EQ(g.mark.height(), 0.58 * g.plate.height());
    const auto onIcon = [&](QPointF p) {
        return (g.mark.topLeft() + p * (g.mark.height() / VelmoGlyph::viewBox.height())).toPoint();
    };
    EXPECT_EQ(icon.pixelColor(onIcon(coinCentre)), VelmoGlyph::brandOrange());
    EXPECT_EQ(icon.pixelColor(onIcon(armsMeet)), VelmoGlyph::brandOrange());
    EXPECT_EQ(icon.pixelColor(onIcon(insideTheV)).alpha(), 255);
    EXPECT_LT(icon.pixelColor(onIcon(insideTheV)).red(), 60);

    EXPECT_TRUE(VelmoGlyph::appIcon(-16).isNull());
    const QImage tiny = VelmoGlyph::appIcon(16);
    ASSERT_EQ(tiny.size(), QSize(16, 16));
    EXPECT_EQ(qAlpha(tiny.pixel(8, 8)), 255);
}

} // namespace
