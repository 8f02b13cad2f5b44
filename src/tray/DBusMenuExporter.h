#pragma once

#include "DBusTypes.h"
#include "TrayMenu.h"

#include <QDBusConnection>
#include <QDBusVariant>
#include <QObject>

#include <functional>
#include <vector>

// The tray menu over com.canonical.dbusmenu, so a StatusNotifierItem host
// draws it natively. Items keep fixed ids per action; separators follow.
// The layout is asked for afresh on every GetLayout, so it follows the
// updater; layoutChanged() tells the host to ask again.
class DBusMenuExporter : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.canonical.dbusmenu")
    Q_PROPERTY(uint Version READ version)
    Q_PROPERTY(QString TextDirection READ textDirection)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(QStringList IconThemePath READ iconThemePath)

public:
    using ItemsProvider = std::function<std::vector<TrayMenu::Item>()>;
    using Trigger = std::function<void(TrayMenu::Action)>;

    DBusMenuExporter(ItemsProvider items, Trigger trigger, QObject* parent = nullptr);

    // The id an action's item carries (stable across layouts).
    static int idOf(TrayMenu::Action action);

    uint version() const { return 3; }
    QString textDirection() const { return QStringLiteral("ltr"); }
    QString status() const { return QStringLiteral("normal"); }
    QStringList iconThemePath() const { return {}; }

    // The items changed (e.g. the updater came or went): bumps the revision.
    void layoutChanged();

public slots:
    uint GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames, DBusMenuLayout& layout);
    DBusMenuItemPropertiesList GetGroupProperties(const QList<int>& ids, const QStringList& propertyNames);
    QDBusVariant GetProperty(int id, const QString& name);
    void Event(int id, const QString& eventId, const QDBusVariant& data, uint timestamp);
    bool AboutToShow(int id);

signals:
    void ItemsPropertiesUpdated(const DBusMenuItemPropertiesList& updated, const DBusMenuItemKeysList& removed);
    void LayoutUpdated(uint revision, int parent);
    void ItemActivationRequested(int id, uint timestamp);

private:
    struct Entry {
        int id;
        QVariantMap properties;
        bool separator;
        TrayMenu::Action action;
    };
    std::vector<Entry> entries() const;
    static QVariantMap filtered(const QVariantMap& properties, const QStringList& names);

    ItemsProvider m_items;
    Trigger m_trigger;
    uint m_revision = 1;
};
