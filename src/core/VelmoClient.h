#pragma once

#include "Balance.h"
#include "HTTPClient.h"
#include "Timestamp.h"
#include "Usage.h"

#include <QByteArray>
#include <QCoroTask>
#include <QString>
#include <QUrl>

#include <stop_token>
#include <string>

// The service's API client: the balance and usage endpoints with a bearer
// token. A copyable value. Every failure is a VelmoError, except that a
// stop request ends a call with CancellationError.
class VelmoClient {
public:
    // The built-in API origin; VELMO_API_URL overrides it.
    static QUrl productionBaseURL();
    // The web console; VELMO_CONSOLE_URL overrides it.
    static QUrl consoleURL();

    // `baseURL` is normalized: trailing "/", then "/apis/v1" or "/v1" go.
    VelmoClient(const QUrl& baseURL, HTTPClient http, QString source = QStringLiteral("menubar"));

    // The client the application uses: followed redirects, 3 attempts,
    // 0.3 s back-off, 30 s timeout.
    static HTTPClient defaultHTTPClient();

    const QUrl& baseURL() const { return m_baseURL; }
    const HTTPClient& http() const { return m_http; }
    const QString& source() const { return m_source; }

    // GET v1/credits/balance.
    QCoro::Task<Balance> balance(QString credential, std::stop_token stop = {}) const;
    // GET v1/usage?start_time=…&end_time=…&bucket_width=1d&scope=…
    QCoro::Task<UsageSummary> usage(QString credential, Timestamp start, Timestamp end, UsageScope scope,
        std::stop_token stop = {}) const;

    // The requests as they are sent (before the HTTP client sets its timeout).
    HTTPRequest balanceRequest(const QString& credential) const;
    HTTPRequest usageRequest(const QString& credential, Timestamp start, Timestamp end, UsageScope scope) const;

    // The readable message of an unsuccessful response: the JSON body's
    // error.message, error or message string; else the trimmed body text;
    // else the status's reason phrase in lower case.
    static std::string errorMessage(const QByteArray& body, int status);
    // "not found" for 404 and so on; a class name for statuses without one.
    static std::string reasonPhrase(int status);

    static QUrl normalizedBaseURL(const QUrl& url);

private:
    HTTPRequest request(const QString& path, const QList<QPair<QString, QString>>& query, const QString& credential) const;

    QUrl m_baseURL;
    HTTPClient m_http;
    QString m_source;
};
