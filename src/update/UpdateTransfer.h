#pragma once

#include <QByteArray>
#include <QCoroTask>
#include <QUrl>

#include <functional>
#include <stop_token>

class QIODevice;

// The updater's network: the feed and the downloads, over https only (plain
// http only to this computer's loopback addresses, for tests and the demo).
// Failures throw UpdateError; a stop request throws CancellationError.
namespace UpdateTransfer {

// https anywhere, or http to 127.0.0.0/8, ::1 or localhost.
bool isAllowed(const QUrl& url);

// The whole feed. Redirects are followed to allowed addresses only; a feed
// beyond Appcast::maxFeedBytes is cut off and refused.
QCoro::Task<QByteArray> fetchFeed(QUrl url, std::stop_token stop);

using Progress = std::function<void(qint64 received, qint64 expected)>;

// Streams the body into `sink` (open for writing). Redirects are followed
// only on the same host. `expectedLength` (0 when unknown) bounds what is
// accepted, so a server cannot fill the disk; `progress` sees every chunk.
QCoro::Task<> download(
    QUrl url, QIODevice* sink, qint64 expectedLength, Progress progress, std::stop_token stop);

} // namespace UpdateTransfer
