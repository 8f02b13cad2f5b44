#include "AppContainer.h"

#include "AsyncTask.h"
#include "CLICredentialReader.h"
#include "KeychainCredentialStore.h"
#include "OAuthConfig.h"
#include "OAuthLogin.h"
#include "SessionStorage.h"

#include <QDir>
#include <QSettings>
#include <QThreadPool>

AppContainer::AppContainer(std::unique_ptr<SettingsStore> settings, std::shared_ptr<CredentialStoring> credentialStore,
    std::optional<SnapshotCache> cache, Options options, QObject* parent)
    : QObject(parent)
    , m_settings(std::move(settings))
    , m_credentialStore(std::move(credentialStore))
    , m_options(std::move(options))
    , m_updater(std::make_unique<UpdaterController>(&m_settings->defaults()))
    , m_wake(std::make_unique<RefreshWakeSignal>())
{
    const CLICredentialReader cli(QDir::homePath().toStdString());
    CredentialResolver resolver(m_credentialStore, cli);
    m_store = std::make_unique<UsageStore>(makeClient(), resolver, std::move(cache));
    auto browser = m_options.openBrowser ? m_options.openBrowser : [](const QUrl&) { return false; };
    m_login = std::make_unique<LoginController>(
        m_credentialStore, OAuthLogin(OAuthConfig::velmo(), VelmoClient::defaultHTTPClient()), browser);
    QPointer<AppContainer> self(this);
    m_login->setOnSignedIn([self] {
        if (!self)
            return;
        self->m_store->reloadCredential();
        self->refreshNow();
    });
}

AppContainer::~AppContainer()
{
    // The loop ends when its wait is resumed by the wake signal going away.
    m_loopStop.request_stop();
}

VelmoClient AppContainer::makeClient() const
{
    return VelmoClient(m_settings->baseURL(), VelmoClient::defaultHTTPClient(), QStringLiteral("menubar"));
}

void AppContainer::start()
{
    m_updater->start();
    m_store->loadCache();
    m_store->reloadCredential();
    startDetached(refreshLoop(QPointer<AppContainer>(this), m_loopStop.get_token()));
    if (auto remove = m_options.removeLegacyAPIKey) {
        QThreadPool::globalInstance()->start([remove] {
            try {
                remove();
            } catch (...) {
                // Housekeeping: a failure changes nothing for the user.
            }
        });
    }
}

QCoro::Task<> AppContainer::refreshLoop(QPointer<AppContainer> self, std::stop_token stop)
{
    // Cancellation is looked at only before each refresh: a stopped loop
    // finishes the refresh or wait it is in, then ends.
    while (self && !stop.stop_requested()) {
        auto refresh = self->m_store->refresh();
        co_await std::move(refresh);
        if (!self)
            co_return;
        self->m_store->setNextRefreshAt(std::chrono::system_clock::now() + refreshInterval);
        auto wait = self->m_wake->wait(refreshInterval);
        co_await std::move(wait);
    }
}

void AppContainer::stop()
{
    m_loopStop.request_stop();
    m_updater->stop();
}

void AppContainer::refreshNow()
{
    m_wake->wake();
}

void AppContainer::applyBaseURL()
{
    m_store->setClient(makeClient());
    m_store->clearSnapshot();
    refreshNow();
}

void AppContainer::signOut()
{
    try {
        m_credentialStore->remove();
    } catch (...) {
        // Ignored: the resolver below shows what is left.
    }
    m_store->clearSnapshot();
    m_store->reloadCredential();
    refreshNow();
}

void AppContainer::removeLegacyAPIKey()
{
    if (!SessionStorage::secretServiceAvailable())
        return;
    KeychainCredentialStore(KeychainCredentialStore::defaultService, KeychainCredentialStore::legacyAPIKeyAccount)
        .remove();
}
