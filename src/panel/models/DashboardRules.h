#pragma once

#include "ColorRole.h"
#include "Snapshot.h"
#include "Timestamp.h"
#include "UsageStore.h"

#include <QString>

#include <optional>
#include <string>

// What the dashboard shows around the data: the header's status badge, which
// content (an empty state or the data column with its loading or error line)
// and the footer's two lines. Plain functions of the store's values.
namespace DashboardRules {

// A snapshot older than this (strictly) is stale.
inline constexpr std::chrono::seconds staleAge { 1800 };

struct Badge {
    QString text;
    ColorRole color = ColorRole::secondary;
    friend bool operator==(const Badge&, const Badge&) = default;
};

// "Auth" red, "Error" orange, "Setup" secondary, "Outdated" orange, "Live" green.
Badge badge(const UsageStore::Status& status, bool stale);

enum class ContentKind { notSignedIn, sessionExpired, credentialRejected, data };

struct EmptyState {
    QString icon; // a symbol name
    QString title;
    QString detail; // spans in backquotes are inline code when detailHasCode
    QString buttonTitle;
    bool detailHasCode = false;
    friend bool operator==(const EmptyState&, const EmptyState&) = default;
};

struct Content {
    ContentKind kind = ContentKind::data;
    EmptyState empty; // for the three empty kinds only
    bool showBalance = false;
    bool showUsage = false;
    // Without any snapshot: the loading row's text ("Loading…" or the error).
    std::optional<QString> loadingText;
    // With a snapshot on screen: the last error beneath it.
    std::optional<QString> errorLine;
    friend bool operator==(const Content&, const Content&) = default;
};

// An empty state for a missing, expired or (without data) rejected
// credential; otherwise the data column.
Content content(const UsageStore::Status& status, const std::optional<Snapshot>& snapshot,
    const std::optional<std::string>& lastError);

struct Footer {
    QString updated; // "Updated 3m ago" or "Not updated yet"
    // "Refreshing…" or "Next in 12m"; only with a credential and a schedule.
    std::optional<QString> next;
    friend bool operator==(const Footer&, const Footer&) = default;
};

Footer footer(std::optional<Timestamp> fetchedAt, bool hasCredential, std::optional<Timestamp> nextRefreshAt,
    bool refreshing, Timestamp now);

} // namespace DashboardRules
