#include "UpdateConfiguration.h"

#include "AppInfo.h"

bool UpdateConfiguration::isUsable() const
{
    return updatesEnabled && !feedURL.isEmpty() && !publicKey.isEmpty()
        && !publicKey.startsWith(QLatin1String("REPLACE"));
}

UpdateConfiguration UpdateConfiguration::fromBuild()
{
    const AppInfo& info = AppInfo::current();
    UpdateConfiguration configuration {
        .feedURL = info.feedURL,
        .publicKey = info.feedPublicKey,
        .updatesEnabled = info.updatesEnabled,
        .runningVersion = info.comparableVersion(),
        .displayVersion = info.version.isEmpty() ? info.versionLabel() : info.version,
        .appImagePath = qEnvironmentVariable("APPIMAGE"),
    };
    if (configuration.updatesEnabled && configuration.feedURL.isEmpty()) {
        configuration.feedURL = qEnvironmentVariable("VELMO_FEED_URL");
        configuration.publicKey = qEnvironmentVariable("VELMO_FEED_PUBLIC_KEY");
    }
    return configuration;
}
