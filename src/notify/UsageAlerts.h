#pragma once

#include "BalanceAlertPolicy.h"
#include "DesktopNotifier.h"

#include <QObject>
#include <QPointer>

class SettingsStore;
class UsageStore;

// Follows the usage store and posts the alerts BalanceAlertPolicy calls for
// through the notifier. What was announced is kept in the settings file, so
// a restart while the balance is low does not announce it again. Balances
// count only once fetched in this run: the cached figures of the last run may
// be long out of date. Main thread; the three objects must outlive it.
class UsageAlerts : public QObject {
    Q_OBJECT
public:
    UsageAlerts(UsageStore& store, SettingsStore& settings, DesktopNotifier& notifier, QObject* parent = nullptr);

    // Reads the store now (normally done after every change of it).
    void evaluate();

    // The notification texts (public for the tray's own use and for tests).
    static DesktopNotifier::Message message(BalanceAlertPolicy::Alert alert, const std::optional<Balance>& balance);

private:
    void scheduleEvaluation();
    BalanceAlertPolicy::State loadState() const;
    void saveState(const BalanceAlertPolicy::State& state);

    QPointer<UsageStore> m_store;
    SettingsStore& m_settings;
    DesktopNotifier& m_notifier;
    Timestamp m_startedAt;
    bool m_scheduled = false;
};
