#include "TokenCoordinator.h"

#include "CLICredentialLock.h"
#include "Cancellation.h"
#include "FormEncoding.h"
#include "IdentityProvider.h"
#include "TokenText.h"

#include <nlohmann/json.hpp>

#include <cmath>

namespace {

// The readable message of an unsuccessful token reply: the provider's error
// message from a JSON body ("error.message", "error", "message"), else the
// trimmed body, else the status.
std::string errorMessage(const QByteArray& body, int status)
{
    const QString text = QString::fromUtf8(body).trimmed();
    try {
        const auto json = VelmoJSON::parse(body.toStdString());
        if (json.is_object()) {
            const auto error = json.find("error");
            if (error != json.end() && error->is_object()) {
                const auto message = error->find("message");
                if (message != error->end() && message->is_string())
                    return message->get<std::string>();
            }
            if (error != json.end() && error->is_string())
                return error->get<std::string>();
            const auto message = json.find("message");
            if (message != json.end() && message->is_string())
                return message->get<std::string>();
        }
    } catch (const VelmoJSON::DecodingError&) {
    }
    if (!text.isEmpty())
        return text.toStdString();
    return "HTTP " + std::to_string(status);
}

struct RefreshResponse {
    std::string accessToken;
    std::optional<std::string> refreshToken;
    double expiresIn = 0;
};

// The reply's usable content, or invalidTokenResponse.
RefreshResponse decodeRefreshResponse(const QByteArray& body)
{
    try {
        const auto json = VelmoJSON::parse(body.toStdString());
        if (!json.is_object())
            throw TokenCoordinatorError::invalidTokenResponse();
        RefreshResponse response;
        const auto access = json.find("access_token");
        if (access == json.end() || !access->is_string())
            throw TokenCoordinatorError::invalidTokenResponse();
        response.accessToken = TokenText::trimmed(access->get<std::string>());
        const auto refresh = json.find("refresh_token");
        if (refresh != json.end() && !refresh->is_null()) {
            if (!refresh->is_string())
                throw TokenCoordinatorError::invalidTokenResponse();
            response.refreshToken = TokenText::trimmed(refresh->get<std::string>());
        }
        const auto expires = json.find("expires_in");
        if (expires == json.end() || !expires->is_number())
            throw TokenCoordinatorError::invalidTokenResponse();
        response.expiresIn = expires->get<double>();
        if (response.accessToken.empty() || !std::isfinite(response.expiresIn) || response.expiresIn < 0)
            throw TokenCoordinatorError::invalidTokenResponse();
        return response;
    } catch (const VelmoJSON::DecodingError&) {
        throw TokenCoordinatorError::invalidTokenResponse();
    }
}

} // namespace

TokenCoordinator::TokenCoordinator(std::shared_ptr<CredentialStoring> store, CLICredentialReader reader,
    HTTPClient http, QUrl authServer, double lockTimeout, Clock now)
    : m_store(std::move(store))
    , m_reader(std::move(reader))
    , m_http(std::move(http))
    , m_authServer(std::move(authServer))
    , m_lockTimeout(lockTimeout)
    , m_now(now ? std::move(now) : Clock([] { return std::chrono::system_clock::now(); }))
    , m_gate(std::make_shared<SerialGate>())
{
}

TokenCoordinator TokenCoordinator::platform(std::shared_ptr<CredentialStoring> store, CLICredentialReader reader)
{
    return TokenCoordinator(std::move(store), std::move(reader), HTTPClient::platform(1, 0.3, 30.0, false),
        IdentityProvider::baseURL(), defaultLockTimeout);
}

std::string TokenCoordinator::formEncode(const std::map<std::string, std::string>& fields)
{
    return FormEncoding::encode(fields);
}

QCoro::Task<std::optional<Credential>> TokenCoordinator::refreshIfNeeded(Credential credential, std::stop_token stop) const
{
    if (!credential.canRefresh())
        return []() -> QCoro::Task<std::optional<Credential>> { co_return std::nullopt; }();
    return gated(*this, std::move(credential), false, std::move(stop));
}

QCoro::Task<std::optional<Credential>> TokenCoordinator::refreshAfterUnauthorized(
    Credential credential, std::stop_token stop) const
{
    if (!credential.canRefresh())
        return []() -> QCoro::Task<std::optional<Credential>> { co_return std::nullopt; }();
    return gated(*this, std::move(credential), true, std::move(stop));
}

QCoro::Task<std::optional<Credential>> TokenCoordinator::gated(
    TokenCoordinator self, Credential credential, bool force, std::stop_token stop)
{
    // `self` keeps the shared gate alive for the whole call. Named locals, not
    // temporaries, inside co_await: GCC 12 destroys such temporaries twice.
    const std::shared_ptr<SerialGate> gate = self.m_gate;
    std::function<QCoro::Task<std::optional<Credential>>()> operation
        = [self, credential, force, stop]() { return refresh(self, credential, force, stop); };
    auto task = gate->run<std::optional<Credential>>(std::move(operation), stop);
    co_return co_await std::move(task);
}

