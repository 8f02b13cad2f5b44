#include "StatusItemController.h"

#include "AppContainer.h"
#include "DesktopAppearance.h"
#include "DBusMenuExporter.h"
#include "HeadlessItem.h"
#include "Log.h"
#include "PanelWindow.h"
#include "SettingsWindow.h"
#include "StatusNotifierItem.h"
#include "TrayIconImage.h"
#include "VelmoClient.h"

#include <QCursor>
#include <QDBusConnectionInterface>
#include <QDBusServiceWatcher>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QMenu>
#include <QScreen>
#include <QSystemTrayIcon>

namespace {

// SNI hosts ask for the icon at panel height; 22 and 44 pixels cover 1× and 2×.
constexpr int sniIconSizes[] = { 22, 44 };

QString joined(const std::vector<std::string>& lines, int from)
{
    QStringList out;
    for (size_t i = size_t(from); i < lines.size(); ++i)
        out << QString::fromStdString(lines[i]);
    return out.join(QLatin1Char('\n'));
}

} // namespace

StatusItemController::StatusItemController(AppContainer& container, Options options, QObject* parent)
    : QObject(parent)
    , m_container(container)
    , m_options(std::move(options))
{
    DashboardActions actions;
    actions.refresh = [this] { m_container.refreshNow(); };
    actions.openSettings = [this] { showSettings(); };
    actions.openConsole = [this] { trigger(TrayMenu::Action::openConsole); };
    actions.quit = [this] { emit quitRequested(); };
    m_panel = std::make_unique<PanelWindow>(
        container.store(), &container.updater(), std::move(actions), m_options.reduceMotion);
    connect(m_panel.get(), &PanelWindow::windowClosed, this, &StatusItemController::quitRequested);

    m_menuExporter = std::make_unique<DBusMenuExporter>(
        [this] { return TrayMenu::items(m_container.updater().isActive()); },
        [this](TrayMenu::Action action) { trigger(action); });

    UsageStore& store = container.store();
    for (auto signal : { &UsageStore::snapshotChanged, &UsageStore::credentialChanged, &UsageStore::lastErrorChanged,
             &UsageStore::credentialRejectedChanged, &UsageStore::nowChanged })
        connect(&store, signal, this, &StatusItemController::scheduleRender);
    connect(&container.settings(), &SettingsStore::menuBarStyleChanged, this,
        &StatusItemController::scheduleRender);
    connect(&container.updater(), &UpdaterController::isActiveChanged, m_menuExporter.get(),
        &DBusMenuExporter::layoutChanged);

    // The age in the tooltip and the staleness badge move on between changes.
    m_ticker.setInterval(StatusItemModel::rerenderInterval);
    m_ticker.setTimerType(Qt::VeryCoarseTimer);
    connect(&m_ticker, &QTimer::timeout, this, &StatusItemController::render);
    m_ticker.start();

    if (m_options.bus.isConnected()) {
        m_watcher = new QDBusServiceWatcher(QString::fromLatin1(StatusNotifierItem::watcherService), m_options.bus,
            QDBusServiceWatcher::WatchForOwnerChange, this);
        connect(m_watcher, &QDBusServiceWatcher::serviceOwnerChanged, this, [this] { chooseBackend(); });
    }
    render();
    chooseBackend();
}

StatusItemController::~StatusItemController() = default;

void StatusItemController::chooseBackend()
{
    const bool first = !m_chosenOnce;
    m_chosenOnce = true;
    QDBusConnectionInterface* bus = m_options.bus.isConnected() ? m_options.bus.interface() : nullptr;
    if (bus && bus->isServiceRegistered(QString::fromLatin1(StatusNotifierItem::watcherService))) {
        useStatusNotifier();
        return;
    }
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        useSystemTray();
        return;
    }
    // The item stays published while its host restarts (Plasma, GNOME
    // Shell): it registers again when the watcher is back.
    m_trayIcon.reset();
    if (!first && m_backend == Backend::none)
        return;
    m_backend = Backend::none;
    if (first) {
        qCInfo(Log::app, "no system tray on this desktop; showing the panel as a window");
        m_panel->showAsWindow();
    } else {
        qCInfo(Log::app, "the system tray went away; the item comes back with it");
    }
}

void StatusItemController::useStatusNotifier()
{
    m_trayIcon.reset();
    m_backend = Backend::statusNotifier;
    if (!m_sni) {
        auto onActivate = [this](int x, int y) {
            activate((x || y) ? std::optional<QRect>(QRect(x, y, 1, 1)) : std::nullopt);
        };
        auto onContextMenu = [this](int x, int y) { popUpMenu((x || y) ? QPoint(x, y) : QCursor::pos()); };
        m_sni = std::make_unique<StatusNotifierItem>(m_options.bus, m_menuExporter.get(), onActivate, onContextMenu);
        render();
    }
    // Also after the watcher restarted: it has forgotten us.
    m_sni->registerWithWatcher();
}

