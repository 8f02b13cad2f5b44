#pragma once

#include <QString>

// Facts about this build, fixed when it was configured (the VELMO_* CMake
// cache variables): the version shown to users, the build number, and the
// update feed with the key that signs its downloads.
struct AppInfo {
    QString version; // "1.4.2"; empty in builds configured without one
    QString build; // "34"; usually empty
    QString feedURL; // the appcast; empty leaves updates off
    QString feedPublicKey; // base64 of the raw 32-byte Ed25519 public key
    bool updatesEnabled = true; // false in distribution packages, for good

    // "1.4.2 (34)", "1.4.2" without a build, "dev" without a version.
    QString versionLabel() const;
    // What an update feed's version is compared with: the build number when
    // there is one (as appcasts written for bundles compare with the bundle
    // version), else the version.
    QString comparableVersion() const { return build.isEmpty() ? version : build; }

    // This build's values.
    static const AppInfo& current();
};
