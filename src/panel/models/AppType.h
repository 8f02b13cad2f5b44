#pragma once

#include <QFont>

// The type scale of the panel: seven styles of the desktop's UI font. Sizes
// are in points of the panel's layout (logical pixels), so the panel keeps
// its proportions whatever the desktop's font size.
namespace AppType {

enum class Style { hero, title, section, label, value, meta, body };

struct Spec {
    int size = 0;
    QFont::Weight weight = QFont::Normal;
    // Digits that keep one width, so changing figures do not shift.
    bool monospacedDigits = false;
};

Spec spec(Style style);

// The style built on `base` (the desktop's UI font). Where the style wants
// monospaced digits and the base font's digits differ in width, a family
// whose digits share one width stands in.
QFont font(Style style, const QFont& base);

// All ten digits have the same advance.
bool hasTabularDigits(const QFont& font);

// `font` itself when its digits share one width, else a common family (or
// the fixed-pitch font) of the same size and weight whose digits do.
QFont withTabularDigits(const QFont& font);

} // namespace AppType
