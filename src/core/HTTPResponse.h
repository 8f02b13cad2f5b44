#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QPair>

#include <optional>

// A whole HTTP response: status, body read into memory, header fields.
struct HTTPResponse {
    int status = 0;
    QByteArray data;
    QList<QPair<QByteArray, QByteArray>> headers; // one value per name

    // 200...299.
    bool isSuccess() const { return status >= 200 && status <= 299; }
    // The value of the first field whose name matches ignoring letter case.
    std::optional<QByteArray> header(QByteArrayView name) const;

    friend bool operator==(const HTTPResponse&, const HTTPResponse&) = default;
};
