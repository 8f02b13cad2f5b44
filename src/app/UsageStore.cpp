#include "UsageStore.h"

#include "Cancellation.h"
#include "Log.h"

#include <QPointer>

#include <memory>
#include <vector>

namespace {

bool isUnauthorized(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (const VelmoError& e) {
        return e.kind() == VelmoError::Kind::unauthorized;
    } catch (...) {
        return false;
    }
}

// A stop source that stops as soon as any of the given tokens does.
class LinkedStop {
public:
    LinkedStop(std::initializer_list<std::stop_token> tokens)
    {
        for (const std::stop_token& token : tokens)
            m_links.push_back(std::make_unique<Link>(token, Forward { m_source }));
    }
    std::stop_token token() const { return m_source.get_token(); }
    bool stopped() const { return m_source.stop_requested(); }

private:
    struct Forward {
        std::stop_source target;
        void operator()() noexcept { target.request_stop(); }
    };
    using Link = std::stop_callback<Forward>;
    std::stop_source m_source;
    std::vector<std::unique_ptr<Link>> m_links;
};

} // namespace

// Any failure of a request (or of the renewal it needed): its text, and
// whether signing in again may help. A renewal failure keeps its own text.
UsageStore::Failure UsageStore::describe(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (const VelmoError& e) {
        return { e.errorDescription(), e.isCredentialProblem() };
    } catch (const TokenCoordinator::Error& e) {
        return { e.what(), e.isCredentialProblem() };
    } catch (const std::exception& e) {
        return { VelmoError::network(e.what()).errorDescription(), false };
    } catch (...) {
        return { VelmoError::network("unknown failure").errorDescription(), false };
    }
}

UsageStore::UsageStore(VelmoClient client, CredentialResolver resolver, std::optional<SnapshotCache> cache,
    std::optional<TokenCoordinator> tokenCoordinator, QObject* parent)
    : QObject(parent)
    , m_client(std::move(client))
    , m_resolver(std::move(resolver))
    , m_cache(std::move(cache))
    , m_tokenCoordinator(tokenCoordinator ? std::move(*tokenCoordinator)
                                          : TokenCoordinator::platform(m_resolver.store(), m_resolver.cliReader()))
    , m_now([] { return std::chrono::system_clock::now(); })
{
}

UsageStore::~UsageStore() = default;

void UsageStore::setSnapshot(std::optional<Snapshot> snapshot)
{
    if (m_snapshot == snapshot)
        return;
    m_snapshot = std::move(snapshot);
    emit snapshotChanged();
}

void UsageStore::setCredential(std::optional<Credential> credential)
{
    if (m_credential == credential)
        return;
    // A renewed token is the same session; another source, or none, is not.
    const bool sameSession = m_credential && credential && m_credential->source == credential->source;
    m_credential = std::move(credential);
    if (!sameSession)
        std::exchange(m_sessionStop, std::stop_source()).request_stop();
    emit credentialChanged();
}

void UsageStore::setIsRefreshing(bool refreshing)
{
    if (std::exchange(m_isRefreshing, refreshing) != refreshing)
        emit isRefreshingChanged();
}

void UsageStore::setLastError(std::optional<std::string> error)
{
    if (m_lastError == error)
        return;
    m_lastError = std::move(error);
    emit lastErrorChanged();
}

void UsageStore::setCredentialRejected(bool rejected)
{
    if (std::exchange(m_credentialRejected, rejected) != rejected)
        emit credentialRejectedChanged();
}

void UsageStore::setLastAttemptAt(std::optional<Timestamp> when)
{
    if (std::exchange(m_lastAttemptAt, when) != when)
        emit lastAttemptAtChanged();
}

void UsageStore::setNextRefreshAt(std::optional<Timestamp> when)
{
    if (std::exchange(m_nextRefreshAt, when) != when)
        emit nextRefreshAtChanged();
}

