#include "UpdatesModel.h"

#include "Assign.h"
#include "UpdaterController.h"

UpdatesModel::UpdatesModel(UpdaterController& updater, QObject* parent)
    : QObject(parent)
    , m_updater(updater)
{
}

void UpdatesModel::update()
{
    update(m_updater.isActive(), m_updater.automaticallyChecksForUpdates(), m_updater.canCheckForUpdates());
}

void UpdatesModel::update(bool active, bool automaticallyChecks, bool canCheck)
{
    if (assign(m_shown, active))
        emit shownChanged();
    if (assign(m_automaticallyChecks, automaticallyChecks))
        emit automaticallyChecksChanged();
    if (assign(m_canCheck, canCheck))
        emit canCheckChanged();
}

void UpdatesModel::setAutomaticallyChecks(bool on)
{
    m_updater.setAutomaticallyChecksForUpdates(on);
}

void UpdatesModel::check()
{
    if (m_canCheck)
        m_updater.checkForUpdates();
}
