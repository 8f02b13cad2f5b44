#include "FooterModel.h"

#include "Assign.h"

void FooterModel::update(const DashboardRules::Footer& footer, bool refreshing)
{
    if (assign(m_updated, footer.updated))
        emit updatedChanged();
    if (assign(m_next, footer.next.value_or(QString())))
        emit nextChanged();
    if (assign(m_refreshing, refreshing))
        emit refreshingChanged();
}
