#pragma once

#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <QString>

// Desktop notifications through the session's notification server
// (org.freedesktop.Notifications). Without a server nothing is shown and one
// debug line is logged. A click on a notification, or its button, asks for
// the panel or the settings window through the signals. Main thread.
class DesktopNotifier : public QObject {
    Q_OBJECT
public:
    static constexpr char serviceName[] = "org.freedesktop.Notifications";
    static constexpr char objectPath[] = "/org/freedesktop/Notifications";

    // What a click on the notification opens.
    enum class Target { panel, settings };
    struct Message {
        QString summary;
        QString body;
        Target target = Target::panel;
        // Out of credit: shown until dismissed where the server allows.
        bool critical = false;
    };

    // `appIcon` is an icon name from the theme (the installed hicolor icon)
    // or a file path.
    explicit DesktopNotifier(QDBusConnection bus = QDBusConnection::sessionBus(),
        QString appIcon = QStringLiteral("velmo-usage"), QObject* parent = nullptr);

    // Shows the message; a message for the same target replaces the one
    // still on screen. Returns at once; the server answers later.
    void post(const Message& message);

signals:
    void openPanelRequested();
    void openSettingsRequested();

private slots:
    void onActionInvoked(uint id, const QString& actionKey);
    void onNotificationClosed(uint id, uint reason);

private:
    QDBusConnection m_bus;
    QString m_appIcon;
    // Notifications on screen, by the server's id.
    QHash<uint, Target> m_shown;
    bool m_reportedMissing = false;
};
