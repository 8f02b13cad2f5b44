#pragma once

#include "Cancellation.h"
#include "CancellableSleep.h"
#include "HTTPClient.h"
#include "HTTPTransport.h"
#include "NetworkError.h"

#include <chrono>
#include <deque>
#include <exception>
#include <memory>
#include <variant>
#include <vector>

namespace velmo::test {

// A transport that answers from a script, one entry per request, and records
// what it was asked. An exhausted script answers 599 so a test sees the
// extra request instead of hanging.
class FakeHTTPTransport final : public HTTPTransport {
public:
    using Outcome = std::variant<HTTPResponse, std::exception_ptr>;

    void respond(int status, QByteArray body = {}, QList<QPair<QByteArray, QByteArray>> headers = {})
    {
        script.push_back(HTTPResponse { status, std::move(body), std::move(headers) });
    }
    template <typename Error>
    void fail(Error error) { script.push_back(std::make_exception_ptr(std::move(error))); }
    void failWith(NetworkError::Code code, std::string text = "network failure") { fail(NetworkError(code, std::move(text))); }
    // The next request waits until it is cancelled.
    void hang() { script.push_back(std::exception_ptr()); }

    QCoro::Task<HTTPResponse> send(HTTPRequest request, std::stop_token stop) override
    {
        requests.push_back(request);
        if (script.empty())
            co_return HTTPResponse { 599, "script exhausted", {} };
        Outcome next = std::move(script.front());
        script.pop_front();
        if (auto* response = std::get_if<HTTPResponse>(&next))
            co_return *response;
        auto error = std::get<std::exception_ptr>(next);
        if (!error) {
            co_await cancellableSleep(std::chrono::hours(1), stop);
            throw std::logic_error("a hung request was not cancelled");
        }
        std::rethrow_exception(error);
    }

    std::deque<Outcome> script;
    std::vector<HTTPRequest> requests;
};

// Records back-off waits instead of sleeping; still honours cancellation.
struct RecordedWaits {
    std::vector<std::chrono::milliseconds> waits;

    HTTPClient::Sleeper sleeper()
    {
        return [this](std::chrono::milliseconds duration, std::stop_token stop) -> QCoro::Task<> {
            waits.push_back(duration);
            throwIfCancelled(stop);
            co_return;
        };
    }
};

} // namespace velmo::test
