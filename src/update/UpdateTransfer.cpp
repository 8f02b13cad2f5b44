#include "UpdateTransfer.h"

#include "AppInfo.h"
#include "Appcast.h"
#include "Cancellation.h"
#include "QtNetworkTransport.h"
#include "SafeText.h"
#include "UpdateError.h"

#include <QCoroNetworkReply>
#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QScopeGuard>

namespace {

// Without a length from the feed a download may not grow beyond this.
constexpr qint64 maxDownloadBytes = qint64(1) << 30;
// A transfer that stalls this long fails.
constexpr int stallTimeoutMs = 60'000;

enum class Redirects { allowedAddresses, sameHost };

struct Limits {
    qint64 maxBytes;
    QString tooLarge; // the failure when the body goes beyond maxBytes
};

QString shown(const QUrl& url)
{
    return SafeText::clean(url.toDisplayString(QUrl::RemoveUserInfo));
}

void requireAllowed(const QUrl& url)
{
    if (!UpdateTransfer::isAllowed(url))
        throw UpdateError(QStringLiteral("Refusing the insecure address %1: updates travel over https only.")
                              .arg(shown(url)));
}

// Sends one GET and feeds the body to `consume` as it arrives.
QCoro::Task<> transfer(QUrl url, Redirects redirects, Limits limits,
    std::function<void(const QByteArray&)> consume, UpdateTransfer::Progress progress, std::stop_token stop)
{
    throwIfCancelled(stop);
    requireAllowed(url);
    QNetworkRequest request(url);
    request.setAttribute(
        QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::UserVerifiedRedirectPolicy);
    request.setMaximumRedirectsAllowed(5);
    // Feed hosts see who asks, as with other appcast clients.
    request.setHeader(QNetworkRequest::UserAgentHeader,
        QStringLiteral("VelmoUsage/%1").arg(AppInfo::current().versionLabel()));
    request.setTransferTimeout(stallTimeoutMs);
    QPointer<QNetworkReply> reply = QtNetworkTransport::manager().get(request);
    const auto release = qScopeGuard([reply] {
        if (!reply)
            return;
        // The handlers below point into this frame.
        QObject::disconnect(reply, nullptr, nullptr, nullptr);
        reply->deleteLater();
    });
    QNetworkReply* raw = reply.data();

    QString refusal; // why we ended the exchange ourselves
    qint64 received = 0;
    const auto refuse = [raw, &refusal](const QString& why) {
        if (refusal.isEmpty())
            refusal = why;
        raw->abort();
    };
    QObject::connect(raw, &QNetworkReply::redirected, raw, [&, raw](const QUrl& target) {
        const bool sameHost = target.host().compare(url.host(), Qt::CaseInsensitive) == 0;
        if (!UpdateTransfer::isAllowed(target))
            refuse(QStringLiteral("Refusing the redirect to the insecure address %1.").arg(shown(target)));
        else if (redirects == Redirects::sameHost && !sameHost)
            refuse(
                QStringLiteral("Refusing the download's redirect to another host (%1).").arg(shown(target)));
        else
            emit raw->redirectAllowed();
    });
    const auto drain = [&, raw] {
        if (!refusal.isEmpty())
            return;
        const QVariant status = raw->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        if (status.isValid() && status.toInt() / 100 == 3)
            return; // a redirect's own body
        if (status.isValid() && status.toInt() != 200) {
            refuse(QStringLiteral("The server answered HTTP %1 for %2.")
                       .arg(status.toInt())
                       .arg(shown(raw->url())));
            return;
        }
        const QVariant announced = raw->header(QNetworkRequest::ContentLengthHeader);
        if (announced.isValid() && announced.toLongLong() > limits.maxBytes) {
            refuse(limits.tooLarge);
            return;
        }
        const QByteArray chunk = raw->readAll();
        received += chunk.size();
        if (received > limits.maxBytes) {
            refuse(limits.tooLarge);
            return;
        }
        try {
            consume(chunk);
        } catch (const UpdateError& e) {
            refuse(e.message());
            return;
        }
        if (progress && !chunk.isEmpty())
            progress(received, announced.isValid() ? announced.toLongLong() : -1);
    };
    QObject::connect(raw, &QNetworkReply::metaDataChanged, raw, drain);
    QObject::connect(raw, &QNetworkReply::readyRead, raw, drain);
    // A stop may come from any thread: abort on the reply's own thread,
    // unless it has finished meanwhile (aborting then makes Qt complain).
    std::stop_callback onStop(stop, [raw] {
        QMetaObject::invokeMethod(
            raw,
            [raw] {
                if (!raw->isFinished())
                    raw->abort();
            },
            Qt::QueuedConnection);
    });

    co_await raw;
    throwIfCancelled(stop);
    if (!reply)
        throw UpdateError(QStringLiteral("The transfer was abandoned."));
    if (refusal.isEmpty() && raw->error() == QNetworkReply::NoError)
        drain();
    if (!refusal.isEmpty())
        throw UpdateError(refusal);
    if (raw->error() != QNetworkReply::NoError)
        throw UpdateError(QStringLiteral("%1 (%2)").arg(SafeText::clean(raw->errorString()), shown(url)));
}

} // namespace

bool UpdateTransfer::isAllowed(const QUrl& url)
{
    if (!url.isValid() || url.host().isEmpty())
        return false;
    const QString scheme = url.scheme().toLower();
    if (scheme == u"https")
        return true;
    if (scheme != u"http")
        return false;
    const QString host = url.host().toLower();
    return host == u"localhost" || QHostAddress(host).isLoopback();
}

QCoro::Task<QByteArray> UpdateTransfer::fetchFeed(QUrl url, std::stop_token stop)
{
    QByteArray feed;
    const Limits limits { Appcast::maxFeedBytes,
        QStringLiteral("The update feed is larger than %1 MiB.").arg(Appcast::maxFeedBytes >> 20) };
    auto task = transfer(
        url, Redirects::allowedAddresses, limits, [&feed](const QByteArray& chunk) { feed += chunk; }, {},
        stop);
    co_await std::move(task);
    co_return feed;
}

QCoro::Task<> UpdateTransfer::download(
    QUrl url, QIODevice* sink, qint64 expectedLength, Progress progress, std::stop_token stop)
{
    const Limits limits { expectedLength > 0 ? expectedLength : maxDownloadBytes,
        // More bytes than the feed announced is a length mismatch.
        expectedLength > 0 ? UpdateError::improperlySigned().message()
                           : QStringLiteral("The download is larger than 1 GiB.") };
    const auto write = [sink](const QByteArray& chunk) {
        if (sink->write(chunk) != chunk.size())
            throw UpdateError(QStringLiteral("Could not save the update: %1").arg(sink->errorString()));
    };
    const auto report = [progress, expectedLength](qint64 received, qint64 announced) {
        if (progress)
            progress(received, expectedLength > 0 ? expectedLength : announced);
    };
    auto task = transfer(url, Redirects::sameHost, limits, write, report, stop);
    co_await std::move(task);
}
