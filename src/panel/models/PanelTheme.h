#pragma once

#include "AppType.h"
#include "ColorRole.h"

#include <QColor>
#include <QFont>
#include <QObject>
#include <QPalette>
#include <QtQml/qqmlregistration.h>

// The panel's colours and fonts, from the application's palette and font:
// the desktop's text and accent colours, red, orange and green in the shade
// that suits a light or dark window, the brand orange of the mark, and the
// type scale. Colours change together with the palette, fonts with the
// application font, so each group has one change signal.
class PanelTheme : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("The dashboard provides the theme")
    // The window background under the panel.
    Q_PROPERTY(QColor window READ window NOTIFY colorsChanged)
    // Text colours: full, secondary and tertiary emphasis.
    Q_PROPERTY(QColor primary READ primary NOTIFY colorsChanged)
    Q_PROPERTY(QColor secondary READ secondary NOTIFY colorsChanged)
    Q_PROPERTY(QColor tertiary READ tertiary NOTIFY colorsChanged)
    // The primary colour at 8 %: dividers, the border, hover fills.
    Q_PROPERTY(QColor hairline READ hairline NOTIFY colorsChanged)
    Q_PROPERTY(QColor red READ red NOTIFY colorsChanged)
    Q_PROPERTY(QColor orange READ orange NOTIFY colorsChanged)
    Q_PROPERTY(QColor green READ green NOTIFY colorsChanged)
    // The desktop's accent (highlight) colour, and it at 8 % for the banner.
    Q_PROPERTY(QColor accent READ accent NOTIFY colorsChanged)
    Q_PROPERTY(QColor accentWash READ accentWash NOTIFY colorsChanged)
    // The mark's orange.
    Q_PROPERTY(QColor brand READ brand CONSTANT)
    // The type scale.
    Q_PROPERTY(QFont hero READ hero NOTIFY fontsChanged)
    Q_PROPERTY(QFont title READ title NOTIFY fontsChanged)
    Q_PROPERTY(QFont section READ section NOTIFY fontsChanged)
    Q_PROPERTY(QFont label READ label NOTIFY fontsChanged)
    Q_PROPERTY(QFont value READ value NOTIFY fontsChanged)
    Q_PROPERTY(QFont meta READ meta NOTIFY fontsChanged)
    Q_PROPERTY(QFont body READ body NOTIFY fontsChanged)

public:
    explicit PanelTheme(QObject* parent = nullptr);

    QColor color(ColorRole role) const;
    QColor window() const { return m_palette.color(QPalette::Window); }
    QColor primary() const { return color(ColorRole::primary); }
    QColor secondary() const { return color(ColorRole::secondary); }
    QColor tertiary() const { return color(ColorRole::tertiary); }
    QColor hairline() const;
    QColor red() const { return color(ColorRole::red); }
    QColor orange() const { return color(ColorRole::orange); }
    QColor green() const { return color(ColorRole::green); }
    QColor accent() const { return color(ColorRole::accent); }
    QColor accentWash() const;
    QColor brand() const;
    QFont font(AppType::Style style) const { return AppType::font(style, m_font); }
    QFont hero() const { return font(AppType::Style::hero); }
    QFont title() const { return font(AppType::Style::title); }
    QFont section() const { return font(AppType::Style::section); }
    QFont label() const { return font(AppType::Style::label); }
    QFont value() const { return font(AppType::Style::value); }
    QFont meta() const { return font(AppType::Style::meta); }
    QFont body() const { return font(AppType::Style::body); }

signals:
    void colorsChanged();
    void fontsChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPalette m_palette;
    QFont m_font;
};
