#include "VelmoClient.h"

#include "Cancellation.h"
#include "NetworkError.h"
#include "VelmoError.h"
#include "VelmoJSON.h"

#include <QUrlQuery>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <optional>

namespace {

constexpr auto defaultProductionBaseURL = "https://api.velmo.ai";
constexpr auto defaultConsoleURL = "https://console.velmo.ai";
// Error texts longer than this are cut: a whole HTML page is no message.
constexpr qsizetype maxMessageLength = 2000;

QUrl urlFromEnvironment(const char* variable, const char* fallback)
{
    const QString override = qEnvironmentVariable(variable).trimmed();
    if (!override.isEmpty()) {
        const QUrl url(override, QUrl::StrictMode);
        if (url.isValid() && !url.scheme().isEmpty() && !url.host().isEmpty())
            return url;
    }
    return QUrl(QString::fromLatin1(fallback));
}

std::string limited(const QString& text)
{
    if (text.size() <= maxMessageLength)
        return text.toStdString();
    qsizetype cut = maxMessageLength;
    if (text.at(cut - 1).isHighSurrogate())
        --cut; // never split a character
    return (text.left(cut) + QChar(0x2026)).toStdString();
}

std::optional<std::string> messageFromJSON(const QByteArray& body)
{
    VelmoJSON::Json document;
    try {
        document = VelmoJSON::parse(std::string_view(body.constData(), static_cast<std::size_t>(body.size())));
    } catch (const std::exception&) {
        return std::nullopt;
    }
    if (!document.is_object())
        return std::nullopt;
    const auto error = document.find("error");
    if (error != document.end() && error->is_object()) {
        const auto message = error->find("message");
        if (message != error->end() && message->is_string())
            return message->get<std::string>();
    }
    if (error != document.end() && error->is_string())
        return error->get<std::string>();
    const auto message = document.find("message");
    if (message != document.end() && message->is_string())
        return message->get<std::string>();
    return std::nullopt;
}

// Control characters in a header value would end the header early.
bool isHeaderSafe(const QString& text)
{
    return std::none_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7f; });
}

template <typename T>
QCoro::Task<T> fetch(HTTPClient http, HTTPRequest request, bool credentialIsSafe, std::stop_token stop)
{
    if (!credentialIsSafe)
        throw VelmoError::unauthorized("the token contains control characters");
    HTTPResponse response;
    try {
        response = co_await http.send(std::move(request), /*idempotent*/ true, stop);
    } catch (const CancellationError&) {
        throw;
    } catch (const std::exception& error) {
        throw VelmoError::network(error.what());
    }
    if (!response.isSuccess()) {
        std::string message = VelmoClient::errorMessage(response.data, response.status);
        if (response.status == 401 || response.status == 403)
            throw VelmoError::unauthorized(std::move(message));
        throw VelmoError::http(response.status, std::move(message));
    }
    try {
        co_return VelmoJSON::decode<T>(std::string_view(response.data.constData(), static_cast<std::size_t>(response.data.size())));
    } catch (const VelmoJSON::DecodingError& error) {
        throw VelmoError::decoding(error.detailedDescription());
    } catch (const std::exception& error) {
        throw VelmoError::decoding(error.what());
    }
}

} // namespace

QUrl VelmoClient::productionBaseURL()
{
    return urlFromEnvironment("VELMO_API_URL", defaultProductionBaseURL);
}

QUrl VelmoClient::consoleURL()
{
    return urlFromEnvironment("VELMO_CONSOLE_URL", defaultConsoleURL);
}

VelmoClient::VelmoClient(const QUrl& baseURL, HTTPClient http, QString source)
    : m_baseURL(normalizedBaseURL(baseURL))
    , m_http(std::move(http))
    , m_source(std::move(source))
{
}

HTTPClient VelmoClient::defaultHTTPClient()
{
    return HTTPClient::platform(3, 0.3, 30, /*followsRedirects*/ true);
}

QUrl VelmoClient::normalizedBaseURL(const QUrl& url)
{
    QString text = url.toString(QUrl::FullyEncoded);
    while (text.endsWith(u'/'))
        text.chop(1);
    if (text.endsWith(u"/apis/v1"))
        text.chop(8);
    if (text.endsWith(u"/v1"))
        text.chop(3);
    const QUrl parsed(text, QUrl::StrictMode);
    if (text.isEmpty() || !parsed.isValid())
        return url;
    return parsed;
}

