#include "RefreshTriggers.h"

#include "Log.h"
#include "UsageStore.h"

#include <QDBusError>

RefreshTriggers::RefreshTriggers(UsageStore& store, std::function<void()> refresh, QDBusConnection systemBus)
    : RefreshTriggers(store, std::move(refresh), std::move(systemBus), Options())
{
}

RefreshTriggers::RefreshTriggers(UsageStore& store, std::function<void()> refresh, QDBusConnection systemBus,
    Options options, QObject* parent)
    : QObject(parent)
    , m_store(&store)
    , m_refresh(std::move(refresh))
    , m_options(std::move(options))
{
    m_settle.setSingleShot(true);
    m_settle.setInterval(m_options.settleDelay);
    connect(&m_settle, &QTimer::timeout, this, &RefreshTriggers::fire);
    connect(&store, &UsageStore::isRefreshingChanged, this, &RefreshTriggers::onRefreshingChanged);

    if (!systemBus.connect(QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
            QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"), this,
            SLOT(onPrepareForSleep(bool))))
        qCDebug(Log::app, "no resume signal from logind: %s", qUtf8Printable(systemBus.lastError().message()));

    if (m_options.followNetwork
        && QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability)) {
        auto* info = QNetworkInformation::instance();
        m_reachability = info->reachability();
        connect(info, &QNetworkInformation::reachabilityChanged, this, &RefreshTriggers::reachabilityChanged);
    }
}

void RefreshTriggers::onPrepareForSleep(bool goingToSleep)
{
    if (!goingToSleep)
        request();
}

void RefreshTriggers::reachabilityChanged(QNetworkInformation::Reachability reachability)
{
    using R = QNetworkInformation::Reachability;
    const std::optional<R> before = std::exchange(m_reachability, reachability);
    if (reachability == R::Online && before && *before != R::Online)
        request();
    else if (reachability == R::Online && m_pending)
        fire(); // a resume was waiting for the network
}

void RefreshTriggers::request()
{
    m_pending = true;
    m_settle.start();
}

void RefreshTriggers::fire()
{
    using R = QNetworkInformation::Reachability;
    if (!m_pending || m_settle.isActive() || !m_store)
        return;
    // Ended by onRefreshingChanged or by the network coming back.
    if (m_store->isRefreshing() || (m_reachability && *m_reachability != R::Online && *m_reachability != R::Unknown))
        return;
    m_pending = false;
    const auto now = m_options.now();
    if (m_lastSent && now - *m_lastSent < minimumInterval)
        return;
    m_lastSent = now;
    m_refresh();
}

void RefreshTriggers::onRefreshingChanged()
{
    if (!m_store || m_store->isRefreshing() || !m_pending)
        return;
    // A refresh that ended cleanly has brought the fresh figures already.
    if (!m_store->lastError()) {
        m_pending = false;
        return;
    }
    fire();
}
