#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>

#include <optional>

// One release offered by an update feed, for this platform.
struct AppcastItem {
    QString version; // compared with the running build's
    QString displayVersion; // shown to the user
    QString title;
    QString releaseNotes; // plain text, never rendered as HTML
    QUrl releaseNotesLink; // http(s) only; opened in the browser
    QUrl link; // the download page, http(s) only
    QUrl enclosureURL;
    qint64 enclosureLength = 0; // 0 when the feed gives none
    QByteArray edSignature; // base64, as the feed gives it; empty when absent

    bool operator==(const AppcastItem&) const = default;
};

// An RSS 2.0 update feed in the widely used appcast format (the "sparkle"
// XML namespace). Items apply to us when their enclosure says
// sparkle:os="linux" or names no system at all, and they are on the default
// channel (no sparkle:channel).
namespace Appcast {

inline constexpr char sparkleNamespace[] = "http://www.andymatuschak.org/xml-namespaces/sparkle";
// Feeds beyond this are refused unread.
inline constexpr qint64 maxFeedBytes = qint64(4) << 20;

// The applicable items in feed order. Throws UpdateError for a feed that is
// not well-formed XML, not RSS, or declares a document type (so no entity
// is ever expanded or fetched).
QList<AppcastItem> parse(const QByteArray& feed);

// The newest item newer than `runningVersion` whose version is not
// `skippedVersion` (pass an empty one to ignore skipping).
std::optional<AppcastItem> newestUpdate(
    const QList<AppcastItem>& items, const QString& runningVersion, const QString& skippedVersion);

} // namespace Appcast