void StatusItemController::useSystemTray()
{
    m_sni.reset();
    m_backend = Backend::systemTray;
    if (m_trayIcon)
        return;
    m_trayMenu = std::make_unique<QMenu>();
    connect(m_trayMenu.get(), &QMenu::aboutToShow, this, [this] { fillMenu(*m_trayMenu); });
    fillMenu(*m_trayMenu);
    m_trayIcon = std::make_unique<QSystemTrayIcon>();
    m_trayIcon->setContextMenu(m_trayMenu.get());
    connect(m_trayIcon.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        // A quick second click arrives as a double click: it toggles too.
        if (reason != QSystemTrayIcon::Trigger && reason != QSystemTrayIcon::DoubleClick)
            return;
        const QRect geometry = m_trayIcon->geometry();
        activate(geometry.isValid() && !geometry.isEmpty() ? std::optional<QRect>(geometry) : std::nullopt);
    });
    render();
    m_trayIcon->show();
    // Once docked the tray's own colour can be read: draw for it.
    QTimer::singleShot(std::chrono::seconds(1), this, &StatusItemController::render);
}

bool StatusItemController::darkTray() const
{
    if (m_trayIcon) {
        // An XEmbed tray paints its background behind the icon; the icon's
        // corner (which the mark leaves clear) shows it.
        const QRect geometry = m_trayIcon->geometry();
        if (QScreen* screen = geometry.isValid() ? QGuiApplication::screenAt(geometry.center()) : nullptr) {
            const QImage corner = screen->grabWindow(0, geometry.x(), geometry.y(), 1, 1).toImage();
            if (!corner.isNull())
                return corner.pixelColor(0, 0).lightnessF() < 0.5;
        }
    }
    // GNOME Shell's top bar is dark in either scheme; other panels follow it.
    if (qEnvironmentVariable("XDG_CURRENT_DESKTOP").contains(QLatin1String("GNOME"), Qt::CaseInsensitive))
        return true;
    return DesktopAppearance::isDark(QGuiApplication::palette());
}

void StatusItemController::scheduleRender()
{
    if (m_renderScheduled)
        return;
    m_renderScheduled = true;
    // Several store signals of one refresh make one render.
    QTimer::singleShot(0, this, [this] {
        m_renderScheduled = false;
        render();
    });
}

void StatusItemController::render()
{
    const UsageStore& store = m_container.store();
    m_appearance = StatusItemModel::render(
        HeadlessItem::inputs(store, HeadlessItem::itemStyle(m_container.settings().menuBarStyle())));
    const QColor color = TrayIconImage::tint(m_appearance.colorRole, darkTray());
    const QString title = QString::fromStdString(m_appearance.title).trimmed();
    const auto& lines = m_appearance.tooltipLines;
    // The mark only changes with its colour: drawn then, not on every
    // minute's render.
    if (color != m_iconColor) {
        m_iconColor = color;
        m_sniIcon.clear();
        for (int size : sniIconSizes)
            m_sniIcon << SNIPixmap::fromImage(TrayIconImage::image(size, color));
        m_trayIconImage = TrayIconImage::icon(color);
    }
    if (m_sni) {
        m_sni->setIcon(m_sniIcon);
        m_sni->setToolTip(lines.empty() ? QString() : QString::fromStdString(lines.front()), joined(lines, 1));
        m_sni->setLabel(title, title);
    }
    if (m_trayIcon) {
        // XEmbed trays show no text: the title leads the tooltip.
        QString first = QString::fromStdString(std::string(StatusItemModel::appName));
        if (!title.isEmpty())
            first += QStringLiteral("  ") + title;
        const QString rest = joined(lines, 1);
        m_trayIcon->setIcon(m_trayIconImage);
        m_trayIcon->setToolTip(rest.isEmpty() ? first : first + QLatin1Char('\n') + rest);
    }
}

void StatusItemController::activate(std::optional<QRect> item)
{
    if (m_backend == Backend::none) {
        m_panel->showAsWindow();
        return;
    }
    m_panel->toggle(item, QCursor::pos());
}

void StatusItemController::showPanel()
{
    if (m_backend == Backend::none) {
        m_panel->showAsWindow();
        return;
    }
    std::optional<QRect> item;
    if (m_trayIcon && m_trayIcon->geometry().isValid())
        item = m_trayIcon->geometry();
    m_panel->show(item, QCursor::pos());
}

void StatusItemController::showSettings()
{
    m_panel->hide();
    if (!m_settings) {
        m_settings = std::make_unique<SettingsWindow>(m_container);
        connect(m_settings.get(), &SettingsWindow::quitRequested, this, &StatusItemController::quitRequested);
    }
    m_settings->show();
}

void StatusItemController::trigger(TrayMenu::Action action)
{
    switch (action) {
    case TrayMenu::Action::refresh:
        m_container.refreshNow();
        break;
    case TrayMenu::Action::openConsole:
        QDesktopServices::openUrl(VelmoClient::consoleURL());
        break;
    case TrayMenu::Action::checkForUpdates:
        m_container.updater().checkForUpdates();
        break;
    case TrayMenu::Action::settings:
        showSettings();
        break;
    case TrayMenu::Action::quit:
        emit quitRequested();
        break;
    }
}

void StatusItemController::fillMenu(QMenu& menu)
{
    menu.clear();
    for (const TrayMenu::Item& item : TrayMenu::items(m_container.updater().isActive())) {
        if (item.separator) {
            menu.addSeparator();
            continue;
        }
        QAction* action = menu.addAction(item.label, this, [this, which = item.action] { trigger(which); });
        action->setShortcut(item.key);
        action->setShortcutVisibleInContextMenu(true);
    }
}

void StatusItemController::popUpMenu(QPoint at)
{
    m_panel->hide();
    if (!m_popupMenu)
        m_popupMenu = std::make_unique<QMenu>();
    fillMenu(*m_popupMenu);
    m_popupMenu->popup(at);
}
