#pragma once

#include "DailyBarsModel.h"
#include "StatTileModel.h"
#include "Usage.h"

#include <QObject>
#include <QtQml/qqmlregistration.h>

// The usage section: the period header with the hover read-out, three
// tiles, the daily chart and the cache line.
class UsageModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Part of the dashboard")
    // "Last 30 days".
    Q_PROPERTY(QString header READ header NOTIFY headerChanged)
    // The hovered day's figures; empty while no bar is hovered.
    Q_PROPERTY(QString readout READ readout NOTIFY readoutChanged)
    Q_PROPERTY(StatTileModel* spend READ spend CONSTANT)
    Q_PROPERTY(StatTileModel* requests READ requests CONSTANT)
    Q_PROPERTY(StatTileModel* tokens READ tokens CONSTANT)
    Q_PROPERTY(DailyBarsModel* bars READ bars CONSTANT)
    // "Cache … read · … write", or empty without cache tokens.
    Q_PROPERTY(QString cacheLine READ cacheLine NOTIFY cacheLineChanged)

public:
    explicit UsageModel(QObject* parent = nullptr);

    const QString& header() const { return m_header; }
    const QString& readout() const { return m_readout; }
    StatTileModel* spend() const { return m_spend; }
    StatTileModel* requests() const { return m_requests; }
    StatTileModel* tokens() const { return m_tokens; }
    DailyBarsModel* bars() const { return m_bars; }
    const QString& cacheLine() const { return m_cacheLine; }

    // Without usage the section keeps its last figures (it is hidden).
    void update(const std::optional<UsageSummary>& usage);

signals:
    void headerChanged();
    void readoutChanged();
    void cacheLineChanged();

private:
    void updateReadout();

    QString m_header;
    QString m_readout;
    StatTileModel* m_spend;
    StatTileModel* m_requests;
    StatTileModel* m_tokens;
    DailyBarsModel* m_bars;
    QString m_cacheLine;
};
