#pragma once

#include <QKeySequence>
#include <QString>

#include <vector>

// The tray item's context menu, the same for every tray backend (our own
// StatusNotifierItem's dbusmenu, a QSystemTrayIcon's QMenu, the menu shown on
// ContextMenu(x, y)). Built afresh each time it is shown, so "Check for
// Updates…" follows the updater.
namespace TrayMenu {

enum class Action { refresh, openConsole, checkForUpdates, settings, quit };

struct Item {
    bool separator = false;
    Action action = Action::refresh; // unused for a separator
    QString label;
    QKeySequence key; // empty when the item has none
};

// "Refresh Now" (Ctrl+R), "Open Console…", "Check for Updates…" (only while
// the updater is active), separator, "Settings…" (Ctrl+,), separator,
// "Quit Velmo Usage" (Ctrl+Q).
std::vector<Item> items(bool updaterActive);

} // namespace TrayMenu
