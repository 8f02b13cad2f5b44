#include "UsageModel.h"

#include "Assign.h"
#include "UsageRules.h"

UsageModel::UsageModel(QObject* parent)
    : QObject(parent)
    , m_spend(new StatTileModel(this))
    , m_requests(new StatTileModel(this))
    , m_tokens(new StatTileModel(this))
    , m_bars(new DailyBarsModel(this))
{
    connect(m_bars, &DailyBarsModel::hoveredIndexChanged, this, &UsageModel::updateReadout);
}

void UsageModel::update(const std::optional<UsageSummary>& usage)
{
    if (!usage)
        return;
    if (assign(m_header, UsageRules::header(*usage)))
        emit headerChanged();
    const auto tiles = UsageRules::tiles(*usage);
    m_spend->update(tiles[0]);
    m_requests->update(tiles[1]);
    m_tokens->update(tiles[2]);
    m_bars->setBuckets(usage->buckets);
    updateReadout();
    if (assign(m_cacheLine, UsageRules::cacheLine(usage->totals).value_or(QString())))
        emit cacheLineChanged();
}

void UsageModel::updateReadout()
{
    const UsageBucket* hovered = m_bars->hoveredBucket();
    if (assign(m_readout, hovered ? UsageRules::readout(*hovered) : QString()))
        emit readoutChanged();
}
