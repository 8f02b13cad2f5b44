#include "StatusBadgeModel.h"

#include "Assign.h"
#include "PanelTheme.h"

void StatusBadgeModel::update(const DashboardRules::Badge& badge, const PanelTheme& theme)
{
    if (assign(m_text, badge.text))
        emit textChanged();
    if (assign(m_color, theme.color(badge.color)))
        emit colorChanged();
}
