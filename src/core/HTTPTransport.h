#pragma once

#include "HTTPRequest.h"
#include "HTTPResponse.h"

#include <QCoroTask>

#include <stop_token>

// Sends one request and waits for the whole response; no retries. Any status
// is a response. Fails with NetworkError when no complete response arrives,
// and with CancellationError when `stop` is requested.
class HTTPTransport {
public:
    virtual ~HTTPTransport() = default;
    virtual QCoro::Task<HTTPResponse> send(HTTPRequest request, std::stop_token stop) = 0;
};
