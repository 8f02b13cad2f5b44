#include "StatusNotifierItem.h"

#include "DBusMenuExporter.h"
#include "Log.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QTimer>

StatusNotifierItem::StatusNotifierItem(QDBusConnection bus, DBusMenuExporter* menu, PointHandler activate,
    PointHandler contextMenu, QObject* parent)
    : QObject(parent)
    , m_bus(std::move(bus))
    , m_menu(menu)
    , m_activate(std::move(activate))
    , m_contextMenu(std::move(contextMenu))
    , m_serviceName(QStringLiteral("org.kde.StatusNotifierItem-%1-1").arg(QCoreApplication::applicationPid()))
{
    DBusTypes::registerTypes();
}

StatusNotifierItem::~StatusNotifierItem()
{
    if (!m_published)
        return;
    m_bus.unregisterObject(QString::fromLatin1(itemPath));
    m_bus.unregisterObject(QString::fromLatin1(menuPath));
    m_bus.unregisterService(m_serviceName);
}

bool StatusNotifierItem::publish()
{
    if (m_published)
        return true;
    const auto options = QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals
        | QDBusConnection::ExportAllProperties;
    if (!m_bus.registerObject(QString::fromLatin1(itemPath), this, options)
        || !m_bus.registerObject(QString::fromLatin1(menuPath), m_menu, options)) {
        qCWarning(Log::app, "tray: cannot export the status item: %s", qUtf8Printable(m_bus.lastError().message()));
        m_bus.unregisterObject(QString::fromLatin1(itemPath));
        return false;
    }
    if (!m_bus.registerService(m_serviceName)) {
        qCWarning(Log::app, "tray: cannot take the name %s", qUtf8Printable(m_serviceName));
        m_bus.unregisterObject(QString::fromLatin1(itemPath));
        m_bus.unregisterObject(QString::fromLatin1(menuPath));
        return false;
    }
    m_published = true;
    return true;
}

void StatusNotifierItem::registerWithWatcher()
{
    if (!publish())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(watcherService),
        QStringLiteral("/StatusNotifierWatcher"), QString::fromLatin1(watcherService),
        QStringLiteral("RegisterStatusNotifierItem"));
    call << m_serviceName;
    // Never blocks: the watcher may be slow, and a test's watcher lives on
    // this very thread.
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [](QDBusPendingCallWatcher* finished) {
        const QDBusPendingReply<> reply = *finished;
        if (reply.isError())
            qCWarning(Log::app, "tray: the status notifier watcher refused the item: %s",
                qUtf8Printable(reply.error().message()));
        finished->deleteLater();
    });
}

void StatusNotifierItem::setIcon(const SNIPixmapList& icon)
{
    if (icon == m_icon)
        return;
    m_icon = icon;
    emit NewIcon();
}

void StatusNotifierItem::setToolTip(const QString& title, const QString& description)
{
    const SNIToolTip toolTip { {}, {}, title, description };
    if (toolTip == m_toolTip)
        return;
    m_toolTip = toolTip;
    emit NewToolTip();
}

void StatusNotifierItem::setLabel(const QString& label, const QString& guide)
{
    if (label == m_label && guide == m_labelGuide)
        return;
    m_label = label;
    m_labelGuide = guide;
    emit XAyatanaNewLabel(m_label, m_labelGuide);
}

void StatusNotifierItem::Activate(int x, int y)
{
    // After the reply, so the host is not kept waiting on the panel.
    QTimer::singleShot(0, this, [this, x, y] { m_activate(x, y); });
}

void StatusNotifierItem::SecondaryActivate(int x, int y)
{
    Activate(x, y);
}

void StatusNotifierItem::ContextMenu(int x, int y)
{
    QTimer::singleShot(0, this, [this, x, y] { m_contextMenu(x, y); });
}

void StatusNotifierItem::Scroll(int delta, const QString& orientation)
{
    Q_UNUSED(delta)
    Q_UNUSED(orientation)
}
