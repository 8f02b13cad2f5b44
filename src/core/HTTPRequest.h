#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QUrl>

#include <chrono>

// One HTTP request as a transport sends it.
struct HTTPRequest {
    QByteArray method = "GET";
    QUrl url;
    QList<QPair<QByteArray, QByteArray>> headers; // sent in this order
    QByteArray body;
    // Set by HTTPClient on every attempt; zero means no time limit.
    std::chrono::milliseconds timeout { 0 };
};
