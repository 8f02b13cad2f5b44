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

// The store's state as of store.now(): balance, status, staleness, fetch time.
ItemInputs inputs(const UsageStore& store, ItemStyle style);

// One line of waybar's custom-module JSON (return-type json), without the
// line break: {"text","tooltip","class","alt"}. The text is the item title of
// the "Account balance" style whatever `inputs.style` says, without the
// leading space that keeps the tray's title clear of the mark: "$42.75",
// "⚠︎ $42.75", "?". Text that is not valid UTF-8 is replaced, never thrown on.
std::string waybarJSON(const ItemInputs& inputs);

// The tooltip lines, each followed by a line break ("--once --text"); control
// characters inside a line become spaces.
std::string tooltipText(const ItemInputs& inputs);

} // namespace HeadlessItem
