#include "DBusMenuExporter.h"

#include <QTimer>

namespace {

constexpr int firstSeparatorId = 100;

// "Ctrl+," → [["Control", ","]], dbusmenu's key names.
DBusMenuShortcut shortcutOf(const QKeySequence& key)
{
    DBusMenuShortcut shortcut;
    for (int i = 0; i < key.count(); ++i) {
        const QKeyCombination combination = key[i];
        QStringList parts;
        const Qt::KeyboardModifiers modifiers = combination.keyboardModifiers();
        if (modifiers & Qt::ControlModifier)
            parts << QStringLiteral("Control");
        if (modifiers & Qt::AltModifier)
            parts << QStringLiteral("Alt");
        if (modifiers & Qt::ShiftModifier)
            parts << QStringLiteral("Shift");
        if (modifiers & Qt::MetaModifier)
            parts << QStringLiteral("Super");
        parts << QKeySequence(combination.key()).toString(QKeySequence::PortableText);
        shortcut << parts;
    }
    return shortcut;
}

} // namespace

DBusMenuExporter::DBusMenuExporter(ItemsProvider items, Trigger trigger, QObject* parent)
    : QObject(parent)
    , m_items(std::move(items))
    , m_trigger(std::move(trigger))
{
    DBusTypes::registerTypes();
}

int DBusMenuExporter::idOf(TrayMenu::Action action)
{
    return static_cast<int>(action) + 1;
}

std::vector<DBusMenuExporter::Entry> DBusMenuExporter::entries() const
{
    std::vector<Entry> out;
    int separatorId = firstSeparatorId;
    for (const TrayMenu::Item& item : m_items()) {
        if (item.separator) {
            out.push_back({ separatorId++, { { QStringLiteral("type"), QStringLiteral("separator") } }, true, {} });
            continue;
        }
        QVariantMap properties { { QStringLiteral("label"), item.label }, { QStringLiteral("enabled"), true },
            { QStringLiteral("visible"), true } };
        if (!item.key.isEmpty())
            properties.insert(QStringLiteral("shortcut"), QVariant::fromValue(shortcutOf(item.key)));
        out.push_back({ idOf(item.action), properties, false, item.action });
    }
    return out;
}

QVariantMap DBusMenuExporter::filtered(const QVariantMap& properties, const QStringList& names)
{
    if (names.isEmpty())
        return properties;
    QVariantMap out;
    for (const QString& name : names) {
        if (properties.contains(name))
            out.insert(name, properties.value(name));
    }
    return out;
}

void DBusMenuExporter::layoutChanged()
{
    ++m_revision;
    emit LayoutUpdated(m_revision, 0);
}

uint DBusMenuExporter::GetLayout(
    int parentId, int recursionDepth, const QStringList& propertyNames, DBusMenuLayout& layout)
{
    layout = {};
    layout.id = parentId;
    if (parentId != 0)
        return m_revision; // the items have no submenus
    layout.properties.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
    if (recursionDepth == 0)
        return m_revision;
    for (const Entry& entry : entries())
        layout.children.push_back({ entry.id, filtered(entry.properties, propertyNames), {} });
    return m_revision;
}

DBusMenuItemPropertiesList DBusMenuExporter::GetGroupProperties(const QList<int>& ids, const QStringList& propertyNames)
{
    DBusMenuItemPropertiesList out;
    for (const Entry& entry : entries()) {
        if (ids.isEmpty() || ids.contains(entry.id))
            out.push_back({ entry.id, filtered(entry.properties, propertyNames) });
    }
    return out;
}

QDBusVariant DBusMenuExporter::GetProperty(int id, const QString& name)
{
    for (const Entry& entry : entries()) {
        if (entry.id == id)
            return QDBusVariant(entry.properties.value(name));
    }
    return QDBusVariant(QVariant());
}

void DBusMenuExporter::Event(int id, const QString& eventId, const QDBusVariant& data, uint timestamp)
{
    Q_UNUSED(data)
    Q_UNUSED(timestamp)
    if (eventId != QLatin1String("clicked"))
        return;
    for (const Entry& entry : entries()) {
        if (entry.id == id && !entry.separator) {
            // After the D-Bus reply: an action may open a window or quit.
            QTimer::singleShot(0, this, [this, action = entry.action] { m_trigger(action); });
            return;
        }
    }
}

bool DBusMenuExporter::AboutToShow(int id)
{
    Q_UNUSED(id)
    return false;
}
