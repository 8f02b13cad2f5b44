#pragma once

#include <nlohmann/json.hpp>

#include <deque>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace velmo::devserver {

// One injected misbehaviour, served instead of the endpoint's real answer.
struct Fault {
    enum class Kind {
        status, // the given status, body and headers
        drop, // headers and half a body, then the connection is closed
        hang, // no answer at all until holdMs passes (or reset/stop)
        garbage, // a 200 whose body is not JSON (binary junk)
        html, // an HTML error page, as a proxy in front of the service sends
    };

    Kind kind = Kind::status;
    int status = 503;
    std::string body;
    std::string contentType;
    // Sent as the Retry-After header when set: seconds or an HTTP date.
    std::optional<std::string> retryAfter;
    // How many answers this fault replaces; -1 means until cleared.
    int count = 1;
    // For hang: how long the request is held before a 504 is sent.
    int holdMs = 30'000;

    static std::string_view kindName(Kind kind);
};

// A misuse of the fault or latency API: the admin endpoint answers 400 with
// what() and the command line refuses to start.
class FaultSpecError : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

// The faults queued per endpoint and the added latency. Not thread-safe: the
// server guards it with its own lock.
class FaultPlan {
public:
    // Endpoints faults and latency can target.
    static constexpr std::string_view endpoints[] = { "balance", "usage", "register", "authorize", "token" };
    static bool isEndpoint(std::string_view name);

    // {"endpoint": "usage", "kind": "status", "status": 503, "count": 2, ...}:
    // see tools/devserver/README.md for every member. Throws FaultSpecError.
    static std::pair<std::string, Fault> parse(const nlohmann::json& spec);
    // The command-line short form ENDPOINT:WHAT[:COUNT[:RETRY_AFTER]], where
    // WHAT is a status code or a kind name ("usage:503:2:5", "token:hang"),
    // or the JSON form when the text starts with "{".
    static std::pair<std::string, Fault> parseArgument(std::string_view text);

    // Queues after the faults already waiting for that endpoint.
    void add(const std::string& endpoint, Fault fault);
    // The fault that replaces the next answer of `endpoint`, if any; consumes one of its count.
    std::optional<Fault> take(const std::string& endpoint);
    // Removes the faults of one endpoint, or of all when `endpoint` is empty.
    void clear(std::string_view endpoint = {});
    std::size_t pending(const std::string& endpoint) const;

    // Added delay before every answer: per endpoint, else the default ("*").
    void setLatency(const std::string& endpoint, int ms);
    int latencyFor(const std::string& endpoint) const;

    nlohmann::json describe() const;

private:
    std::map<std::string, std::deque<Fault>> m_faults;
    std::map<std::string, int> m_latency;
};

// The body of an error answer in one of the shapes clients must read:
// "nested" {"error":{"message":m}}, "error" {"error":m}, "message" {"message":m},
// "text" (m as plain text) or "empty". Returns {body, content type}.
std::pair<std::string, std::string> errorBody(std::string_view shape, const std::string& message);

// The standard reason phrase of an HTTP status ("Service Unavailable").
std::string reasonPhrase(int status);

} // namespace velmo::devserver
