#include "FormTheme.h"

#include "DesktopAppearance.h"

#include <QFontDatabase>
#include <QGuiApplication>

namespace {

QColor withAlpha(QColor color, float alpha)
{
    color.setAlphaF(alpha);
    return color;
}

// `over` at `amount` laid on `under`.
QColor mix(const QColor& under, const QColor& over, float amount)
{
    return QColor::fromRgbF(under.redF() + (over.redF() - under.redF()) * amount,
        under.greenF() + (over.greenF() - under.greenF()) * amount,
        under.blueF() + (over.blueF() - under.blueF()) * amount);
}

QFont sized(QFont font, int pixels, QFont::Weight weight = QFont::Normal)
{
    font.setPixelSize(pixels);
    font.setWeight(weight);
    return font;
}

} // namespace

FormTheme::FormTheme(QObject* parent)
    : PanelTheme(parent)
{
}

bool FormTheme::isDark() const
{
    return DesktopAppearance::isDark(QGuiApplication::palette());
}

// GNOME's grouped lists: white cards on an off-white window, or cards a
// shade lighter than a dark window.
QColor FormTheme::card() const
{
    return isDark() ? mix(window(), Qt::white, 0.07f) : mix(window(), Qt::white, 1.0f);
}

QColor FormTheme::cardBorder() const
{
    return withAlpha(primary(), isDark() ? 0.07f : 0.09f);
}

QColor FormTheme::control() const
{
    return withAlpha(primary(), isDark() ? 0.10f : 0.08f);
}

QColor FormTheme::controlHover() const
{
    return withAlpha(primary(), isDark() ? 0.15f : 0.12f);
}

QColor FormTheme::controlPressed() const
{
    return withAlpha(primary(), isDark() ? 0.22f : 0.18f);
}

QColor FormTheme::raised() const
{
    return isDark() ? mix(window(), Qt::white, 0.27f) : QColor(Qt::white);
}

QColor FormTheme::onAccent() const
{
    return Qt::white;
}

QFont FormTheme::row() const
{
    return sized(QGuiApplication::font(), 13);
}

QFont FormTheme::header() const
{
    return sized(QGuiApplication::font(), 13, QFont::Bold);
}

QFont FormTheme::caption() const
{
    return sized(QGuiApplication::font(), 12);
}

QFont FormTheme::mono() const
{
    return sized(QFontDatabase::systemFont(QFontDatabase::FixedFont), 12);
}
