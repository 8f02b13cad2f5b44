#include "DashboardRules.h"

#include "Formatters.h"

#include <QCoreApplication>

namespace DashboardRules {

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("Dashboard", text);
}

} // namespace

Badge badge(const UsageStore::Status& status, bool stale)
{
    using Kind = UsageStore::Status::Kind;
    switch (status.kind()) {
    case Kind::credentialRejected:
    case Kind::credentialExpired:
        return { tr("Auth"), ColorRole::red };
    case Kind::error:
        return { tr("Error"), ColorRole::orange };
    case Kind::noCredential:
        return { tr("Setup"), ColorRole::secondary };
    case Kind::ok:
        break;
    }
    return stale ? Badge { tr("Outdated"), ColorRole::orange } : Badge { tr("Live"), ColorRole::green };
}

Content content(const UsageStore::Status& status, const std::optional<Snapshot>& snapshot,
    const std::optional<std::string>& lastError)
{
    using Kind = UsageStore::Status::Kind;
    const QString openSettings = tr("Open Settings");
    switch (status.kind()) {
    case Kind::noCredential:
        return { .kind = ContentKind::notSignedIn,
            .empty = { QStringLiteral("person.crop.circle.badge.questionmark"), tr("Not signed in"),
                tr("Sign in with your browser in Settings, or run `velmo login` in the CLI."), openSettings, true } };
    case Kind::credentialExpired:
        return { .kind = ContentKind::sessionExpired,
            .empty = { QStringLiteral("clock.badge.exclamationmark"), tr("Session expired"),
                tr("Sign in again in Settings, or run `velmo login`."), openSettings, true } };
    case Kind::credentialRejected:
        if (!snapshot)
            return { .kind = ContentKind::credentialRejected,
                .empty = { QStringLiteral("key.slash"), tr("Credential rejected"),
                    QString::fromStdString(status.message()), openSettings } };
        break;
    case Kind::error:
    case Kind::ok:
        break;
    }
    Content data { .kind = ContentKind::data };
    const std::optional<QString> error
        = lastError ? std::optional(QString::fromStdString(*lastError)) : std::nullopt;
    if (!snapshot) {
        data.loadingText = error.value_or(tr("Loading…"));
        return data;
    }
    data.showBalance = snapshot->balance.has_value();
    data.showUsage = snapshot->usage.has_value();
    data.errorLine = error;
    return data;
}

Footer footer(std::optional<Timestamp> fetchedAt, bool hasCredential, std::optional<Timestamp> nextRefreshAt,
    bool refreshing, Timestamp now)
{
    Footer lines;
    lines.updated = fetchedAt
        ? tr("Updated %1").arg(QString::fromStdString(Formatters::relativePast(*fetchedAt, now)))
        : tr("Not updated yet");
    if (nextRefreshAt && hasCredential) {
        lines.next = refreshing
            ? tr("Refreshing…")
            : tr("Next in %1").arg(QString::fromStdString(Formatters::countdown(*nextRefreshAt, now)));
    }
    return lines;
}

} // namespace DashboardRules
