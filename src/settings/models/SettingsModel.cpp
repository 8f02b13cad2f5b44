#include "SettingsModel.h"

#include "AppContainer.h"
#include "SettingsRules.h"
#include "AppInfo.h"

#include <QRegularExpression>

namespace {

constexpr std::chrono::seconds tickInterval { 15 };

} // namespace

SettingsModel::SettingsModel(AppContainer& container, Options options, QObject* parent)
    : QObject(parent)
    , m_container(container)
    , m_close(std::move(options.close))
    , m_quit(std::move(options.quit))
    , m_theme(new FormTheme(this))
    , m_account(new AccountModel(container,
          options.sessionStorage.value_or(SettingsRules::sessionStorage(container.credentialStore().get())), this))
    , m_menuBar(new MenuBarModel(container, this))
    , m_launchAtLogin(new LaunchAtLoginModel(
          options.launchAtLogin ? std::move(*options.launchAtLogin) : LaunchAtLogin::forThisProcess(), this))
    , m_updates(new UpdatesModel(container.updater(), this))
    , m_advanced(new AdvancedModel(container, this))
    , m_version(options.version.value_or(AppInfo::current().versionLabel()))
{
    const UsageStore* store = &container.store();
    for (auto changed : { &UsageStore::snapshotChanged, &UsageStore::credentialChanged, &UsageStore::isRefreshingChanged,
             &UsageStore::lastErrorChanged, &UsageStore::credentialRejectedChanged, &UsageStore::nowChanged })
        connect(store, changed, this, &SettingsModel::reevaluate);
    const LoginController* login = &container.login();
    connect(login, &LoginController::isSigningInChanged, this, &SettingsModel::reevaluate);
    connect(login, &LoginController::errorMessageChanged, this, &SettingsModel::reevaluate);
    const SettingsStore* settings = &container.settings();
    connect(settings, &SettingsStore::menuBarStyleChanged, this, &SettingsModel::reevaluate);
    connect(settings, &SettingsStore::baseURLOverrideChanged, this, &SettingsModel::reevaluate);
    connect(settings, &SettingsStore::notifiesLowBalanceChanged, this, &SettingsModel::notifiesLowBalanceChanged);
    const UpdaterController* updater = &container.updater();
    for (auto changed : { &UpdaterController::isActiveChanged, &UpdaterController::automaticallyChecksForUpdatesChanged,
             &UpdaterController::canCheckForUpdatesChanged })
        connect(updater, changed, this, &SettingsModel::reevaluate);
    connect(m_theme, &FormTheme::colorsChanged, this, &SettingsModel::reevaluate);
    connect(&m_ticker, &QTimer::timeout, this, &SettingsModel::reevaluate);
    m_ticker.setInterval(tickInterval);
    reevaluate();
}

void SettingsModel::reevaluate()
{
    m_account->update(*m_theme);
    m_menuBar->update();
    m_updates->update();
    m_advanced->update();
}

bool SettingsModel::notifiesLowBalance() const
{
    return m_container.settings().notifiesLowBalance();
}

void SettingsModel::setNotifiesLowBalance(bool on)
{
    m_container.settings().setNotifiesLowBalance(on);
}

void SettingsModel::setOnScreen(bool onScreen)
{
    if (!onScreen) {
        m_ticker.stop();
        return;
    }
    m_advanced->reload();
    reevaluate();
    m_ticker.start();
}

QString SettingsModel::withCode(const QString& text) const
{
    static const QRegularExpression code(QStringLiteral("`([^`]+)`"));
    return text.toHtmlEscaped().replace(code, QStringLiteral("<code>\\1</code>"));
}

void SettingsModel::close()
{
    if (m_close)
        m_close();
}

void SettingsModel::quit()
{
    if (m_quit)
        m_quit();
}
