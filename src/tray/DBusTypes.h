#pragma once

#include <QByteArray>
#include <QDBusArgument>
#include <QImage>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QVariantMap>

// The D-Bus structures of the StatusNotifierItem and dbusmenu protocols.

// (iiay): one icon size, ARGB32 in network byte order.
struct SNIPixmap {
    int width = 0;
    int height = 0;
    QByteArray bytes;

    static SNIPixmap fromImage(const QImage& image);
    friend bool operator==(const SNIPixmap&, const SNIPixmap&) = default;
};
using SNIPixmapList = QList<SNIPixmap>;

// (sa(iiay)ss): icon name, icons, title, description.
struct SNIToolTip {
    QString iconName;
    SNIPixmapList pixmaps;
    QString title;
    QString description;

    friend bool operator==(const SNIToolTip&, const SNIToolTip&) = default;
};

// (ia{sv}av): a menu item with its children, each a variant of the same.
struct DBusMenuLayout {
    int id = 0;
    QVariantMap properties;
    QList<DBusMenuLayout> children;
};

// (ia{sv}): one item's properties.
struct DBusMenuItemProperties {
    int id = 0;
    QVariantMap properties;
};
using DBusMenuItemPropertiesList = QList<DBusMenuItemProperties>;

// (ias): the names of properties an item no longer has.
struct DBusMenuItemKeys {
    int id = 0;
    QStringList properties;
};
using DBusMenuItemKeysList = QList<DBusMenuItemKeys>;

// aas: a key binding, e.g. [["Control", "R"]].
using DBusMenuShortcut = QList<QStringList>;

QDBusArgument& operator<<(QDBusArgument& out, const SNIPixmap& pixmap);
const QDBusArgument& operator>>(const QDBusArgument& in, SNIPixmap& pixmap);
QDBusArgument& operator<<(QDBusArgument& out, const SNIToolTip& toolTip);
const QDBusArgument& operator>>(const QDBusArgument& in, SNIToolTip& toolTip);
QDBusArgument& operator<<(QDBusArgument& out, const DBusMenuLayout& layout);
const QDBusArgument& operator>>(const QDBusArgument& in, DBusMenuLayout& layout);
QDBusArgument& operator<<(QDBusArgument& out, const DBusMenuItemProperties& item);
const QDBusArgument& operator>>(const QDBusArgument& in, DBusMenuItemProperties& item);
QDBusArgument& operator<<(QDBusArgument& out, const DBusMenuItemKeys& item);
const QDBusArgument& operator>>(const QDBusArgument& in, DBusMenuItemKeys& item);

Q_DECLARE_METATYPE(SNIPixmap)
Q_DECLARE_METATYPE(SNIToolTip)
Q_DECLARE_METATYPE(DBusMenuLayout)
Q_DECLARE_METATYPE(DBusMenuItemProperties)
Q_DECLARE_METATYPE(DBusMenuItemKeys)

namespace DBusTypes {
// Registers every type above with QtDBus; safe to call more than once.
void registerTypes();
} // namespace DBusTypes
