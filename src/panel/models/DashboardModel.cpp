#include "DashboardModel.h"

#include "DashboardRules.h"
#include "UsageStore.h"

namespace {

constexpr std::chrono::seconds tickInterval { 15 };

void call(const std::function<void()>& action)
{
    if (action)
        action();
}

} // namespace

DashboardModel::DashboardModel(
    UsageStore& store, UpdaterController* updater, DashboardActions actions, bool reduceMotion, QObject* parent)
    : QObject(parent)
    , m_store(store)
    , m_actions(std::move(actions))
    , m_theme(new PanelTheme(this))
    , m_badge(new StatusBadgeModel(this))
    , m_content(new ContentModel(this))
    , m_balance(new BalanceModel(this))
    , m_usage(new UsageModel(this))
    , m_footer(new FooterModel(this))
    , m_banner(new UpdateBannerModel(updater, this))
    , m_reduceMotion(reduceMotion)
{
    for (auto changed : { &UsageStore::snapshotChanged, &UsageStore::credentialChanged,
             &UsageStore::isRefreshingChanged, &UsageStore::lastErrorChanged, &UsageStore::credentialRejectedChanged,
             &UsageStore::nextRefreshAtChanged, &UsageStore::nowChanged })
        connect(&m_store, changed, this, &DashboardModel::reevaluate);
    connect(m_theme, &PanelTheme::colorsChanged, this, &DashboardModel::reevaluate);
    connect(&m_ticker, &QTimer::timeout, this, &DashboardModel::reevaluate);
    m_ticker.setInterval(tickInterval);
    reevaluate();
}

void DashboardModel::setOnScreen(bool onScreen)
{
    if (!onScreen) {
        m_ticker.stop();
        return;
    }
    reevaluate();
    m_ticker.start();
}

void DashboardModel::reevaluate()
{
    const UsageStore::Status status = m_store.status();
    const auto& snapshot = m_store.snapshot();
    const Timestamp now = m_store.now();
    m_badge->update(DashboardRules::badge(status, m_store.isStale(DashboardRules::staleAge)), *m_theme);
    m_content->update(DashboardRules::content(status, snapshot, m_store.lastError()));
    m_balance->update(snapshot ? snapshot->balance : std::nullopt, now, *m_theme);
    m_usage->update(snapshot ? snapshot->usage : std::nullopt);
    m_footer->update(DashboardRules::footer(snapshot ? std::optional(snapshot->fetchedAt) : std::nullopt,
                         m_store.credential().has_value(), m_store.nextRefreshAt(), m_store.isRefreshing(), now),
        m_store.isRefreshing());
}

void DashboardModel::setReduceMotion(bool reduce)
{
    if (reduce == m_reduceMotion)
        return;
    m_reduceMotion = reduce;
    emit reduceMotionChanged();
}

void DashboardModel::refresh()
{
    if (!m_store.isRefreshing())
        call(m_actions.refresh);
}

void DashboardModel::openSettings()
{
    call(m_actions.openSettings);
}

void DashboardModel::openConsole()
{
    call(m_actions.openConsole);
}

void DashboardModel::quit()
{
    call(m_actions.quit);
}

void DashboardModel::resize(double width, double height)
{
    const QSizeF size(width, height);
    if (size == m_reportedSize || !m_actions.resize)
        return;
    m_reportedSize = size;
    m_actions.resize(size);
}
