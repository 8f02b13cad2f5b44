#include "UsageAlerts.h"

#include "SettingsStore.h"
#include "UsageStore.h"

#include <QSettings>
#include <QTimer>

namespace {
const QString balanceKey = QStringLiteral("notifications/balanceLevel");
const QString sessionKey = QStringLiteral("notifications/sessionEnded");
} // namespace

UsageAlerts::UsageAlerts(UsageStore& store, SettingsStore& settings, DesktopNotifier& notifier, QObject* parent)
    : QObject(parent)
    , m_store(&store)
    , m_settings(settings)
    , m_notifier(notifier)
    , m_startedAt(store.now())
{
    for (auto signal : { &UsageStore::snapshotChanged, &UsageStore::credentialChanged, &UsageStore::lastErrorChanged,
             &UsageStore::credentialRejectedChanged, &UsageStore::isRefreshingChanged })
        connect(&store, signal, this, &UsageAlerts::scheduleEvaluation);
}

void UsageAlerts::scheduleEvaluation()
{
    // A refresh changes several fields in one turn of the event loop: read
    // them once they all agree.
    if (std::exchange(m_scheduled, true))
        return;
    QTimer::singleShot(0, this, [this] {
        m_scheduled = false;
        evaluate();
    });
}

void UsageAlerts::evaluate()
{
    if (!m_store || m_store->isRefreshing())
        return;
    BalanceAlertPolicy::Inputs inputs;
    const auto& snapshot = m_store->snapshot();
    if (snapshot && snapshot->balance && snapshot->fetchedAt > m_startedAt)
        inputs.balance = BalanceAlertPolicy::level(*snapshot->balance);
    inputs.sessionEnded = BalanceAlertPolicy::sessionEnded(m_store->status(), m_store->lastError().has_value());
    inputs.balanceAlertsOn = m_settings.notifiesLowBalance();

    const BalanceAlertPolicy::State last = loadState();
    const BalanceAlertPolicy::Decision decision = BalanceAlertPolicy::decide(last, inputs);
    if (decision.state != last)
        saveState(decision.state);
    for (const auto alert : decision.alerts)
        m_notifier.post(message(alert, snapshot ? snapshot->balance : std::nullopt));
}

DesktopNotifier::Message UsageAlerts::message(BalanceAlertPolicy::Alert alert, const std::optional<Balance>& balance)
{
    using Alert = BalanceAlertPolicy::Alert;
    if (alert == Alert::sessionExpired)
        return { tr("Session expired — sign in again"), tr("Open Settings to sign in to your Velmo account."),
            DesktopNotifier::Target::settings };
    const QString body = balance
        ? tr("Available: %1 · Account: %2")
              .arg(QString::fromStdString(balance->availableBalance.formatted()),
                  QString::fromStdString(balance->accountBalance.formatted()))
        : QString();
    if (alert == Alert::outOfCredit)
        return { tr("Out of credit"), body, DesktopNotifier::Target::panel, true };
    return { tr("Low balance"), body, DesktopNotifier::Target::panel };
}

BalanceAlertPolicy::State UsageAlerts::loadState() const
{
    const QSettings& defaults = m_settings.defaults();
    return { BalanceAlertPolicy::levelFromRawValue(defaults.value(balanceKey).toString()),
        defaults.value(sessionKey).toBool() };
}

void UsageAlerts::saveState(const BalanceAlertPolicy::State& state)
{
    QSettings& defaults = m_settings.defaults();
    defaults.setValue(balanceKey, BalanceAlertPolicy::rawValue(state.balance));
    defaults.setValue(sessionKey, state.sessionEnded);
    defaults.sync(); // a crash right after an alert must not repeat it
}
