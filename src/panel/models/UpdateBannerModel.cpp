#include "UpdateBannerModel.h"

#include "Assign.h"
#include "UpdaterController.h"

UpdateBannerModel::UpdateBannerModel(UpdaterController* updater, QObject* parent)
    : QObject(parent)
    , m_updater(updater)
{
    if (m_updater) {
        connect(m_updater, &UpdaterController::availableUpdateVersionChanged, this, &UpdateBannerModel::update);
        update();
    }
}

void UpdateBannerModel::update()
{
    const QString version = m_updater ? m_updater->availableUpdateVersion() : QString();
    if (!version.isEmpty() && assign(m_versionLine, tr("Velmo Usage %1").arg(version)))
        emit versionLineChanged();
    if (assign(m_shown, !version.isEmpty()))
        emit shownChanged();
}

void UpdateBannerModel::install()
{
    if (m_updater)
        m_updater->installAvailableUpdate();
}

void UpdateBannerModel::dismiss()
{
    if (m_updater)
        m_updater->dismissAvailableUpdate();
}
