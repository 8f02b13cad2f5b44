#pragma once

#include "DashboardRules.h"

#include <QColor>
#include <QObject>
#include <QtQml/qqmlregistration.h>

class PanelTheme;

// The header's live status: a coloured dot and a word.
class StatusBadgeModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Part of the dashboard")
    // "Live", "Outdated", "Error", "Auth" or "Setup".
    Q_PROPERTY(QString text READ text NOTIFY textChanged)
    // The dot's colour.
    Q_PROPERTY(QColor color READ color NOTIFY colorChanged)

public:
    using QObject::QObject;

    const QString& text() const { return m_text; }
    const QColor& color() const { return m_color; }
    void update(const DashboardRules::Badge& badge, const PanelTheme& theme);

signals:
    void textChanged();
    void colorChanged();

private:
    QString m_text;
    QColor m_color;
};
