#pragma once

#include <QDBusConnection>
#include <QNetworkInformation>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <chrono>
#include <functional>
#include <optional>

class UsageStore;

// Refreshes when the figures are most likely out of date: after a resume
// from suspend (logind's PrepareForSleep(false)) and when the network comes
// back. Events that arrive together (a resume is usually followed by the
// network a few seconds later) make one refresh; after a refresh this sends,
// another follows no sooner than 30 s later; none is sent while one runs or
// while the network is known to be down. Main thread.
class RefreshTriggers : public QObject {
    Q_OBJECT
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    static constexpr std::chrono::seconds minimumInterval { 30 };

    struct Options {
        // How long to wait for more events before refreshing.
        std::chrono::milliseconds settleDelay { 3000 };
        Clock now = [] { return std::chrono::steady_clock::now(); };
        // Follow the platform's network reachability (off in tests, which
        // report it through reachabilityChanged()).
        bool followNetwork = true;
    };

    // `refresh` starts one refresh (normally AppContainer::refreshNow).
    // `systemBus` carries logind's signals.
    RefreshTriggers(UsageStore& store, std::function<void()> refresh,
        QDBusConnection systemBus = QDBusConnection::systemBus());
    RefreshTriggers(UsageStore& store, std::function<void()> refresh, QDBusConnection systemBus, Options options,
        QObject* parent = nullptr);

    // The network's reachability changed; coming back online asks for a refresh.
    void reachabilityChanged(QNetworkInformation::Reachability reachability);

private slots:
    void onPrepareForSleep(bool goingToSleep);

private:
    void request();
    void fire();
    void onRefreshingChanged();

    QPointer<UsageStore> m_store;
    std::function<void()> m_refresh;
    Options m_options;
    QTimer m_settle;
    std::optional<QNetworkInformation::Reachability> m_reachability;
    std::optional<std::chrono::steady_clock::time_point> m_lastSent;
    bool m_pending = false;
};
