#pragma once

#include "CLICredentialReader.h"
#include "Credential.h"
#include "CredentialStoring.h"
#include "HTTPClient.h"
#include "SerialGate.h"
#include "TokenCoordinatorError.h"

#include <QCoroTask>
#include <QUrl>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>

// Renews an expiring or rejected session with the refresh-token grant and
// writes the rotated tokens back to where the session came from (the app's
// store, or the velmo tool's tokens.json). One renewal at a time, in call
// order (SerialGate), and one across processes: each session's renewal runs
// under its SessionLock (the app's own session too, when its store has a
// lock). Under the lock the stored record is read again: when someone else
// has rotated it already, that newer session is the answer and nothing is
// sent.
//
// The refresh token is spent the moment the provider answers, so the room for
// the new record is taken before the request is sent, and the answer is
// written at once. Should the save still fail, the renewed session is kept in
// memory and used, and every later call tries the save again until it works
// (or storage gets a newer session of its own).
//
// A value; copies share the gate and the unsaved session.
class TokenCoordinator {
public:
    using Error = TokenCoordinatorError;
    using Clock = std::function<Timestamp()>;

    static constexpr double defaultLockTimeout = 40.0;

    // lockTimeout in seconds; `now` defaults to the system clock.
    TokenCoordinator(std::shared_ptr<CredentialStoring> store, CLICredentialReader reader, HTTPClient http,
        QUrl authServer, double lockTimeout, Clock now = {});
    // As the app builds it: one attempt, no redirects, 30 s timeout, the
    // identity provider's base URL, a 40 s lock timeout.
    static TokenCoordinator platform(std::shared_ptr<CredentialStoring> store, CLICredentialReader reader);

    // Nothing at once when the credential cannot be refreshed; otherwise the
    // session to use from now on (the stored one while it is valid for more
    // than 60 s, else a renewed one), or nothing when the session is gone.
    // Throws Error or CancellationError.
    QCoro::Task<std::optional<Credential>> refreshIfNeeded(Credential credential, std::stop_token stop = {}) const;
    // The same, but renews even a session that looks valid (the API has just
    // rejected it), unless storage holds a newer one.
    QCoro::Task<std::optional<Credential>> refreshAfterUnauthorized(Credential credential, std::stop_token stop = {}) const;

    // A renewed session that could not be saved, while storage still holds
    // the one it replaced: `resolved` (what storage holds) gives way to it.
    std::optional<Credential> preferUnsaved(std::optional<Credential> resolved) const;
    // "Could not save the refreshed session: …" while `inUse` is such a
    // session; the next refreshIfNeeded() tries the save again.
    std::optional<std::string> unsavedReason(const std::optional<Credential>& inUse) const;

    // The form body of a token request; see FormEncoding.
    static std::string formEncode(const std::map<std::string, std::string>& fields);

    const std::shared_ptr<CredentialStoring>& store() const { return m_store; }
    const CLICredentialReader& reader() const { return m_reader; }
    const QUrl& authServer() const { return m_authServer; }
    double lockTimeout() const { return m_lockTimeout; }

private:
    // Where a session is read from and written to.
    struct Storage {
        std::function<std::optional<Credential>()> load;
        std::function<void(const StoredTokens&)> save;
        std::function<std::unique_ptr<SaveReservation>()> reserve;
    };
    struct Unsaved {
        Credential credential;
        StoredTokens record;
        // The access token of the record storage still holds.
        std::string replacedToken;
        std::string reason;
    };

    static QCoro::Task<std::optional<Credential>> gated(TokenCoordinator self, Credential credential, bool force,
        std::stop_token stop);
    static QCoro::Task<std::optional<Credential>> refresh(TokenCoordinator self, Credential credential, bool force,
        std::stop_token stop);
    static QCoro::Task<std::optional<Credential>> rotate(TokenCoordinator self, Credential credential, bool force,
        Storage storage, std::stop_token stop);
    // The session storage holds, after trying once more to save an unsaved one.
    std::optional<Credential> readLatest(const Storage& storage, CredentialSource source) const;
    Storage storage(CredentialSource source) const;

    std::shared_ptr<CredentialStoring> m_store;
    CLICredentialReader m_reader;
    HTTPClient m_http;
    QUrl m_authServer;
    double m_lockTimeout;
    Clock m_now;
    std::shared_ptr<SerialGate> m_gate;
    std::shared_ptr<std::optional<Unsaved>> m_unsaved;
};
