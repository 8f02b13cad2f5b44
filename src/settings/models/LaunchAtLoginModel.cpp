#include "LaunchAtLoginModel.h"

#include "Assign.h"
#include "SettingsRules.h"

LaunchAtLoginModel::LaunchAtLoginModel(LaunchAtLogin launch, QObject* parent)
    : QObject(parent)
    , m_launch(std::move(launch))
    , m_available(m_launch.isAvailable())
    , m_note(SettingsRules::launchNote(m_available))
    , m_enabled(m_launch.isEnabled())
{
}

void LaunchAtLoginModel::setEnabled(bool on)
{
    if (!m_available)
        return;
    QString error;
    try {
        m_launch.setEnabled(on);
    } catch (const LaunchAtLogin::Error& failure) {
        error = QString::fromStdString(failure.what());
        on = m_launch.isEnabled();
    }
    if (assign(m_enabled, on))
        emit enabledChanged();
    if (assign(m_error, error))
        emit errorChanged();
}
