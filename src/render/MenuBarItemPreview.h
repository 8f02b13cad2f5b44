#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QSize>
#include <QString>

// A likeness of the tray item for the screenshots: the mark as a 14 x 16
// template glyph, 4 points of space, the text in the desktop font with
// digits of one width, 8 points of padding each side, 24 points high.
class MenuBarItemPreview {
public:
    explicit MenuBarItemPreview(QString text);

    const QString& text() const { return m_text; }
    // The desktop's UI font at the tray's 13-point size, tabular digits.
    QFont font() const;
    // The preview's size in points.
    QSize size() const;
    // Drawn in `color` on transparent at the given pixel density.
    QImage render(const QColor& color, qreal devicePixelRatio) const;

private:
    QString m_text;
};
