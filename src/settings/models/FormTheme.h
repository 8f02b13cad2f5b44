#pragma once

#include "PanelTheme.h"

#include <QtQml/qqmlregistration.h>

// The panel's colours and type, plus what a grouped settings form needs:
// the cards its rows sit on, the fill of buttons and fields, and a type
// scale one step larger than the panel's. Follows the palette like the panel.
class FormTheme : public PanelTheme {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("The settings form provides the theme")
    // A section's card over the window, and its edge.
    Q_PROPERTY(QColor card READ card NOTIFY colorsChanged)
    Q_PROPERTY(QColor cardBorder READ cardBorder NOTIFY colorsChanged)
    // Buttons, the picker's track and the text field: at rest, under the
    // pointer, pressed.
    Q_PROPERTY(QColor control READ control NOTIFY colorsChanged)
    Q_PROPERTY(QColor controlHover READ controlHover NOTIFY colorsChanged)
    Q_PROPERTY(QColor controlPressed READ controlPressed NOTIFY colorsChanged)
    // The picker's chosen segment and the switch's knob.
    Q_PROPERTY(QColor raised READ raised NOTIFY colorsChanged)
    // Text on the accent colour.
    Q_PROPERTY(QColor onAccent READ onAccent NOTIFY colorsChanged)
    // Row titles and values; section headers; captions and footers; the
    // masked token.
    Q_PROPERTY(QFont row READ row NOTIFY fontsChanged)
    Q_PROPERTY(QFont header READ header NOTIFY fontsChanged)
    Q_PROPERTY(QFont caption READ caption NOTIFY fontsChanged)
    Q_PROPERTY(QFont mono READ mono NOTIFY fontsChanged)

public:
    explicit FormTheme(QObject* parent = nullptr);

    bool isDark() const;
    QColor card() const;
    QColor cardBorder() const;
    QColor control() const;
    QColor controlHover() const;
    QColor controlPressed() const;
    QColor raised() const;
    QColor onAccent() const;
    QFont row() const;
    QFont header() const;
    QFont caption() const;
    QFont mono() const;
};
