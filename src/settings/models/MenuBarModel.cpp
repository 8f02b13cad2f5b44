#include "MenuBarModel.h"

#include "AppContainer.h"
#include "Assign.h"
#include "SettingsRules.h"

#include <algorithm>

MenuBarModel::MenuBarModel(AppContainer& container, QObject* parent)
    : QObject(parent)
    , m_container(container)
{
}

QStringList MenuBarModel::styles() const
{
    QStringList labels;
    for (const auto style : SettingsStore::allMenuBarStyles())
        labels.append(SettingsStore::label(style));
    return labels;
}

void MenuBarModel::update()
{
    const auto all = SettingsStore::allMenuBarStyles();
    const auto chosen = std::find(all.begin(), all.end(), m_container.settings().menuBarStyle());
    if (assign(m_styleIndex, static_cast<int>(chosen - all.begin())))
        emit styleIndexChanged();
    const UsageStore& store = m_container.store();
    const auto& snapshot = store.snapshot();
    if (assign(m_lastUpdate, SettingsRules::lastUpdate(snapshot ? std::optional(snapshot->fetchedAt) : std::nullopt)))
        emit lastUpdateChanged();
    if (assign(m_refreshing, store.isRefreshing()))
        emit refreshingChanged();
    if (assign(m_canRefresh, store.credential().has_value()))
        emit canRefreshChanged();
}

void MenuBarModel::select(int index)
{
    const auto all = SettingsStore::allMenuBarStyles();
    if (index >= 0 && index < static_cast<int>(all.size()))
        m_container.settings().setMenuBarStyle(all[static_cast<std::size_t>(index)]);
}

void MenuBarModel::refresh()
{
    if (m_canRefresh && !m_refreshing)
        m_container.refreshNow();
}
