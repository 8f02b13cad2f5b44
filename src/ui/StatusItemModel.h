#pragma once

#include "Balance.h"
#include "Timestamp.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What the tray item shows, decided without any toolkit so that the tray and
// a headless front end (a waybar module) show the same thing. The inputs
// mirror the settings' menu-bar style and the usage store's status; the
// caller maps those onto the small types below.

// Whether the item carries the account balance next to the mark.
enum class ItemStyle { iconOnly, account };

// The one status every view shows, in the usage store's order of cases.
struct ItemStatus {
    enum class Kind { credentialRejected, error, noCredential, credentialExpired, ok };

    Kind kind = Kind::ok;
    std::string message; // for credentialRejected and error only

    friend bool operator==(const ItemStatus&, const ItemStatus&) = default;
};

struct ItemInputs {
    ItemStyle style = ItemStyle::account;
    std::optional<Balance> balance; // the snapshot's balance
    ItemStatus status;
    bool stale = false; // the snapshot is older than StatusItemModel::staleAge
    std::optional<Timestamp> fetchedAt; // the snapshot's time; none without a snapshot
    Timestamp now;
    // No data yet and the first refresh has not ended.
    bool loading = false;
    // The noCredential line: the tray points at its settings window, a
    // terminal at the command that signs in.
    std::string signedOutLine { "Not signed in \u2014 open Settings" };
    // Why the credential is not what the user may expect (the app's session
    // store could not be read), as an extra tooltip line.
    std::optional<std::string> note;
};

// Which of the platform's text colours the title takes.
enum class ItemColorRole { label, red, orange };

struct ItemAppearance {
    // Empty, or a leading space then the badge and the compact balance joined
    // by a space: " ?", " $12.5K", " ⚠︎ $12.5K".
    std::string title;
    ItemColorRole colorRole = ItemColorRole::label;
    std::optional<std::string> badge;
    std::vector<std::string> tooltipLines;

    // The lines joined with "\n".
    std::string tooltip() const;

    friend bool operator==(const ItemAppearance&, const ItemAppearance&) = default;
};

namespace StatusItemModel {

// A snapshot older than this (strictly) is stale; the store is asked with it.
inline constexpr std::chrono::seconds staleAge { 1800 };
// The item is rendered again this often so that the age in the tooltip and
// the staleness badge keep up between store changes.
inline constexpr std::chrono::seconds rerenderInterval { 60 };

inline constexpr std::string_view signedOutBadge = "?";
// U+26A0 with the text-presentation selector U+FE0E: a monochrome glyph, not
// an emoji.
inline constexpr std::string_view warningBadge = "\u26A0\uFE0E";
inline constexpr std::string_view appName = "Velmo Usage";

ItemAppearance render(const ItemInputs& inputs);

// Red when the account balance is zero or below, orange when the available
// balance is under Balance::lowBalanceThreshold, else the label colour;
// whatever the style.
ItemColorRole colorRole(const ItemInputs& inputs);

// "?" when signed out, none when all is well and fresh, else the warning sign.
std::optional<std::string> badge(const ItemInputs& inputs);

// "Velmo Usage"; the balances; "Updated 3m ago"; the status's own line.
std::vector<std::string> tooltipLines(const ItemInputs& inputs);

// CSS classes for a waybar module: one of "ok" ("loading" while loading),
// "error", "auth" (rejected or expired credential), "signed-out"; then "stale" when stale; then "empty"
// (account balance at or below zero) or else "low" (available balance under
// the threshold).
std::vector<std::string> waybarClasses(const ItemInputs& inputs);

} // namespace StatusItemModel
