#include "AppType.h"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QStringList>

namespace AppType {

Spec spec(Style style)
{
    switch (style) {
    case Style::hero:
        return { 28, QFont::DemiBold, true };
    case Style::title:
        return { 13, QFont::DemiBold, false };
    case Style::section:
        return { 11, QFont::DemiBold, false };
    case Style::label:
        return { 11, QFont::Normal, false };
    case Style::value:
        return { 13, QFont::Medium, true };
    case Style::meta:
        return { 11, QFont::Normal, true };
    case Style::body:
        return { 12, QFont::Normal, false };
    }
    return {};
}

bool hasTabularDigits(const QFont& font)
{
    const QFontMetricsF metrics(font);
    const qreal zero = metrics.horizontalAdvance(QLatin1Char('0'));
    for (char digit = '1'; digit <= '9'; ++digit) {
        if (!qFuzzyCompare(metrics.horizontalAdvance(QLatin1Char(digit)), zero))
            return false;
    }
    return true;
}

QFont withTabularDigits(const QFont& font)
{
    if (hasTabularDigits(font))
        return font;
    // Qt 6.4 cannot ask a font for its tabular figures, so use a common
    // family that has them by default, or the fixed-pitch font at worst.
    for (const char* family : { "DejaVu Sans", "Noto Sans", "Liberation Sans" }) {
        const QString name = QString::fromLatin1(family);
        if (!QFontDatabase::hasFamily(name))
            continue;
        QFont candidate = font;
        candidate.setFamilies({ name });
        if (hasTabularDigits(candidate))
            return candidate;
    }
    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    fixed.setPixelSize(font.pixelSize());
    fixed.setWeight(font.weight());
    return fixed;
}

QFont font(Style style, const QFont& base)
{
    const Spec s = spec(style);
    QFont font = base;
    font.setPixelSize(s.size);
    font.setWeight(s.weight);
    if (style == Style::hero)
        font.setLetterSpacing(QFont::AbsoluteSpacing, -0.4);
    return s.monospacedDigits ? withTabularDigits(font) : font;
}

} // namespace AppType
