#include "PanelTheme.h"

#include "DesktopAppearance.h"
#include "VelmoGlyph.h"

#include <QEvent>
#include <QGuiApplication>

namespace {

QColor withAlpha(QColor color, float alpha)
{
    color.setAlphaF(alpha);
    return color;
}

} // namespace

PanelTheme::PanelTheme(QObject* parent)
    : QObject(parent)
    , m_palette(QGuiApplication::palette())
    , m_font(QGuiApplication::font())
{
    QGuiApplication::instance()->installEventFilter(this);
}

bool PanelTheme::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == QGuiApplication::instance()) {
        if (event->type() == QEvent::ApplicationPaletteChange && QGuiApplication::palette() != m_palette) {
            m_palette = QGuiApplication::palette();
            emit colorsChanged();
        } else if (event->type() == QEvent::ApplicationFontChange && QGuiApplication::font() != m_font) {
            m_font = QGuiApplication::font();
            emit fontsChanged();
        }
    }
    return QObject::eventFilter(watched, event);
}

QColor PanelTheme::color(ColorRole role) const
{
    // The GNOME palette's red, orange and green: the deeper shades read on a
    // light window, the brighter ones on a dark one.
    const bool dark = DesktopAppearance::isDark(m_palette);
    const QColor text = m_palette.color(QPalette::WindowText);
    switch (role) {
    case ColorRole::primary:
        return text;
    case ColorRole::secondary:
        return withAlpha(text, dark ? 0.62f : 0.6f);
    case ColorRole::tertiary:
        return withAlpha(text, dark ? 0.45f : 0.42f);
    case ColorRole::red:
        return dark ? QColor(0xF6, 0x61, 0x51) : QColor(0xE0, 0x1B, 0x24);
    case ColorRole::orange:
        return dark ? QColor(0xFF, 0xA3, 0x48) : QColor(0xE6, 0x61, 0x00);
    case ColorRole::green:
        return dark ? QColor(0x33, 0xD1, 0x7A) : QColor(0x26, 0xA2, 0x69);
    case ColorRole::accent:
        return m_palette.color(QPalette::Highlight);
    }
    return text;
}

QColor PanelTheme::hairline() const
{
    return withAlpha(primary(), 0.08f);
}

QColor PanelTheme::accentWash() const
{
    return withAlpha(accent(), 0.08f);
}

QColor PanelTheme::brand() const
{
    return VelmoGlyph::brandOrange();
}
