#include "TokenCoordinator.h"

#include "Cancellation.h"
#include "FormEncoding.h"
#include "IdentityProvider.h"
#include "Log.h"
#include "SafeText.h"
#include "SessionLock.h"
#include "TokenText.h"
#include "VelmoClient.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <nlohmann/json.hpp>

#include <cmath>

namespace {

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
        // Such a token would be refused in every request header later.
        if (TokenText::hasControlCharacters(response.accessToken)
            || (response.refreshToken && TokenText::hasControlCharacters(*response.refreshToken)))
            throw TokenCoordinatorError::invalidTokenResponse();
        return response;
    } catch (const VelmoJSON::DecodingError&) {
        throw TokenCoordinatorError::invalidTokenResponse();
    }
}

// An unsuccessful answer of the token endpoint. The provider's RFC 6749
// error says whether the grant itself was refused (revoked or unknown refresh
// token or client: only a new sign-in helps) or the failure may pass.
TokenCoordinatorError rejection(const HTTPResponse& response)
{
    std::string code;
    std::string description;
    try {
        const auto json = VelmoJSON::parse(response.data.toStdString());
        if (json.is_object()) {
            if (const auto error = json.find("error"); error != json.end() && error->is_string())
                code = error->get<std::string>();
            if (const auto text = json.find("error_description"); text != json.end() && text->is_string())
                description = text->get<std::string>();
        }
    } catch (const VelmoJSON::DecodingError&) {
    }
    const bool refused
        = (response.status == 400 || response.status == 401) && (code == "invalid_grant" || code == "invalid_client");
    std::string message = !description.empty() ? description
        : !code.empty()                          ? code
                                                 : VelmoClient::errorMessage(response.data, response.status);
    return TokenCoordinatorError::refreshRejected(std::move(message), refused);
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
    , m_unsaved(std::make_shared<std::optional<Unsaved>>())
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
    const bool cli = credential.source == CredentialSource::cliTokens;
    const std::optional<std::string> lockPath = cli ? self.m_reader.lockDirectory() : self.m_store->lockPath();
    const Storage storage = self.storage(credential.source);
    std::function<QCoro::Task<std::optional<Credential>>()> body = [self, credential, force, storage, stop]() {
        return rotate(self, credential, force, storage, stop);
    };
    if (!lockPath) {
        auto task = body();
        co_return co_await std::move(task);
    }
    // The app's data folder (private) may not exist yet; ~/.velmo belongs to
    // the tool (without it, the lock is waited on like a held one).
    const QString folder = QFileInfo(QString::fromStdString(*lockPath)).absolutePath();
    if (!cli && !QFileInfo::exists(folder) && QDir().mkpath(folder))
        QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const SessionLock lock(*lockPath, cli ? std::vector { self.m_reader.keyFile() } : std::vector<std::string> {});
    const auto timeout = std::chrono::milliseconds(static_cast<std::int64_t>(std::max(0.0, self.m_lockTimeout) * 1000.0));
    auto task = lock.withLock<std::optional<Credential>>(std::move(body), timeout, stop);
    co_return co_await std::move(task);
}

TokenCoordinator::Storage TokenCoordinator::storage(CredentialSource source) const
{
    if (source == CredentialSource::cliTokens) {
        const CLICredentialReader reader = m_reader;
        return {
            .load = [reader] {
                try {
                    return reader.readDetailed();
                } catch (const std::exception& error) {
                    throw Error::persistenceFailed(std::string("cannot read ~/.velmo/tokens.json: ") + error.what());
                }
            },
            .save = [reader](const StoredTokens& record) { reader.write(record); },
            .reserve = [reader] { return reader.reserveWrite(); },
        };
    }
    const std::shared_ptr<CredentialStoring> store = m_store;
    return {
        .load = [store]() -> std::optional<Credential> {
            std::optional<StoredTokens> tokens;
            try {
                tokens = store->load();
            } catch (const std::exception& error) {
                throw Error::persistenceFailed(std::string("cannot read the Keychain session: ") + error.what());
            }
            return tokens ? tokens->credential(CredentialSource::app) : std::nullopt;
        },
        .save = [store](const StoredTokens& record) { store->save(record); },
        .reserve = [store] { return store->reserveSave(); },
    };
}

std::optional<Credential> TokenCoordinator::readLatest(const Storage& storage, CredentialSource source) const
{
    std::optional<Credential> stored = storage.load();
    std::optional<Unsaved>& unsaved = *m_unsaved;
    if (!unsaved || unsaved->credential.source != source)
        return stored;
    // Storage moved on (a sign-out, a new sign-in, the tool): that counts.
    if (!stored || stored->token != unsaved->replacedToken) {
        unsaved.reset();
        return stored;
    }
    try {
        storage.save(unsaved->record);
    } catch (const std::exception& error) {
        unsaved->reason = error.what();
        return unsaved->credential;
    }
    qCInfo(Log::auth, "the refreshed session is saved now");
    const Credential saved = unsaved->credential;
    unsaved.reset();
    return saved;
}

std::optional<Credential> TokenCoordinator::preferUnsaved(std::optional<Credential> resolved) const
{
    const std::optional<Unsaved>& unsaved = *m_unsaved;
    if (unsaved && resolved && resolved->source == unsaved->credential.source && resolved->token == unsaved->replacedToken)
        return unsaved->credential;
    return resolved;
}

std::optional<std::string> TokenCoordinator::unsavedReason(const std::optional<Credential>& inUse) const
{
    const std::optional<Unsaved>& unsaved = *m_unsaved;
    if (!unsaved || inUse != unsaved->credential)
        return std::nullopt;
    return Error::persistenceFailed(unsaved->reason).what();
}

QCoro::Task<std::optional<Credential>> TokenCoordinator::rotate(
    TokenCoordinator self, Credential credential, bool force, Storage storage, std::stop_token stop)
{
    const std::optional<Credential> latest = self.readLatest(storage, credential.source);
    // Storage still holds a spent session: this one lives in memory only.
    const bool inMemory = self.m_unsaved->has_value() && latest == (*self.m_unsaved)->credential;
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

    // Room for the new record before the refresh token is spent: without it
    // nothing is sent, and the stored session stays usable.
    std::unique_ptr<SaveReservation> reservation;
    if (!inMemory) {
        try {
            reservation = storage.reserve();
        } catch (const std::exception& error) {
            throw Error::persistenceFailed(error.what());
        }
    }

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
    // From here on the old refresh token may be spent: an answer is saved
    // even when the caller has stopped waiting for it.
    if (!response.isSuccess())
        throw rejection(response);

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
    const std::string replaced = inMemory ? (*self.m_unsaved)->replacedToken : latest->token;
    try {
        if (reservation)
            reservation->commit(record);
        else
            storage.save(record);
        self.m_unsaved->reset();
    } catch (const std::exception& error) {
        *self.m_unsaved = Unsaved { *renewed, record, replaced, error.what() };
        qCWarning(Log::auth, "could not save the refreshed session (%s); it is kept in memory",
            SafeText::clean(std::string_view(error.what())).c_str());
    }
    co_return renewed;
}
