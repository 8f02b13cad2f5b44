#include "BalanceRules.h"

#include "Formatters.h"

#include <QCoreApplication>

#include <algorithm>

namespace BalanceRules {

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("BalanceSection", text);
}

QString money(MicrosUSD amount)
{
    return QString::fromStdString(amount.formatted());
}

} // namespace

Hero hero(const Balance& balance)
{
    Hero hero { .amount = money(balance.availableBalance) };
    if (balance.isEmpty()) {
        hero.color = ColorRole::red;
        hero.statusText = tr("Out of credit");
        hero.statusIcon = QStringLiteral("exclamationmark.circle.fill");
    } else if (balance.isLow()) {
        hero.color = ColorRole::orange;
        hero.statusText = tr("Low balance");
        hero.statusIcon = QStringLiteral("exclamationmark.triangle.fill");
    }
    return hero;
}

std::optional<QString> accountTotal(const Balance& balance)
{
    if (!balance.isCapped())
        return std::nullopt;
    return tr("Account total %1").arg(money(balance.accountBalance));
}

std::optional<Row> planRow(const Balance& balance, Timestamp now)
{
    if (const auto& gtm = balance.gtm; gtm && (gtm->active || gtm->balance > MicrosUSD::zero))
        return Row { QString::fromStdString(gtm->planName()), money(gtm->balance), planNote(*gtm, now) };
    if (balance.goToMarketBalance > MicrosUSD::zero)
        return Row { tr("Subscription Plan"), money(balance.goToMarketBalance), std::nullopt };
    return std::nullopt;
}

std::optional<QString> planNote(const Balance::GTM& gtm, Timestamp now)
{
    QStringList parts;
    if (gtm.trialBalance > MicrosUSD::zero)
        parts << tr("incl. %1 trial").arg(money(gtm.trialBalance));
    if (gtm.expiresAt) {
        parts << (*gtm.expiresAt > now
                ? tr("renews in %1").arg(QString::fromStdString(Formatters::countdown(*gtm.expiresAt, now)))
                : tr("expired"));
    }
    if (parts.isEmpty())
        return std::nullopt;
    return parts.join(QStringLiteral(" \u00B7 "));
}

Row payAsYouGoRow(const Balance& balance)
{
    const MicrosUSD payAsYouGo = balance.payAsYouGoBalance();
    Row row { tr("Pay As You Go"), money(payAsYouGo), std::nullopt };
    if (balance.isCapped()) {
        const MicrosUSD usable = balance.availablePayAsYouGo();
        if (usable != payAsYouGo)
            row.note = tr("%1 usable by this key").arg(money(usable));
    }
    return row;
}

std::optional<KeyLimit> keyLimit(const Balance& balance)
{
    const auto& key = balance.apiKey;
    if (key.unlimited)
        return std::nullopt;
    const MicrosUSD limit = key.remaining + key.used;
    const double fraction
        = limit > MicrosUSD::zero ? static_cast<double>(key.used.value) / static_cast<double>(limit.value) : 0.0;
    KeyLimit result { .row = { tr("Key limit"), tr("%1 left").arg(money(key.remaining)), tr("of %1").arg(money(limit)) },
        .fraction = std::clamp(fraction, 0.0, 1.0) };
    if (fraction > 0.9)
        result.tint = ColorRole::red;
    else if (fraction > 0.7)
        result.tint = ColorRole::orange;
    return result;
}

} // namespace BalanceRules