HTTPRequest VelmoClient::request(const QString& path, const QList<QPair<QString, QString>>& query, const QString& credential) const
{
    QUrl url = m_baseURL;
    QString basePath = url.path();
    while (basePath.endsWith(u'/'))
        basePath.chop(1);
    url.setPath(basePath + u'/' + path);
    url.setFragment(QString());
    if (query.isEmpty()) {
        url.setQuery(QString());
    } else {
        QUrlQuery items;
        items.setQueryItems(query);
        url.setQuery(items);
    }
    HTTPRequest request;
    request.method = "GET";
    request.url = url;
    request.headers = {
        { "Authorization", "Bearer " + credential.toUtf8() },
        { "Content-Type", "application/json" },
        { "Accept", "application/json" },
        { "x-velmo-source", m_source.toUtf8() },
    };
    request.timeout = std::chrono::seconds(60);
    return request;
}

HTTPRequest VelmoClient::balanceRequest(const QString& credential) const
{
    return request(QStringLiteral("v1/credits/balance"), {}, credential);
}

HTTPRequest VelmoClient::usageRequest(const QString& credential, Timestamp start, Timestamp end, UsageScope scope) const
{
    const auto epochSeconds = [](Timestamp instant) {
        // duration_cast truncates toward zero, before 1970 too.
        return QString::number(std::chrono::duration_cast<std::chrono::seconds>(instant.time_since_epoch()).count());
    };
    return request(QStringLiteral("v1/usage"),
        {
            { QStringLiteral("start_time"), epochSeconds(start) },
            { QStringLiteral("end_time"), epochSeconds(end) },
            { QStringLiteral("bucket_width"), QStringLiteral("1d") },
            { QStringLiteral("scope"), QString::fromUtf8(usageScopeText(scope).data(), static_cast<qsizetype>(usageScopeText(scope).size())) },
        },
        credential);
}

QCoro::Task<Balance> VelmoClient::balance(QString credential, std::stop_token stop) const
{
    return fetch<Balance>(m_http, balanceRequest(credential), isHeaderSafe(credential), std::move(stop));
}

QCoro::Task<UsageSummary> VelmoClient::usage(QString credential, Timestamp start, Timestamp end, UsageScope scope,
    std::stop_token stop) const
{
    return fetch<UsageSummary>(m_http, usageRequest(credential, start, end, scope), isHeaderSafe(credential), std::move(stop));
}

std::string VelmoClient::errorMessage(const QByteArray& body, int status)
{
    if (auto message = messageFromJSON(body))
        return limited(QString::fromStdString(*message));
    const QString text = QString::fromUtf8(body).trimmed();
    if (!text.isEmpty())
        return limited(text);
    return reasonPhrase(status);
}

std::string VelmoClient::reasonPhrase(int status)
{
    switch (status) {
    case 100: return "continue";
    case 101: return "switching protocols";
    case 200: return "ok";
    case 201: return "created";
    case 202: return "accepted";
    case 203: return "non-authoritative information";
    case 204: return "no content";
    case 205: return "reset content";
    case 206: return "partial content";
    case 300: return "multiple choices";
    case 301: return "moved permanently";
    case 302: return "found";
    case 303: return "see other";
    case 304: return "not modified";
    case 305: return "use proxy";
    case 307: return "temporary redirect";
    case 308: return "permanent redirect";
    case 400: return "bad request";
    case 401: return "unauthorized";
    case 402: return "payment required";
    case 403: return "forbidden";
    case 404: return "not found";
    case 405: return "method not allowed";
    case 406: return "not acceptable";
    case 407: return "proxy authentication required";
    case 408: return "request timeout";
    case 409: return "conflict";
    case 410: return "gone";
    case 411: return "length required";
    case 412: return "precondition failed";
    case 413: return "payload too large";
    case 414: return "uri too long";
    case 415: return "unsupported media type";
    case 416: return "range not satisfiable";
    case 417: return "expectation failed";
    case 418: return "i'm a teapot";
    case 421: return "misdirected request";
    case 422: return "unprocessable entity";
    case 423: return "locked";
    case 424: return "failed dependency";
    case 425: return "too early";
    case 426: return "upgrade required";
    case 428: return "precondition required";
    case 429: return "too many requests";
    case 431: return "request header fields too large";
    case 451: return "unavailable for legal reasons";
    case 500: return "internal server error";
    case 501: return "not implemented";
    case 502: return "bad gateway";
    case 503: return "service unavailable";
    case 504: return "gateway timeout";
    case 505: return "http version not supported";
    case 507: return "insufficient storage";
    case 508: return "loop detected";
    case 511: return "network authentication required";
    default:
        break;
    }
    if (status >= 100 && status <= 199)
        return "informational";
    if (status >= 200 && status <= 299)
        return "success";
    if (status >= 300 && status <= 399)
        return "redirected";
    if (status >= 400 && status <= 499)
        return "client error";
    if (status >= 500 && status <= 599)
        return "server error";
    return "unknown status";
}
