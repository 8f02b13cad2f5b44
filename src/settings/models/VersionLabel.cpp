#include "VersionLabel.h"

namespace VersionLabel {

QString text(const QString& version, const QString& build)
{
    if (version.isEmpty())
        return QStringLiteral("dev");
    return build.isEmpty() ? version : QStringLiteral("%1 (%2)").arg(version, build);
}

QString current()
{
    // Set for this one file by CMake from the build's version and number.
    return text(QStringLiteral(VELMO_SETTINGS_VERSION), QStringLiteral(VELMO_SETTINGS_BUILD));
}

} // namespace VersionLabel
