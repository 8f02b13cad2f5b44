#pragma once

#include "DBusTypes.h"
#include "StatusItemModel.h"
#include "TrayMenu.h"

#include <QColor>
#include <QDBusConnection>
#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QTimer>

#include <memory>
#include <optional>

class AppContainer;
class DBusMenuExporter;
class PanelWindow;
class QDBusServiceWatcher;
class QMenu;
class QSystemTrayIcon;
class SettingsWindow;
class StatusNotifierItem;

// The tray item and what hangs off it: the panel, the context menu and the
// settings window. It renders the item from the stores on every change and
// once a minute, through one of three backends: our own StatusNotifierItem
// while a StatusNotifierWatcher is on the session bus, a QSystemTrayIcon
// (XEmbed) when not, and, on a desktop with neither, the panel as an
// ordinary window. It follows the watcher coming and going.
class StatusItemController : public QObject {
    Q_OBJECT
public:
    enum class Backend { statusNotifier, systemTray, none };

    struct Options {
        QDBusConnection bus = QDBusConnection::sessionBus();
        bool reduceMotion = false;
    };

    StatusItemController(AppContainer& container, Options options, QObject* parent = nullptr);
    ~StatusItemController() override;

    Backend backend() const { return m_backend; }
    // What the item shows now.
    const ItemAppearance& appearance() const { return m_appearance; }
    PanelWindow& panel() const { return *m_panel; }
    StatusNotifierItem* statusNotifierItem() const { return m_sni.get(); }
    QSystemTrayIcon* systemTrayIcon() const { return m_trayIcon.get(); }
    // Created on the first showSettings().
    SettingsWindow* settingsWindow() const { return m_settings.get(); }

    // Recomputes the item from the stores and pushes it to the backend.
    void render();
    // A click on the item at `item` (screen coordinates; none when unknown).
    void activate(std::optional<QRect> item);
    // Opens the panel (a notification was clicked): under the XEmbed icon
    // where its place is known, else at the pointer.
    void showPanel();
    // Hides the panel, then brings the settings window to the front.
    void showSettings();
    void trigger(TrayMenu::Action action);

signals:
    // "Quit Velmo Usage" from the menu or the panel, or the no-tray window closed.
    void quitRequested();

private:
    void chooseBackend();
    void useStatusNotifier();
    void useSystemTray();
    void scheduleRender();
    void fillMenu(QMenu& menu);
    void popUpMenu(QPoint at);
    // Whether the tray the icon sits on is dark, so the mark is drawn light.
    bool darkTray() const;

    AppContainer& m_container;
    Options m_options;
    Backend m_backend = Backend::none;
    ItemAppearance m_appearance;
    std::unique_ptr<PanelWindow> m_panel;
    std::unique_ptr<SettingsWindow> m_settings;
    std::unique_ptr<DBusMenuExporter> m_menuExporter;
    std::unique_ptr<StatusNotifierItem> m_sni;
    std::unique_ptr<QMenu> m_trayMenu;
    std::unique_ptr<QSystemTrayIcon> m_trayIcon;
    std::unique_ptr<QMenu> m_popupMenu;
    QDBusServiceWatcher* m_watcher = nullptr;
    QTimer m_ticker;
    // The icon drawn for m_iconColor, for both kinds of tray.
    QColor m_iconColor;
    SNIPixmapList m_sniIcon;
    QIcon m_trayIconImage;
    bool m_renderScheduled = false;
    bool m_chosenOnce = false;
};
