#include "QtNetworkTransport.h"

#include "Cancellation.h"

#include <QCoreApplication>
#include <QCoroNetworkReply>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include <memory>

namespace {

// Owns a reply without deleting it under Qt's feet: the manager deletes its
// replies when it goes, so the pointer is guarded.
class ReplyHolder {
public:
    explicit ReplyHolder(QNetworkReply* reply)
        : m_reply(reply)
    {
    }
    ReplyHolder(const ReplyHolder&) = delete;
    ReplyHolder& operator=(const ReplyHolder&) = delete;
    ~ReplyHolder()
    {
        if (m_reply)
            m_reply->deleteLater();
    }
    QNetworkReply* get() const { return m_reply; }

private:
    QPointer<QNetworkReply> m_reply;
};

// How an exchange was ended early by us rather than by the network.
struct EarlyEnd {
    bool tooLarge = false;
    bool deadline = false;
};

// Qt reports HTTP error statuses as reply errors too; these codes mean "the
// server answered with an error status", not that the exchange failed.
bool isStatusError(QNetworkReply::NetworkError error)
{
    switch (error) {
    case QNetworkReply::ProtocolInvalidOperationError: // 400 and 418
    case QNetworkReply::ProxyAuthenticationRequiredError: // 407
        return true;
    default:
        return (error >= QNetworkReply::ContentAccessDenied && error <= QNetworkReply::UnknownContentError)
            || (error >= QNetworkReply::InternalServerError && error <= QNetworkReply::UnknownServerError);
    }
}

QNetworkReply* start(QNetworkAccessManager& manager, const QNetworkRequest& request, const HTTPRequest& http)
{
    const QByteArray& method = http.method;
    if (method == "GET" && http.body.isEmpty())
        return manager.get(request);
    if (method == "HEAD")
        return manager.head(request);
    if (method == "POST")
        return manager.post(request, http.body);
    if (method == "PUT")
        return manager.put(request, http.body);
    if (method == "DELETE" && http.body.isEmpty())
        return manager.deleteResource(request);
    return manager.sendCustomRequest(request, method, http.body);
}

std::string describe(const QNetworkReply& reply)
{
    return reply.errorString().toStdString();
}

} // namespace

QtNetworkTransport::QtNetworkTransport(bool followsRedirects)
    : m_followsRedirects(followsRedirects)
{
}

NetworkError::Code QtNetworkTransport::codeFor(QNetworkReply::NetworkError error)
{
    using Code = NetworkError::Code;
    switch (error) {
    case QNetworkReply::TimeoutError:
        return Code::timedOut;
    case QNetworkReply::RemoteHostClosedError:
        return Code::connectionLost;
    case QNetworkReply::ConnectionRefusedError:
        return Code::cannotConnect;
    case QNetworkReply::HostNotFoundError:
        return Code::cannotFindHost;
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
        return Code::notConnected;
    case QNetworkReply::UnknownNetworkError:
        return Code::resourceUnavailable;
    case QNetworkReply::SslHandshakeFailedError:
        return Code::tlsFailure;
    case QNetworkReply::ProtocolUnknownError:
    case QNetworkReply::ProtocolFailure:
    case QNetworkReply::InsecureRedirectError:
    case QNetworkReply::TooManyRedirectsError:
        return Code::badServerResponse;
    default:
        return Code::other;
    }
}

namespace {
thread_local QPointer<QNetworkAccessManager> threadManager;
}

void QtNetworkTransport::releaseManager()
{
    if (!threadManager)
        return;
    threadManager->clearConnectionCache();
    threadManager->deleteLater();
    threadManager = nullptr;
}

QNetworkAccessManager& QtNetworkTransport::manager()
{
    if (!threadManager) {
        auto* created = new QNetworkAccessManager;
        QCoreApplication* app = QCoreApplication::instance();
        if (app && app->thread() == QThread::currentThread())
            created->setParent(app);
        else
            QObject::connect(QThread::currentThread(), &QThread::finished, created, &QObject::deleteLater);
        threadManager = created;
    }
    return *threadManager;
}

