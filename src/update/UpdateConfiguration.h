#pragma once

#include <QString>

// Where this build looks for updates and what it is, as the updater needs
// it. Builds configured without a feed read VELMO_FEED_URL and
// VELMO_FEED_PUBLIC_KEY from the environment instead (development and the
// demo); a build with a feed compiled in never does.
struct UpdateConfiguration {
    QString feedURL;
    QString publicKey; // base64 of the raw 32-byte Ed25519 key
    bool updatesEnabled = true; // false for good in distribution packages
    QString runningVersion; // what feed versions are compared with
    QString displayVersion; // what the user is told they have
    QString appImagePath; // $APPIMAGE: the file an update replaces; empty otherwise

    // A feed and a key are given, and the key is not a placeholder
    // ("REPLACE…") left in an unconfigured build.
    bool isUsable() const;

    static UpdateConfiguration fromBuild();
};
