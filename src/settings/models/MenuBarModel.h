#pragma once

#include <QObject>
#include <QStringList>
#include <QtQml/qqmlregistration.h>

class AppContainer;

// The Menu Bar section: what the tray item shows, the refresh schedule and
// the last update with its Refresh button.
class MenuBarModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Part of the settings form")
    // The picker's segments, one per style in order ("Icon only", "Account balance").
    Q_PROPERTY(QStringList styles READ styles CONSTANT)
    // The chosen segment.
    Q_PROPERTY(int styleIndex READ styleIndex NOTIFY styleIndexChanged)
    // When the shown data was fetched, or "Never".
    Q_PROPERTY(QString lastUpdate READ lastUpdate NOTIFY lastUpdateChanged)
    // A refresh is under way: a spinner stands in for the button.
    Q_PROPERTY(bool refreshing READ refreshing NOTIFY refreshingChanged)
    // "Refresh" needs a credential.
    Q_PROPERTY(bool canRefresh READ canRefresh NOTIFY canRefreshChanged)

public:
    explicit MenuBarModel(AppContainer& container, QObject* parent = nullptr);

    QStringList styles() const;
    int styleIndex() const { return m_styleIndex; }
    const QString& lastUpdate() const { return m_lastUpdate; }
    bool refreshing() const { return m_refreshing; }
    bool canRefresh() const { return m_canRefresh; }

    void update();

    // Stores the style of segment `index`.
    Q_INVOKABLE void select(int index);
    Q_INVOKABLE void refresh();

signals:
    void styleIndexChanged();
    void lastUpdateChanged();
    void refreshingChanged();
    void canRefreshChanged();

private:
    AppContainer& m_container;
    int m_styleIndex = -1;
    QString m_lastUpdate;
    bool m_refreshing = false;
    bool m_canRefresh = false;
};
