#pragma once

#include "SettingsStore.h"
#include "StatusItemModel.h"
#include "UsageStore.h"

#include <string>
#include <string_view>

// What the headless front end shows, derived from the usage store the same
// way the tray item is: the store's status and the settings' style mapped onto
// StatusItemModel's inputs in one place, and the waybar module's JSON line.
namespace HeadlessItem {

ItemStatus itemStatus(const UsageStore::Status& status);
ItemStyle itemStyle(SettingsStore::MenuBarStyle style);

// The case's own name, as waybar's "alt" (and so `format-icons`) sees it:
// "ok", "error", "credentialRejected", "noCredential", "credentialExpired".
std::string_view statusName(ItemStatus::Kind kind);

// The noCredential line of a terminal or status bar, where no settings window exists.
inline constexpr char signInHint[] = "Not signed in \u2014 run velmo-usage --sign-in (or velmo login)";

// The store's state as of store.now(): balance, status, staleness, fetch
// time, loading until the first refresh ends. The tray's item: its sign-in
// line points at the settings window.
ItemInputs inputs(const UsageStore& store, ItemStyle style);
// inputs() and explainCredential(), for terminals and status bars.
ItemInputs terminalInputs(const UsageStore& store, ItemStyle style);

// The sign-in line: signInHint, or "API key — run `velmo login`" when the
// velmo CLI holds a static API key; a note when the app's session store
// cannot be read (the CLI's session is then used if it is valid).
void explainCredential(const CredentialResolver& resolver, ItemInputs& inputs);

// One line of waybar's custom-module JSON (return-type json), without the
// line break: {"text","tooltip","class","alt"}. The text is the item title of
// the "Account balance" style whatever `inputs.style` says, without the
// leading space that keeps the tray's title clear of the mark: "$42.75",
// "⚠︎ $42.75", "?", "…" while loading. Both are Pango-markup escaped and
// cleaned of control characters and invalid UTF-8.
std::string waybarJSON(const ItemInputs& inputs);

// The tooltip lines, each followed by a line break ("--once --text"); control
// characters inside a line are removed.
std::string tooltipText(const ItemInputs& inputs);

} // namespace HeadlessItem