void UsageStore::setClient(VelmoClient client)
{
    if (client.baseURL() != m_client.baseURL())
        std::exchange(m_serverStop, std::stop_source()).request_stop();
    m_client = std::move(client);
    emit clientChanged();
}

void UsageStore::setTokenCoordinator(TokenCoordinator coordinator)
{
    m_tokenCoordinator = std::move(coordinator);
    emit tokenCoordinatorChanged();
}

void UsageStore::setNow(Clock clock)
{
    m_now = std::move(clock);
    emit nowChanged();
}

void UsageStore::loadCache()
{
    if (m_snapshot || !m_cache)
        return;
    if (auto cached = m_cache->load())
        setSnapshot(std::move(cached));
}

void UsageStore::reloadCredential()
{
    auto resolved = m_tokenCoordinator.preferUnsaved(m_resolver.resolve());
    if (resolved != m_credential) {
        setCredentialRejected(false);
        setLastError(std::nullopt);
    }
    setCredential(std::move(resolved));
}

template <typename T>
QCoro::Task<UsageStore::Fetched<T>> UsageStore::fetchWithRenewal(
    Credential credential, std::function<QCoro::Task<T>(QString token)> send, std::stop_token renewalStop)
{
    QPointer<UsageStore> self(this);
    std::exception_ptr failure;
    // Named locals around every co_await: GCC 12 destroys temporaries of a
    // co_await expression twice.
    try {
        const QString token = QString::fromStdString(credential.token);
        auto request = send(token);
        T value = co_await std::move(request);
        co_return Fetched<T> { std::move(value), std::nullopt };
    } catch (...) {
        failure = std::current_exception();
    }
    Failure error = describe(failure);
    if (!isUnauthorized(failure) || !self)
        co_return Fetched<T> { std::nullopt, std::move(error) };

    std::optional<Credential> renewed;
    try {
        const TokenCoordinator coordinator = m_tokenCoordinator;
        auto renewal = coordinator.refreshAfterUnauthorized(credential, renewalStop);
        renewed = co_await std::move(renewal);
    } catch (...) {
        co_return Fetched<T> { std::nullopt, describe(std::current_exception()) };
    }
    if (!renewed || !self || renewalStop.stop_requested())
        co_return Fetched<T> { std::nullopt, std::move(error) };

    setCredential(renewed);
    // The retry's result is final: a second "unauthorized" is not retried.
    try {
        const QString token = QString::fromStdString(renewed->token);
        auto request = send(token);
        T value = co_await std::move(request);
        co_return Fetched<T> { std::move(value), std::nullopt };
    } catch (...) {
        failure = std::current_exception();
    }
    co_return Fetched<T> { std::nullopt, describe(failure) };
}

