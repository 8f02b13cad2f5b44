#pragma once

#include "Credential.h"
#include "CredentialResolver.h"
#include "Snapshot.h"
#include "SnapshotCache.h"
#include "TokenCoordinator.h"
#include "VelmoClient.h"
#include "VelmoError.h"

#include <QCoroTask>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>
#include <stop_token>
#include <string>

// The refresh engine and the one source of truth every view reads: the
// credential in use, the last snapshot and the outcome of the last refresh,
// from which it derives one Status. Lives on the main thread; every field
// signals only when its value really changed.
class UsageStore : public QObject {
    Q_OBJECT
    // True while the two API requests of a refresh are under way.
    Q_PROPERTY(bool isRefreshing READ isRefreshing NOTIFY isRefreshingChanged)
    // The last failure's text; empty after a clean refresh.
    Q_PROPERTY(QString lastError READ lastErrorText NOTIFY lastErrorChanged)
    // The last refresh had a failure that rejected the credential.
    Q_PROPERTY(bool credentialRejected READ credentialRejected NOTIFY credentialRejectedChanged)

public:
    using Clock = std::function<Timestamp()>;

    class Status {
    public:
        enum class Kind { credentialRejected, error, noCredential, credentialExpired, ok };

        static Status credentialRejected(std::string message) { return { Kind::credentialRejected, std::move(message) }; }
        static Status error(std::string message) { return { Kind::error, std::move(message) }; }
        static Status noCredential() { return { Kind::noCredential, {} }; }
        static Status credentialExpired() { return { Kind::credentialExpired, {} }; }
        static Status ok() { return { Kind::ok, {} }; }

        Kind kind() const { return m_kind; }
        // The message of credentialRejected and error; empty for the others.
        const std::string& message() const { return m_message; }
        friend bool operator==(const Status&, const Status&) = default;

    private:
        Status(Kind kind, std::string message)
            : m_kind(kind)
            , m_message(std::move(message))
        {
        }
        Kind m_kind;
        std::string m_message;
    };

    // 30 days: the usage window asked for, ending at the refresh time.
    static constexpr std::chrono::seconds usageWindow { 2'592'000 };

    // Without a coordinator the store builds its own over the resolver's
    // credential store and CLI reader.
    UsageStore(VelmoClient client, CredentialResolver resolver, std::optional<SnapshotCache> cache,
        std::optional<TokenCoordinator> tokenCoordinator = std::nullopt, QObject* parent = nullptr);
    ~UsageStore() override;

    const std::optional<Snapshot>& snapshot() const { return m_snapshot; }
    void setSnapshot(std::optional<Snapshot> snapshot);
    const std::optional<Credential>& credential() const { return m_credential; }
    bool isRefreshing() const { return m_isRefreshing; }
    const std::optional<std::string>& lastError() const { return m_lastError; }
    QString lastErrorText() const { return QString::fromStdString(m_lastError.value_or(std::string())); }
    bool credentialRejected() const { return m_credentialRejected; }
    const std::optional<Timestamp>& lastAttemptAt() const { return m_lastAttemptAt; }
    const std::optional<Timestamp>& nextRefreshAt() const { return m_nextRefreshAt; }
    void setNextRefreshAt(std::optional<Timestamp> when);

    const VelmoClient& client() const { return m_client; }
    void setClient(VelmoClient client);
    const CredentialResolver& resolver() const { return m_resolver; }
    const std::optional<SnapshotCache>& cache() const { return m_cache; }
    const TokenCoordinator& tokenCoordinator() const { return m_tokenCoordinator; }
    void setTokenCoordinator(TokenCoordinator coordinator);
    Timestamp now() const { return m_now(); }
    void setNow(Clock clock);

    // Fills the snapshot from the cache once, when there is none yet.
    void loadCache();
    // Asks the resolver again; a changed credential clears the last error.
    void reloadCredential();
    // One whole refresh. Never fails: the outcome is state plus a log line.
    // It publishes and caches only while the identity it started with (the
    // credential's source and the API base URL) is still current: a change
    // of either aborts its requests, as does `stop`; a cancelled refresh
    // leaves every field as it was.
    QCoro::Task<> refresh(std::stop_token stop = {});
    Status status() const;
    // A snapshot older than maxAge (equal is not stale).
    bool isStale(std::chrono::seconds maxAge) const;
    // Forgets the snapshot and deletes the cache file.
    void clearSnapshot();

signals:
    void snapshotChanged();
    void credentialChanged();
    void isRefreshingChanged();
    void lastErrorChanged();
    void credentialRejectedChanged();
    void lastAttemptAtChanged();
    void nextRefreshAtChanged();
    void clientChanged();
    void tokenCoordinatorChanged();
    void nowChanged();

private:
    // A request's failure as the store records it.
    struct Failure {
        std::string description;
        bool credentialProblem = false;
    };
    template <typename T>
    struct Fetched {
        std::optional<T> value;
        std::optional<Failure> error;
    };
    static Failure describe(std::exception_ptr error);

    void setCredential(std::optional<Credential> credential);
    void setIsRefreshing(bool refreshing);
    void setLastError(std::optional<std::string> error);
    void setCredentialRejected(bool rejected);
    void setLastAttemptAt(std::optional<Timestamp> when);

    // One request with one renewal-and-retry after "unauthorized".
    template <typename T>
    QCoro::Task<Fetched<T>> fetchWithRenewal(
        Credential credential, std::function<QCoro::Task<T>(QString token)> send, std::stop_token stop);

    std::optional<Snapshot> m_snapshot;
    std::optional<Credential> m_credential;
    bool m_isRefreshing = false;
    std::optional<std::string> m_lastError;
    bool m_credentialRejected = false;
    // The last refresh ended because the session could not be renewed; the
    // status then says why, even once the session has expired.
    bool m_renewalFailed = false;
    std::optional<Timestamp> m_lastAttemptAt;
    std::optional<Timestamp> m_nextRefreshAt;
    VelmoClient m_client;
    CredentialResolver m_resolver;
    std::optional<SnapshotCache> m_cache;
    TokenCoordinator m_tokenCoordinator;
    Clock m_now;
    // Stopped (and replaced) when the credential's source changes or the
    // credential goes, and when the base URL changes: refreshes begun under
    // the old identity end without publishing. A renewal in flight follows
    // only the first: a new API server is no reason to abandon a rotation.
    std::stop_source m_sessionStop;
    std::stop_source m_serverStop;
};