QCoro::Task<HTTPResponse> QtNetworkTransport::send(HTTPRequest request, std::stop_token stop)
{
    throwIfCancelled(stop);
    const QString scheme = request.url.scheme().toLower();
    if (!request.url.isValid() || (scheme != u"https" && scheme != u"http") || request.url.host().isEmpty())
        throw NetworkError(NetworkError::Code::other,
            "Unsupported URL: " + request.url.toDisplayString().toStdString());

    QNetworkRequest networkRequest(request.url);
    for (const auto& [name, value] : request.headers)
        networkRequest.setRawHeader(name, value);
    networkRequest.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
        m_followsRedirects ? QNetworkRequest::SameOriginRedirectPolicy : QNetworkRequest::ManualRedirectPolicy);
    if (request.timeout.count() > 0)
        networkRequest.setTransferTimeout(static_cast<int>(std::min<qint64>(request.timeout.count(), INT_MAX)));

    const ReplyHolder reply(start(manager(), networkRequest, request));
    auto early = std::make_shared<EarlyEnd>();
    QNetworkReply* raw = reply.get();

    // A body larger than the cap is cut off as soon as it is announced or seen
    // (downloadProgress is throttled by Qt; these two signals are not).
    const auto cutOffIfTooLarge = [raw, early] {
        const QVariant announced = raw->header(QNetworkRequest::ContentLengthHeader);
        if (raw->bytesAvailable() > maxBodyBytes || (announced.isValid() && announced.toLongLong() > maxBodyBytes)) {
            early->tooLarge = true;
            raw->abort();
        }
    };
    QObject::connect(raw, &QNetworkReply::metaDataChanged, raw, cutOffIfTooLarge);
    QObject::connect(raw, &QNetworkReply::readyRead, raw, cutOffIfTooLarge);
    // The transfer timeout restarts on every byte; this bounds the whole exchange.
    QTimer deadline;
    if (request.timeout.count() > 0) {
        deadline.setSingleShot(true);
        QObject::connect(&deadline, &QTimer::timeout, raw, [raw, early] {
            early->deadline = true;
            raw->abort();
        });
        deadline.start(request.timeout);
    }
    // A stop may come from any thread: abort on the reply's own thread. The
    // queued call is dropped if the reply is gone by then.
    std::stop_callback onStop(stop, [raw] {
        QMetaObject::invokeMethod(raw, [raw] { raw->abort(); }, Qt::QueuedConnection);
    });

    co_await raw;
    deadline.stop();

    throwIfCancelled(stop);
    if (!reply.get()) // the manager went away under the request
        throw NetworkError(NetworkError::Code::other, "The request was abandoned");
    if (early->tooLarge)
        throw NetworkError(NetworkError::Code::badServerResponse, "The response is larger than 16 MiB");
    if (early->deadline)
        throw NetworkError(NetworkError::Code::timedOut, "The request timed out");

    const QNetworkReply::NetworkError error = raw->error();
    const QVariant status = raw->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (error != QNetworkReply::NoError && !(isStatusError(error) && status.isValid())) {
        if (error == QNetworkReply::InsecureRedirectError)
            throw NetworkError(NetworkError::Code::badServerResponse, "Redirect to another origin refused");
        if (error == QNetworkReply::OperationCanceledError && request.timeout.count() > 0)
            // Qt ends a stalled transfer this way; we did not cancel it.
            throw NetworkError(NetworkError::Code::timedOut, "The request timed out");
        throw NetworkError(codeFor(error), describe(*raw));
    }
    if (!status.isValid())
        throw NetworkError(NetworkError::Code::badServerResponse, "The response is not an HTTP response");

    HTTPResponse response;
    response.status = status.toInt();
    response.data = raw->readAll();
    if (response.data.size() > maxBodyBytes)
        throw NetworkError(NetworkError::Code::badServerResponse, "The response is larger than 16 MiB");
    for (const auto& [name, value] : raw->rawHeaderPairs()) {
        // One value per name: a later field replaces an earlier one.
        auto same = std::find_if(response.headers.begin(), response.headers.end(),
            [&name = name](const auto& field) { return field.first.compare(name, Qt::CaseInsensitive) == 0; });
        if (same != response.headers.end())
            response.headers.erase(same);
        response.headers.append({ name, value });
    }
    co_return response;
}
