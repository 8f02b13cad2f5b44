#include "Appcast.h"

#include "SafeText.h"
#include "UpdateError.h"
#include "VersionComparator.h"

#include <QXmlStreamReader>

namespace {

const QString sparkle = QString::fromLatin1(Appcast::sparkleNamespace);

// Links we hand to the browser: web pages only, never file: or script URLs.
QUrl webLink(const QString& text)
{
    const QUrl url(text.trimmed(), QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == u"https" || scheme == u"http") && !url.host().isEmpty() ? url : QUrl();
}

QString singleLine(const QString& text)
{
    return SafeText::clean(text.trimmed());
}

struct Enclosure {
    QString version;
    QString shortVersion;
    QUrl url;
    qint64 length = 0;
    QByteArray signature;
};

// An enclosure for this system: sparkle:os "linux" or none at all.
std::optional<Enclosure> readEnclosure(const QXmlStreamAttributes& attributes)
{
    const QStringView os = attributes.value(sparkle, QStringLiteral("os"));
    if (!os.isEmpty() && os.trimmed().compare(u"linux", Qt::CaseInsensitive) != 0)
        return std::nullopt;
    Enclosure enclosure;
    enclosure.version = singleLine(attributes.value(sparkle, QStringLiteral("version")).toString());
    enclosure.shortVersion
        = singleLine(attributes.value(sparkle, QStringLiteral("shortVersionString")).toString());
    enclosure.url = QUrl(attributes.value(QStringLiteral("url")).toString().trimmed(), QUrl::StrictMode);
    bool numeric = false;
    const qint64 length = attributes.value(QStringLiteral("length")).trimmed().toLongLong(&numeric);
    // A length the feed gets wrong is caught when the download does not match it.
    enclosure.length = numeric && length > 0 ? length : 0;
    enclosure.signature = attributes.value(sparkle, QStringLiteral("edSignature")).trimmed().toLatin1();
    return enclosure;
}

// Reads one <item>; nothing when it offers nothing for this system.
std::optional<AppcastItem> readItem(QXmlStreamReader& reader)
{
    AppcastItem item;
    std::optional<Enclosure> enclosure;
    QString version;
    QString shortVersion;
    bool otherChannel = false;
    while (reader.readNextStartElement()) {
        const QStringView ns = reader.namespaceUri();
        const QStringView name = reader.name();
        if (ns.isEmpty() && name == u"enclosure") {
            if (!enclosure)
                enclosure = readEnclosure(reader.attributes());
            reader.skipCurrentElement();
        } else if (ns.isEmpty() && name == u"title") {
            item.title = singleLine(reader.readElementText(QXmlStreamReader::IncludeChildElements));
        } else if (ns.isEmpty() && name == u"link") {
            item.link = webLink(reader.readElementText(QXmlStreamReader::IncludeChildElements));
        } else if (ns.isEmpty() && name == u"description") {
            item.releaseNotes
                = SafeText::clean(reader.readElementText(QXmlStreamReader::IncludeChildElements).trimmed(),
                    SafeText::Lines::multi);
        } else if (ns == sparkle && name == u"version") {
            version = singleLine(reader.readElementText(QXmlStreamReader::IncludeChildElements));
        } else if (ns == sparkle && name == u"shortVersionString") {
            shortVersion = singleLine(reader.readElementText(QXmlStreamReader::IncludeChildElements));
        } else if (ns == sparkle && name == u"channel") {
            // A named channel (beta, …) is for builds that opt in; we follow the default one.
            otherChannel
                = !reader.readElementText(QXmlStreamReader::IncludeChildElements).trimmed().isEmpty();
        } else if (ns == sparkle && name == u"releaseNotesLink") {
            if (item.releaseNotesLink.isEmpty())
                item.releaseNotesLink
                    = webLink(reader.readElementText(QXmlStreamReader::IncludeChildElements));
            else
                reader.skipCurrentElement();
        } else {
            // pubDate, sparkle:minimumSystemVersion, deltas and the rest.
            reader.skipCurrentElement();
        }
    }
    if (!enclosure || enclosure->url.isEmpty() || otherChannel)
        return std::nullopt;
    item.version = enclosure->version.isEmpty() ? version : enclosure->version;
    if (item.version.isEmpty())
        return std::nullopt;
    item.displayVersion = !enclosure->shortVersion.isEmpty() ? enclosure->shortVersion
        : !shortVersion.isEmpty()                            ? shortVersion
                                                             : item.version;
    item.enclosureURL = enclosure->url;
    item.enclosureLength = enclosure->length;
    item.edSignature = enclosure->signature;
    return item;
}

[[noreturn]] void fail(const QXmlStreamReader& reader, const QString& what)
{
    throw UpdateError(QStringLiteral("The update feed is not valid: %1 (line %2)")
                          .arg(SafeText::clean(what))
                          .arg(reader.lineNumber()));
}

} // namespace

QList<AppcastItem> Appcast::parse(const QByteArray& feed)
{
    if (feed.size() > maxFeedBytes)
        throw UpdateError(QStringLiteral("The update feed is larger than %1 MiB.").arg(maxFeedBytes >> 20));
    QXmlStreamReader reader(feed);
    // Document types are refused outright below; this bounds what a
    // parameter entity inside one could expand to before we see it.
    reader.setEntityExpansionLimit(1024);
    QList<AppcastItem> items;
    bool sawRoot = false;
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::DTD:
            fail(reader, QStringLiteral("document type declarations are not allowed"));
        case QXmlStreamReader::EntityReference:
            fail(reader, QStringLiteral("entity references are not allowed"));
        case QXmlStreamReader::StartElement:
            if (!sawRoot) {
                if (reader.name() != u"rss" || !reader.namespaceUri().isEmpty())
                    fail(reader, QStringLiteral("the document is not an RSS feed"));
                sawRoot = true;
            } else if (reader.name() == u"item" && reader.namespaceUri().isEmpty()) {
                if (auto item = readItem(reader))
                    items.append(std::move(*item));
            }
            break;
        default:
            break;
        }
    }
    if (reader.hasError())
        fail(reader, reader.errorString());
    return items;
}

std::optional<AppcastItem> Appcast::newestUpdate(
    const QList<AppcastItem>& items, const QString& runningVersion, const QString& skippedVersion)
{
    const AppcastItem* newest = nullptr;
    for (const AppcastItem& item : items) {
        if (!newest || VersionComparator::compare(item.version, newest->version) > 0)
            newest = &item;
    }
    if (!newest || VersionComparator::compare(newest->version, runningVersion) <= 0)
        return std::nullopt;
    // A skipped version stays skipped, and so does anything older than it.
    if (!skippedVersion.isEmpty() && VersionComparator::compare(newest->version, skippedVersion) <= 0)
        return std::nullopt;
    return *newest;
}
