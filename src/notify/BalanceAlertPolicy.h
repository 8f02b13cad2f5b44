#pragma once

#include "Balance.h"
#include "UsageStore.h"

#include <QString>

#include <optional>
#include <vector>

// Which desktop alerts the usage picture calls for. Each alert goes out once
// when its condition begins and is armed again only after the condition has
// ended, so a balance that stays low speaks once, and one that recovers and
// falls again speaks again. The remembered state is kept across restarts by
// the caller.
class BalanceAlertPolicy {
public:
    // How far the balance has fallen; each step is worse than the one before.
    enum class Level { normal, low, empty };
    enum class Alert { lowBalance, outOfCredit, sessionExpired };

    // What has already been announced.
    struct State {
        Level balance = Level::normal;
        bool sessionEnded = false;
        friend bool operator==(const State&, const State&) = default;
    };
    struct Inputs {
        // None while no current balance is known: the last level stands.
        std::optional<Level> balance;
        bool sessionEnded = false;
        // The user's "Notify when the balance runs low".
        bool balanceAlertsOn = true;
    };
    struct Decision {
        State state;
        std::vector<Alert> alerts;
    };

    // empty when the account holds $0 or less, low when the available
    // balance is under the low-balance threshold.
    static Level level(const Balance& balance);
    // The session can no longer be renewed: the service or the identity
    // provider refused it, or it is still expired after a refresh ended in
    // a failure (`refreshFailed`). An expired session that no refresh has
    // tried yet is merely waiting for its renewal.
    static bool sessionEnded(const UsageStore::Status& status, bool refreshFailed);
    static Decision decide(const State& last, const Inputs& now);

    static QString rawValue(Level level);
    // Anything unknown reads as normal (the next low balance speaks).
    static Level levelFromRawValue(const QString& raw);
};
