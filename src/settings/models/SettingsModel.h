#pragma once

#include "AccountModel.h"
#include "AdvancedModel.h"
#include "FormTheme.h"
#include "LaunchAtLoginModel.h"
#include "MenuBarModel.h"
#include "UpdatesModel.h"

#include <QObject>
#include <QTimer>
#include <QtQml/qqmlregistration.h>

#include <functional>
#include <optional>

class AppContainer;

// The settings form's root model: its sections over the container's stores,
// the login controller and the updater, the theme, the version, and the
// window's two keyboard verbs. Every section is derived again whenever
// something it reads changes (and every 15 s while on screen, for the
// session's expiry); each signals only what really changed.
class SettingsModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Built by the settings window")
    Q_PROPERTY(FormTheme* theme READ theme CONSTANT)
    Q_PROPERTY(AccountModel* account READ account CONSTANT)
    Q_PROPERTY(MenuBarModel* menuBar READ menuBar CONSTANT)
    Q_PROPERTY(LaunchAtLoginModel* launchAtLogin READ launchAtLogin CONSTANT)
    Q_PROPERTY(UpdatesModel* updates READ updates CONSTANT)
    Q_PROPERTY(AdvancedModel* advanced READ advanced CONSTANT)
    // The General section's "Notify when the balance runs low".
    Q_PROPERTY(bool notifiesLowBalance READ notifiesLowBalance NOTIFY notifiesLowBalanceChanged)
    // "1.2 (34)", "1.2" or "dev".
    Q_PROPERTY(QString version READ version CONSTANT)

public:
    struct Options {
        // Default: this process's autostart entry.
        std::optional<LaunchAtLogin> launchAtLogin;
        // Default: this build's version label.
        std::optional<QString> version;
        // Where the browser session is kept; default: from the credential store.
        std::optional<QString> sessionStorage;
        // Ctrl+W and Ctrl+Q.
        std::function<void()> close;
        std::function<void()> quit;
    };

    // `container` must outlive the model.
    SettingsModel(AppContainer& container, Options options, QObject* parent = nullptr);

    FormTheme* theme() const { return m_theme; }
    AccountModel* account() const { return m_account; }
    MenuBarModel* menuBar() const { return m_menuBar; }
    LaunchAtLoginModel* launchAtLogin() const { return m_launchAtLogin; }
    UpdatesModel* updates() const { return m_updates; }
    AdvancedModel* advanced() const { return m_advanced; }
    const QString& version() const { return m_version; }
    bool notifiesLowBalance() const;
    Q_INVOKABLE void setNotifiesLowBalance(bool on);

    // The form came on screen: the field takes the stored override and
    // everything is read again. While on screen a timer keeps it current.
    void setOnScreen(bool onScreen);
    // Derives every section again.
    void reevaluate();

    // `text` as rich text: escaped, spans in backquotes set as code.
    Q_INVOKABLE QString withCode(const QString& text) const;
    Q_INVOKABLE void close();
    Q_INVOKABLE void quit();

signals:
    void notifiesLowBalanceChanged();

private:
    AppContainer& m_container;
    std::function<void()> m_close;
    std::function<void()> m_quit;
    FormTheme* m_theme;
    AccountModel* m_account;
    MenuBarModel* m_menuBar;
    LaunchAtLoginModel* m_launchAtLogin;
    UpdatesModel* m_updates;
    AdvancedModel* m_advanced;
    QString m_version;
    QTimer m_ticker;
};
