#include "AppInfo.h"

QString AppInfo::versionLabel() const
{
    if (version.isEmpty())
        return QStringLiteral("dev");
    return build.isEmpty() ? version : QStringLiteral("%1 (%2)").arg(version, build);
}

const AppInfo& AppInfo::current()
{
    static const AppInfo info {
        .version = QStringLiteral(VELMO_APPINFO_VERSION),
        .build = QStringLiteral(VELMO_APPINFO_BUILD),
        .feedURL = QStringLiteral(VELMO_APPINFO_FEED_URL),
        .feedPublicKey = QStringLiteral(VELMO_APPINFO_FEED_PUBLIC_KEY),
        .updatesEnabled = VELMO_APPINFO_UPDATES != 0,
    };
    return info;
}
