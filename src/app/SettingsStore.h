#pragma once

#include <QObject>
#include <QString>
#include <QUrl>

#include <memory>
#include <optional>
#include <vector>

class QSettings;

// The user's preferences, written through to QSettings on every
// assignment; observers hear only of real changes.
class SettingsStore : public QObject {
    Q_OBJECT
public:
    enum class MenuBarStyle { iconOnly, account };
    Q_ENUM(MenuBarStyle)

    // How the tray item looks.
    Q_PROPERTY(MenuBarStyle menuBarStyle READ menuBarStyle WRITE setMenuBarStyle NOTIFY menuBarStyleChanged)
    // The API base URL as typed; empty means none.
    Q_PROPERTY(QString baseURLOverride READ baseURLOverride WRITE setBaseURLOverride NOTIFY baseURLOverrideChanged)
    // The first-run settings window has been shown.
    Q_PROPERTY(bool hasCompletedOnboarding READ hasCompletedOnboarding WRITE setHasCompletedOnboarding NOTIFY
            hasCompletedOnboardingChanged)
    // Desktop notifications when the balance runs low or out (on by default).
    Q_PROPERTY(bool notifiesLowBalance READ notifiesLowBalance WRITE setNotifiesLowBalance NOTIFY
            notifiesLowBalanceChanged)
    // The effective API base URL: the override when it parses with a scheme, else production.
    Q_PROPERTY(QUrl baseURL READ baseURL NOTIFY baseURLOverrideChanged)

    // Takes ownership of the settings; reads the keys once.
    explicit SettingsStore(std::unique_ptr<QSettings> defaults, QObject* parent = nullptr);
    // Over standardFilePath(). Anything there that is not a regular file is
    // moved aside (and logged), and the settings start from the defaults.
    static std::unique_ptr<QSettings> standardDefaults();
    // $XDG_CONFIG_HOME/VelmoUsage/VelmoUsage.conf (normally ~/.config/…).
    static QString standardFilePath();
    ~SettingsStore() override;

    MenuBarStyle menuBarStyle() const { return m_menuBarStyle; }
    void setMenuBarStyle(MenuBarStyle style);
    const QString& baseURLOverride() const { return m_baseURLOverride; }
    void setBaseURLOverride(const QString& text);
    bool hasCompletedOnboarding() const { return m_hasCompletedOnboarding; }
    void setHasCompletedOnboarding(bool done);
    bool notifiesLowBalance() const { return m_notifiesLowBalance; }
    void setNotifiesLowBalance(bool on);
    QUrl baseURL() const;
    // The store's QSettings, shared with the other preferences of the app.
    QSettings& defaults() const { return *m_defaults; }

    static QString rawValue(MenuBarStyle style);
    static QString label(MenuBarStyle style);
    static std::optional<MenuBarStyle> menuBarStyleFromRawValue(const QString& raw);
    static std::vector<MenuBarStyle> allMenuBarStyles();

signals:
    void menuBarStyleChanged();
    void baseURLOverrideChanged();
    void hasCompletedOnboardingChanged();
    void notifiesLowBalanceChanged();

private:
    std::unique_ptr<QSettings> m_defaults;
    MenuBarStyle m_menuBarStyle = MenuBarStyle::account;
    QString m_baseURLOverride;
    bool m_hasCompletedOnboarding = false;
    bool m_notifiesLowBalance = true;
};
