#include "BalanceModel.h"

#include "Assign.h"
#include "BalanceRules.h"
#include "PanelTheme.h"

BalanceModel::BalanceModel(QObject* parent)
    : QObject(parent)
    , m_plan(new BalanceRowModel(this))
    , m_payAsYouGo(new BalanceRowModel(this))
    , m_keyLimit(new BalanceRowModel(this))
{
}

void BalanceModel::update(const std::optional<Balance>& balance, Timestamp now, const PanelTheme& theme)
{
    if (!balance)
        return;
    const BalanceRules::Hero hero = BalanceRules::hero(*balance);
    if (assign(m_available, hero.amount))
        emit availableChanged();
    if (assign(m_availableDollars, balance->availableBalance.dollars()))
        emit availableDollarsChanged();
    if (assign(m_heroColor, theme.color(hero.color)))
        emit heroColorChanged();
    if (assign(m_statusText, hero.statusText))
        emit statusTextChanged();
    if (assign(m_statusIcon, hero.statusIcon))
        emit statusIconChanged();
    if (assign(m_accountTotal, BalanceRules::accountTotal(*balance).value_or(QString())))
        emit accountTotalChanged();
    m_plan->update(BalanceRules::planRow(*balance, now));
    m_payAsYouGo->update(BalanceRules::payAsYouGoRow(*balance));
    const auto limit = BalanceRules::keyLimit(*balance);
    m_keyLimit->update(limit ? std::optional(limit->row) : std::nullopt);
    if (limit) {
        if (assign(m_keyLimitFraction, limit->fraction))
            emit keyLimitFractionChanged();
        if (assign(m_keyLimitTint, theme.color(limit->tint)))
            emit keyLimitTintChanged();
    }
}