QCoro::Task<std::optional<Credential>> TokenCoordinator::refresh(
    TokenCoordinator self, Credential credential, bool force, std::stop_token stop)
{
    if (credential.source == CredentialSource::cliTokens) {
        const CLICredentialLock lock(self.m_reader.lockDirectory());
        const auto timeout = std::chrono::milliseconds(static_cast<std::int64_t>(std::max(0.0, self.m_lockTimeout) * 1000.0));
        std::function<QCoro::Task<std::optional<Credential>>()> body = [self, credential, force, stop]() {
            return rotateCLI(self, credential, force, stop);
        };
        auto task = lock.withLock<std::optional<Credential>>(std::move(body), timeout, stop);
        co_return co_await std::move(task);
    }
    std::optional<StoredTokens> tokens;
    try {
        tokens = self.m_store->load();
    } catch (const std::exception& error) {
        throw Error::persistenceFailed(std::string("cannot read the Keychain session: ") + error.what());
    }
    std::optional<Credential> latest = tokens ? tokens->credential(CredentialSource::app) : std::nullopt;
    const auto store = self.m_store;
    Persist persist = [store](const StoredTokens& record) { store->save(record); };
    auto task = rotate(self, std::move(credential), std::move(latest), force, std::move(persist), std::move(stop));
    co_return co_await std::move(task);
}

QCoro::Task<std::optional<Credential>> TokenCoordinator::rotateCLI(
    TokenCoordinator self, Credential credential, bool force, std::stop_token stop)
{
    std::optional<Credential> latest;
    try {
        latest = self.m_reader.readDetailed();
    } catch (const std::exception& error) {
        throw Error::persistenceFailed(std::string("cannot read ~/.velmo/tokens.json: ") + error.what());
    }
    const CLICredentialReader reader = self.m_reader;
    Persist persist = [reader](const StoredTokens& record) { reader.write(record); };
    auto task = rotate(self, std::move(credential), std::move(latest), force, std::move(persist), std::move(stop));
    co_return co_await std::move(task);
}

QCoro::Task<std::optional<Credential>> TokenCoordinator::rotate(TokenCoordinator self, Credential credential,
    std::optional<Credential> latest, bool force, Persist persist, std::stop_token stop)
{
    if (!latest)
        co_return std::nullopt;
    // Rotated by someone else meanwhile: theirs is the session now.
    if (latest->token != credential.token)
        co_return latest;
    if (!latest->canRefresh())
        co_return std::nullopt;
    const std::string refreshToken = *latest->refreshToken;
    const std::string clientID = *latest->clientID;
    if (!force && latest->expiresAt && *latest->expiresAt > self.m_now() + Credential::expiryMargin)
        co_return latest;

    HTTPRequest request;
    request.method = "POST";
    request.url = IdentityProvider::appending(self.m_authServer, QStringLiteral("oauth/token"));
    request.headers.append(qMakePair(QByteArray("Content-Type"), QByteArray("application/x-www-form-urlencoded")));
    request.body = QByteArray::fromStdString(formEncode({
        { "grant_type", "refresh_token" },
        { "refresh_token", refreshToken },
        { "client_id", clientID },
    }));
    request.timeout = std::chrono::seconds(60);

    HTTPResponse response;
    try {
        auto sending = self.m_http.send(std::move(request), false, stop);
        response = co_await std::move(sending);
    } catch (const CancellationError&) {
        throw;
    } catch (const std::exception& error) {
        throw Error::refreshRejected(error.what());
    }
    throwIfCancelled(stop);
    if (!response.isSuccess())
        throw Error::refreshRejected(errorMessage(response.data, response.status));

    const RefreshResponse reply = decodeRefreshResponse(response.data);
    const double expiresAt = TokenText::toMilliseconds(self.m_now()) + reply.expiresIn * 1000.0;
    if (!std::isfinite(expiresAt))
        throw Error::invalidTokenResponse();
    StoredTokens record {
        .accessToken = reply.accessToken,
        .refreshToken = reply.refreshToken && !reply.refreshToken->empty() ? *reply.refreshToken : refreshToken,
        .expiresAt = expiresAt,
        .clientId = clientID,
    };
    // A reply that is no usable session (an API key) must not replace the
    // stored one.
    auto renewed = record.credential(latest->source);
    if (!renewed)
        throw Error::invalidTokenResponse();
    try {
        persist(record);
    } catch (const std::exception& error) {
        throw Error::persistenceFailed(error.what());
    }
    co_return renewed;
}
