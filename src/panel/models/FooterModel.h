#pragma once

#include "DashboardRules.h"

#include <QObject>
#include <QtQml/qqmlregistration.h>

// The footer's two lines of times and the refresh button's state.
class FooterModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Part of the dashboard")
    // "Updated 3m ago" or "Not updated yet".
    Q_PROPERTY(QString updated READ updated NOTIFY updatedChanged)
    // "Refreshing…" or "Next in 12m"; empty when the line is not shown.
    Q_PROPERTY(QString next READ next NOTIFY nextChanged)
    // A refresh is under way: the button spins and is disabled.
    Q_PROPERTY(bool refreshing READ refreshing NOTIFY refreshingChanged)

public:
    using QObject::QObject;

    const QString& updated() const { return m_updated; }
    const QString& next() const { return m_next; }
    bool refreshing() const { return m_refreshing; }
    void update(const DashboardRules::Footer& footer, bool refreshing);

signals:
    void updatedChanged();
    void nextChanged();
    void refreshingChanged();

private:
    QString m_updated;
    QString m_next;
    bool m_refreshing = false;
};
