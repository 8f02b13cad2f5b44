#include "AppContainer.h"

#include "AsyncTask.h"
#include "CLICredentialReader.h"
#include "FileCredentialStore.h"
#include "KeychainCredentialStore.h"
#include "OAuthConfig.h"
#include "OAuthLogin.h"
#include "SessionStorage.h"

#include <QDir>
#include <QFileInfo>
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
    // The session files' folders (their files are replaced by renames), and
    // the keyring's signals when the session lives there.
    QStringList folders { QString::fromStdString(cli.velmoDirectory()) };
    if (auto* file = dynamic_cast<FileCredentialStore*>(m_credentialStore.get()))
        folders << QFileInfo(QString::fromStdString(file->path())).absolutePath();
    const bool keyring = dynamic_cast<KeychainCredentialStore*>(m_credentialStore.get()) != nullptr;
    m_watcher = std::make_unique<CredentialWatcher>(folders, keyring);
    connect(m_watcher.get(), &CredentialWatcher::changed, this, &AppContainer::onSessionChanged);
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
    // The loop ends here, while the container is still whole: its wait is
    // resumed by the wake signal going away.
    m_destroying = true;
    m_loopStop.request_stop();
    m_wake.reset();
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
    if (m_loopStop.stop_requested())
        return;
    m_running = true;
    m_watcher->start();
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
    while (self && !stop.stop_requested()) {
        // stop() cancels the refresh itself, and wakes the wait below.
        auto refresh = self->m_store->refresh(stop);
        co_await std::move(refresh);
        if (!self || stop.stop_requested())
            break;
        const Timestamp now = std::chrono::system_clock::now();
        const Timestamp next = nextRefreshTime(now, self->m_store->credential());
        self->m_store->setNextRefreshAt(next);
        auto wait = self->m_wake->wait(std::chrono::ceil<std::chrono::milliseconds>(next - now));
        co_await std::move(wait);
    }
    if (self && !self->m_destroying) {
        self->m_running = false;
        emit self->stopped();
    }
}

Timestamp AppContainer::nextRefreshTime(Timestamp now, const std::optional<Credential>& credential)
{
    const Timestamp scheduled = now + refreshInterval;
    if (!credential || !credential->canRefresh() || !credential->expiresAt)
        return scheduled;
    const Timestamp lastMinute = *credential->expiresAt - Credential::expiryMargin;
    // Already in its last minute (its renewal failed): the usual interval.
    if (lastMinute <= now)
        return scheduled;
    // At least a second on, so a timer that fires a little early cannot spin.
    return std::min(scheduled, std::max(lastMinute, now + std::chrono::seconds(1)));
}

void AppContainer::stop()
{
    m_loopStop.request_stop();
    m_wake->wake();
    m_watcher->stop();
    m_updater->stop();
    if (!m_running) {
        QPointer<AppContainer> self(this);
        QMetaObject::invokeMethod(
            this,
            [self] {
                if (self)
                    emit self->stopped();
            },
            Qt::QueuedConnection);
    }
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

void AppContainer::onSessionChanged()
{
    const std::optional<Credential> before = m_store->credential();
    m_store->reloadCredential();
    const std::optional<Credential>& after = m_store->credential();
    if (after == before)
        return;
    // Signed out elsewhere, or now another session: like a sign-out here, the
    // old account's figures go.
    if (before && (!after || after->source != before->source))
        m_store->clearSnapshot();
    refreshNow();
}

void AppContainer::removeLegacyAPIKey()
{
    if (!SessionStorage::secretServiceAvailable())
        return;
    KeychainCredentialStore(KeychainCredentialStore::defaultService, KeychainCredentialStore::legacyAPIKeyAccount)
        .remove();
}
