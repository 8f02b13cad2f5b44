#include "DesktopNotifier.h"

#include "Log.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QPointer>
#include <QVariantMap>

namespace {
const QString interfaceName = QString::fromLatin1(DesktopNotifier::serviceName);
} // namespace

DesktopNotifier::DesktopNotifier(QDBusConnection bus, QString appIcon, QObject* parent)
    : QObject(parent)
    , m_bus(std::move(bus))
    , m_appIcon(std::move(appIcon))
{
    const QString service = QString::fromLatin1(serviceName);
    const QString path = QString::fromLatin1(objectPath);
    m_bus.connect(service, path, interfaceName, QStringLiteral("ActionInvoked"), this,
        SLOT(onActionInvoked(uint, QString)));
    m_bus.connect(service, path, interfaceName, QStringLiteral("NotificationClosed"), this,
        SLOT(onNotificationClosed(uint, uint)));
}

void DesktopNotifier::post(const Message& message)
{
    uint replaces = 0;
    for (auto it = m_shown.cbegin(); it != m_shown.cend(); ++it) {
        if (it.value() == message.target)
            replaces = it.key();
    }
    // "default" is a click on the notification; the other is a button.
    const QStringList actions = message.target == Target::panel
        ? QStringList { QStringLiteral("default"), tr("Show Balance"), QStringLiteral("open-panel"), tr("Show Balance") }
        : QStringList { QStringLiteral("default"), tr("Open Settings"), QStringLiteral("open-settings"),
              tr("Open Settings") };
    const QVariantMap hints {
        { QStringLiteral("desktop-entry"), QStringLiteral("velmo-usage") },
        { QStringLiteral("urgency"), QVariant::fromValue<uchar>(message.critical ? 2 : 1) },
    };
    QDBusMessage call = QDBusMessage::createMethodCall(
        QString::fromLatin1(serviceName), QString::fromLatin1(objectPath), interfaceName, QStringLiteral("Notify"));
    call << QStringLiteral("Velmo Usage") << replaces << m_appIcon << message.summary << message.body << actions
         << hints << -1;
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    const Target target = message.target;
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, target, replaces](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        const QDBusPendingReply<uint> reply = *w;
        if (reply.isError()) {
            if (!std::exchange(m_reportedMissing, true))
                qCDebug(Log::app, "no desktop notification shown: %s", qUtf8Printable(reply.error().message()));
            return;
        }
        m_shown.remove(replaces);
        m_shown.insert(reply.value(), target);
    });
}

void DesktopNotifier::onActionInvoked(uint id, const QString& actionKey)
{
    // Other applications' notifications share the signal.
    const auto it = m_shown.constFind(id);
    if (it == m_shown.cend() || actionKey.isEmpty())
        return;
    if (it.value() == Target::settings)
        emit openSettingsRequested();
    else
        emit openPanelRequested();
}

void DesktopNotifier::onNotificationClosed(uint id, uint)
{
    m_shown.remove(id);
}
