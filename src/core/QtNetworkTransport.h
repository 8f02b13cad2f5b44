#pragma once

#include "HTTPTransport.h"
#include "NetworkError.h"

#include <QNetworkReply>

class QNetworkAccessManager;

// The production transport: Qt's network stack, one QNetworkAccessManager per
// thread. With followsRedirects a redirect is followed within the same origin
// only (a bearer token never travels to another host; such a redirect fails);
// without it every 3xx comes back as an ordinary response.
class QtNetworkTransport final : public HTTPTransport {
public:
    // Bodies beyond this fail with badServerResponse instead of filling memory.
    static constexpr qint64 maxBodyBytes = qint64(16) << 20;

    explicit QtNetworkTransport(bool followsRedirects);

    bool followsRedirects() const { return m_followsRedirects; }

    // The request's timeout bounds the whole exchange (and any pause in it).
    QCoro::Task<HTTPResponse> send(HTTPRequest request, std::stop_token stop) override;

    // Qt's failure codes in our terms.
    static NetworkError::Code codeFor(QNetworkReply::NetworkError error);
    // The calling thread's manager, created on first use. On the
    // application's thread it is owned by the application object.
    static QNetworkAccessManager& manager();
    // Closes this thread's cached connections and lets its manager go (a new
    // one is made on next use). Called before the application object goes
    // away so Qt's network thread ends while the event loop still runs.
    static void releaseManager();

private:
    bool m_followsRedirects;
};
