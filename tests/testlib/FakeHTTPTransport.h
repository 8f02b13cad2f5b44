#pragma once

#include "Cancellation.h"
#include "CancellableSleep.h"
#include "HTTPClient.h"
#include "HTTPTransport.h"
#include "NetworkError.h"

#include <chrono>
#include <deque>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <variant>
#include <vector>

namespace velmo::test {

// A transport that answers from scripts and records what it was asked: a
// URL path with a script of its own answers from it, every other request
// from the shared script, then `otherwise`; with nothing left it answers 599
// so a test sees the extra request instead of hanging. A held answer waits
// until `released` (a stop request ends it, counted in `cancelled`).
class FakeHTTPTransport final : public HTTPTransport {
public:
    using Outcome = std::variant<HTTPResponse, std::exception_ptr>;
    struct Entry {
        Outcome outcome;
        bool held = false;
    };

    void respond(int status, QByteArray body = {}, QList<QPair<QByteArray, QByteArray>> headers = {})
    {
        script.push_back({ HTTPResponse { status, std::move(body), std::move(headers) } });
    }
    void respondTo(const QString& path, int status, QByteArray body = {}, bool held = false)
    {
        routes[path].push_back({ HTTPResponse { status, std::move(body), {} }, held });
    }
    template <typename Error>
    void fail(Error error, const QString& path = {})
    {
        (path.isEmpty() ? script : routes[path]).push_back({ std::make_exception_ptr(std::move(error)) });
    }
    void failWith(NetworkError::Code code, std::string text = "network failure") { fail(NetworkError(code, std::move(text))); }
    // The next request waits until it is cancelled.
    void hang() { script.push_back({ std::exception_ptr() }); }

    QCoro::Task<HTTPResponse> send(HTTPRequest request, std::stop_token stop) override
    {
        requests.push_back(request);
        if (duringRequest)
            duringRequest();
        if (latency.count() > 0)
            co_await cancellableSleep(latency, stop);
        auto route = routes.find(request.url.path());
        auto& queue = route != routes.end() && !route->second.empty() ? route->second : script;
        if (queue.empty())
            co_return otherwise.value_or(HTTPResponse { 599, "script exhausted", {} });
        const Entry next = std::move(queue.front());
        queue.pop_front();
        try {
            while (next.held && !released)
                co_await cancellableSleep(std::chrono::milliseconds(5), stop);
        } catch (const CancellationError&) {
            ++cancelled;
            throw;
        }
        if (auto* response = std::get_if<HTTPResponse>(&next.outcome))
            co_return *response;
        if (!std::get<std::exception_ptr>(next.outcome)) {
            co_await cancellableSleep(std::chrono::hours(1), stop);
            throw std::logic_error("a hung request was not cancelled");
        }
        std::rethrow_exception(std::get<std::exception_ptr>(next.outcome));
    }

    // The header `name` of the last request to `path` ("" when none).
    QByteArray header(const QString& path, const QByteArray& name) const
    {
        for (auto it = requests.rbegin(); it != requests.rend(); ++it)
            if (it->url.path() == path)
                for (const auto& [key, value] : it->headers)
                    if (key == name)
                        return value;
        return {};
    }

    std::deque<Entry> script;
    std::map<QString, std::deque<Entry>> routes;
    std::optional<HTTPResponse> otherwise;
    std::vector<HTTPRequest> requests;
    bool released = false;
    int cancelled = 0;
    // Before each answer: a hook, then a delay (so that overlapping requests would show).
    std::function<void()> duringRequest;
    std::chrono::milliseconds latency { 0 };
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
