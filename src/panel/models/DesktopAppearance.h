#pragma once

#include <QPalette>
#include <QString>

#include <optional>

// What the desktop says about motion and colour, for the panel.
//
// Reduced motion: VELMO_REDUCE_MOTION ("1"/"true" or "0"/"false") wins;
// else GNOME's org.gnome.desktop.interface enable-animations (false asks for
// reduced motion); else KDE's AnimationDurationFactor of 0 in kdeglobals.
//
// Colour scheme: VELMO_COLOR_SCHEME ("light" or "dark") wins; else GNOME's
// org.gnome.desktop.interface color-scheme ("prefer-dark"/"prefer-light").
// Qt 6.4 does not read that key itself, so a dark desktop would otherwise
// get a light panel.
namespace DesktopAppearance {

enum class ColorScheme { light, dark };

bool reduceMotion();
std::optional<ColorScheme> preferredColorScheme();

// "1"/"true"/"yes"/"on" and "0"/"false"/"no"/"off", any case; else none.
std::optional<bool> parseSwitch(const QString& text);

// Complete palettes for either scheme, used where the desktop's own
// palette does not match its preferred scheme (and by the screenshots).
QPalette palette(ColorScheme scheme);
bool isDark(const QPalette& palette);

// Gives the application the dark or light palette when the desktop prefers
// that scheme and Qt's palette is of the other; otherwise leaves it alone.
void applyPreferredColorScheme();

} // namespace DesktopAppearance
