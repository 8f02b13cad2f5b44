#include "AdvancedModel.h"

#include "AppContainer.h"
#include "Assign.h"
#include "SettingsRules.h"

AdvancedModel::AdvancedModel(AppContainer& container, QObject* parent)
    : QObject(parent)
    , m_container(container)
{
}

void AdvancedModel::setDraft(const QString& draft)
{
    if (assign(m_draft, draft))
        emit draftChanged();
    update();
}

QString AdvancedModel::placeholder() const
{
    return VelmoClient::productionBaseURL().toString();
}

void AdvancedModel::update()
{
    if (assign(m_canApply, SettingsRules::canApply(m_draft, m_container.settings().baseURLOverride())))
        emit canApplyChanged();
}

void AdvancedModel::reload()
{
    setDraft(m_container.settings().baseURLOverride());
}

void AdvancedModel::apply()
{
    m_container.settings().setBaseURLOverride(m_draft);
    m_container.applyBaseURL();
    update();
}
