#include "UpdaterController.h"

#include "Log.h"

#include <QSettings>

namespace {
const QString automaticKey = QStringLiteral("automaticallyChecksForUpdates");
}

UpdaterController::UpdaterController(QSettings* defaults, QObject* parent)
    : QObject(parent)
    , m_defaults(defaults)
{
    // Absent or not a boolean means on.
    const QVariant stored = m_defaults ? m_defaults->value(automaticKey) : QVariant();
    if (stored.typeId() == QMetaType::Bool)
        m_automaticallyChecks = stored.toBool();
    else if (stored.typeId() == QMetaType::QString && stored.toString() == QLatin1String("false"))
        m_automaticallyChecks = false;
}

void UpdaterController::setAutomaticallyChecksForUpdates(bool enabled)
{
    if (m_defaults) {
        m_defaults->setValue(automaticKey, enabled);
        m_defaults->sync();
    }
    if (std::exchange(m_automaticallyChecks, enabled) != enabled)
        emit automaticallyChecksForUpdatesChanged();
}

void UpdaterController::start()
{
    if (std::exchange(m_started, true))
        return;
    qCInfo(Log::updates, "updater disabled: no SUFeedURL/SUPublicEDKey (unbundled or dev build)");
}

void UpdaterController::stop()
{
}

void UpdaterController::setAvailableUpdateVersion(const QString& version)
{
    if (m_availableUpdateVersion == version)
        return;
    m_availableUpdateVersion = version;
    emit availableUpdateVersionChanged();
}

void UpdaterController::checkForUpdates()
{
    if (!m_isActive)
        return;
}

void UpdaterController::installAvailableUpdate()
{
    checkForUpdates();
}

void UpdaterController::dismissAvailableUpdate()
{
    setAvailableUpdateVersion(QString());
}
