#pragma once

#include "DBusTypes.h"

#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QObject>

#include <functional>

class DBusMenuExporter;

// Our own org.kde.StatusNotifierItem on the session bus: the icon, the
// tooltip and the title text as XAyatanaLabel (GNOME's AppIndicator host
// shows it next to the icon; KDE shows the tooltip). The item lives at
// /StatusNotifierItem of the service "org.kde.StatusNotifierItem-PID-1", its
// menu (com.canonical.dbusmenu) at /MenuBar. The New* signals go out only
// when a value really changed.
class StatusNotifierItem : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
    Q_PROPERTY(QString Category READ category)
    Q_PROPERTY(QString Id READ id)
    Q_PROPERTY(QString Title READ title)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(int WindowId READ windowId)
    Q_PROPERTY(QString IconName READ emptyText)
    Q_PROPERTY(SNIPixmapList IconPixmap READ iconPixmap)
    Q_PROPERTY(QString OverlayIconName READ emptyText)
    Q_PROPERTY(SNIPixmapList OverlayIconPixmap READ emptyPixmaps)
    Q_PROPERTY(QString AttentionIconName READ emptyText)
    Q_PROPERTY(SNIPixmapList AttentionIconPixmap READ emptyPixmaps)
    Q_PROPERTY(QString AttentionMovieName READ emptyText)
    Q_PROPERTY(QString IconThemePath READ emptyText)
    Q_PROPERTY(SNIToolTip ToolTip READ toolTip)
    Q_PROPERTY(bool ItemIsMenu READ itemIsMenu)
    Q_PROPERTY(QDBusObjectPath Menu READ menu)
    Q_PROPERTY(QString XAyatanaLabel READ label)
    Q_PROPERTY(QString XAyatanaLabelGuide READ labelGuide)

public:
    static constexpr const char* itemPath = "/StatusNotifierItem";
    static constexpr const char* menuPath = "/MenuBar";
    static constexpr const char* watcherService = "org.kde.StatusNotifierWatcher";

    // Activate(x, y) and ContextMenu(x, y) land here; (0, 0) means the host
    // gave no position.
    using PointHandler = std::function<void(int x, int y)>;

    StatusNotifierItem(QDBusConnection bus, DBusMenuExporter* menu, PointHandler activate,
        PointHandler contextMenu, QObject* parent = nullptr);
    ~StatusNotifierItem() override;

    // Takes the service name and exports the item and the menu; false when
    // the bus refuses.
    bool publish();
    // Registers with the watcher (asynchronously); again after a watcher restart.
    void registerWithWatcher();
    QString serviceName() const { return m_serviceName; }

    void setIcon(const SNIPixmapList& icon);
    void setToolTip(const QString& title, const QString& description);
    // The item's title text (badge and balance) as the label.
    void setLabel(const QString& label, const QString& guide);

    QString category() const { return QStringLiteral("ApplicationStatus"); }
    QString id() const { return QStringLiteral("velmo-usage"); }
    QString title() const { return QStringLiteral("Velmo Usage"); }
    QString status() const { return QStringLiteral("Active"); }
    int windowId() const { return 0; }
    QString emptyText() const { return {}; }
    SNIPixmapList emptyPixmaps() const { return {}; }
    SNIPixmapList iconPixmap() const { return m_icon; }
    SNIToolTip toolTip() const { return m_toolTip; }
    bool itemIsMenu() const { return false; }
    QDBusObjectPath menu() const { return QDBusObjectPath(QString::fromLatin1(menuPath)); }
    QString label() const { return m_label; }
    QString labelGuide() const { return m_labelGuide; }

public slots:
    void Activate(int x, int y);
    void SecondaryActivate(int x, int y);
    void ContextMenu(int x, int y);
    void Scroll(int delta, const QString& orientation);

signals:
    void NewTitle();
    void NewIcon();
    void NewAttentionIcon();
    void NewOverlayIcon();
    void NewToolTip();
    void NewStatus(const QString& status);
    void XAyatanaNewLabel(const QString& label, const QString& guide);

private:
    QDBusConnection m_bus;
    DBusMenuExporter* m_menu;
    PointHandler m_activate;
    PointHandler m_contextMenu;
    QString m_serviceName;
    bool m_published = false;
    SNIPixmapList m_icon;
    SNIToolTip m_toolTip;
    QString m_label;
    QString m_labelGuide;
};
