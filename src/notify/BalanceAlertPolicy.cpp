#include "BalanceAlertPolicy.h"

BalanceAlertPolicy::Level BalanceAlertPolicy::level(const Balance& balance)
{
    if (balance.isEmpty())
        return Level::empty;
    return balance.isLow() ? Level::low : Level::normal;
}

bool BalanceAlertPolicy::sessionEnded(const UsageStore::Status& status, bool refreshFailed)
{
    using Kind = UsageStore::Status::Kind;
    return status.kind() == Kind::credentialRejected || (status.kind() == Kind::credentialExpired && refreshFailed);
}

BalanceAlertPolicy::Decision BalanceAlertPolicy::decide(const State& last, const Inputs& now)
{
    Decision decision { last, {} };
    if (now.balance) {
        // Falling to a worse level is a new crossing; rising only re-arms.
        if (*now.balance > last.balance && now.balanceAlertsOn)
            decision.alerts.push_back(*now.balance == Level::empty ? Alert::outOfCredit : Alert::lowBalance);
        decision.state.balance = *now.balance;
    }
    if (now.sessionEnded && !last.sessionEnded)
        decision.alerts.push_back(Alert::sessionExpired);
    decision.state.sessionEnded = now.sessionEnded;
    return decision;
}

QString BalanceAlertPolicy::rawValue(Level level)
{
    switch (level) {
    case Level::low:
        return QStringLiteral("low");
    case Level::empty:
        return QStringLiteral("empty");
    case Level::normal:
        break;
    }
    return QStringLiteral("normal");
}

BalanceAlertPolicy::Level BalanceAlertPolicy::levelFromRawValue(const QString& raw)
{
    if (raw == QLatin1String("low"))
        return Level::low;
    if (raw == QLatin1String("empty"))
        return Level::empty;
    return Level::normal;
}
