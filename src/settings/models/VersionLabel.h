#pragma once

#include <QString>

// The version shown in the About section.
namespace VersionLabel {

// "dev" without a version; the version, then " (" + build + ")" when there
// is a build.
QString text(const QString& version, const QString& build);

// This build's label.
QString current();

} // namespace VersionLabel