QCoro::Task<> UsageStore::refresh(std::stop_token stop)
{
    QPointer<UsageStore> self(this);
    reloadCredential();
    if (!m_credential) {
        setLastError(std::nullopt);
        co_return;
    }
    // `server` is stopped whenever `session` is; the renewal follows only
    // `session`, the API requests follow `server`.
    const LinkedStop session { stop, m_sessionStop.get_token() };
    const LinkedStop server { session.token(), m_serverStop.get_token() };

    Credential credential = *m_credential;
    m_renewalFailed = false;
    // A session kept in memory because it could not be saved goes to the
    // coordinator each time, which tries the save again.
    if (credential.canRefresh()
        && (!credential.expiresAt || credential.isExpired(now()) || m_tokenCoordinator.unsavedReason(credential))) {
        std::optional<Credential> renewed;
        try {
            const TokenCoordinator coordinator = m_tokenCoordinator;
            auto renewal = coordinator.refreshIfNeeded(credential, session.token());
            renewed = co_await std::move(renewal);
        } catch (const std::exception& error) {
            if (!self || server.stopped())
                co_return;
            // A refused grant needs a new sign-in; anything else (the
            // provider unreachable, a full disk) may pass by the next refresh.
            const auto* renewalError = dynamic_cast<const TokenCoordinator::Error*>(&error);
            m_renewalFailed = true;
            setLastError(std::string(error.what()));
            setCredentialRejected(renewalError && renewalError->isCredentialProblem());
            co_return;
        }
        if (!self || server.stopped())
            co_return;
        if (renewed) {
            setCredential(renewed);
            credential = *renewed;
        }
    }

    if (credential.isExpired(now())) {
        setLastError(std::string("Session expired — sign in again"));
        co_return;
    }
    // An overlapping refresh is dropped, not queued.
    if (m_isRefreshing)
        co_return;
    setIsRefreshing(true);

    const Timestamp t = now();
    const Timestamp start = t - usageWindow;
    const VelmoClient client = m_client;
    Snapshot working = m_snapshot.value_or(Snapshot { .fetchedAt = t });

    // Both requests start at once (QCoro tasks run eagerly up to their first
    // suspension) and are awaited in order: balance first.
    const std::stop_token requestStop = server.token();
    auto balanceTask = fetchWithRenewal<Balance>(
        credential,
        [client, requestStop](QString token) { return client.balance(std::move(token), requestStop); },
        session.token());
    auto usageTask = fetchWithRenewal<UsageSummary>(
        credential,
        [client, start, t, requestStop](QString token) {
            return client.usage(std::move(token), start, t, UsageScope::account, requestStop);
        },
        session.token());
    Fetched<Balance> balance = co_await balanceTask;
    Fetched<UsageSummary> usage = co_await usageTask;
    if (!self)
        co_return;
    if (server.stopped()) {
        // Stopped, or begun for an account or server that is no longer shown.
        setIsRefreshing(false);
        co_return;
    }

    std::vector<Failure> failures;
    if (balance.value)
        working.balance = std::move(balance.value);
    else
        failures.push_back(std::move(*balance.error));
    if (usage.value)
        working.usage = std::move(usage.value);
    else
        failures.push_back(std::move(*usage.error));

    setLastAttemptAt(t);
    if (failures.size() < 2) {
        working.fetchedAt = t;
        setSnapshot(working);
        if (m_cache)
            m_cache->save(working);
    }

    const std::string source(rawValue(credential.source));
    if (failures.empty()) {
        setCredentialRejected(false);
        setLastError(std::nullopt);
        qCInfo(Log::network, "refresh ok via %s", source.c_str());
    } else {
        const bool rejected = std::any_of(
            failures.begin(), failures.end(), [](const Failure& e) { return e.credentialProblem; });
        setCredentialRejected(rejected);
        const std::string& description = failures.front().description;
        setLastError(description);
        qCCritical(Log::network, "refresh failed (%s): %s", source.c_str(),
            description.empty() ? "?" : description.c_str());
    }
    setIsRefreshing(false);
}

UsageStore::Status UsageStore::status() const
{
    if (!m_credential)
        return Status::noCredential();
    // Why the session could not be renewed says more than "expired": sign in
    // again after a refused grant, wait after a network failure.
    if (m_renewalFailed && m_lastError)
        return m_credentialRejected ? Status::credentialRejected(*m_lastError) : Status::error(*m_lastError);
    if (m_credential->isExpired(now()))
        return Status::credentialExpired();
    if (m_credentialRejected)
        return Status::credentialRejected(m_lastError.value_or("unauthorized"));
    if (m_lastError)
        return Status::error(*m_lastError);
    if (auto unsaved = m_tokenCoordinator.unsavedReason(m_credential))
        return Status::error(*unsaved);
    return Status::ok();
}

bool UsageStore::isStale(std::chrono::seconds maxAge) const
{
    return m_snapshot && now() - m_snapshot->fetchedAt > maxAge;
}

void UsageStore::clearSnapshot()
{
    setSnapshot(std::nullopt);
    if (m_cache)
        m_cache->clear();
}
