#pragma once

#include "FaultPlan.h"
#include "OAuthProvider.h"

#include <nlohmann/json.hpp>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace httplib {
class Server;
struct Request;
struct Response;
} // namespace httplib

namespace velmo::devserver {

struct DevServerOptions {
    OAuthProvider::Config oauth;
    // Added before every answer of the service endpoints.
    int latencyMs = 0;
    // Queued at start (from --fault); a reset does not bring them back.
    std::vector<std::pair<std::string, Fault>> faults;
    // No request log on standard error.
    bool quiet = false;
    // Worker threads; held ("hang") requests each keep one busy.
    std::size_t threads = 32;
};

// The local stand-in for the service's API and its identity provider, with an
// admin API for tests. Listens on 127.0.0.1 only. Requests are served on a
// thread pool; every piece of state sits behind one mutex.
class DevServer {
public:
    explicit DevServer(DevServerOptions options);
    ~DevServer();

    DevServer(const DevServer&) = delete;
    DevServer& operator=(const DevServer&) = delete;

    // Binds 127.0.0.1:`port` (0: an ephemeral port) and returns the port.
    // Throws std::runtime_error when the port cannot be had.
    int bind(int port);
    // Serves until stop(); call after bind().
    void run();
    // From any thread: releases held requests and ends run().
    void stop();
    int port() const { return m_port; }

    // The admin API's session issue, for --write-cli-tokens.
    nlohmann::json issueSession(std::optional<std::int64_t> expiresIn = std::nullopt);

private:
    using Lock = std::unique_lock<std::mutex>;

    void installServiceRoutes();
    void installAdminRoutes();
    // One service endpoint: counts the request, waits out the latency, then
    // serves a queued fault or `answer` (called under the lock).
    void serve(const std::string& endpoint, const httplib::Request& req, httplib::Response& res,
        const std::function<Reply()>& answer);
    void serveFault(const Fault& fault, Lock& lock, httplib::Response& res);
    // Waits up to `duration`; returns early on reset or stop.
    void hold(Lock& lock, std::chrono::milliseconds duration);
    Reply apiAuthorizationFailure(const httplib::Request& req) const;
    Reply usageAnswer(const httplib::Request& req) const;
    void resetLocked();
    nlohmann::json countersLocked() const;
    nlohmann::json configLocked() const;
    void log(const std::string& line) const;

    static void apply(const Reply& reply, httplib::Response& res);

    const DevServerOptions m_options;
    std::unique_ptr<httplib::Server> m_server;
    int m_port = 0;
    std::atomic<bool> m_runEntered { false };
    std::atomic<bool> m_runDone { false };
    std::atomic<bool> m_stopRequested { false };

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::uint64_t m_generation = 0;
    bool m_stopping = false;
    OAuthProvider m_oauth;
    FaultPlan m_faults;
    std::map<std::string, std::int64_t> m_requests;
    std::map<std::string, std::int64_t> m_faultsServed;
    std::map<std::string, nlohmann::json> m_lastRequest;
    std::optional<nlohmann::json> m_balanceOverride;

    mutable std::mutex m_logMutex;
};

} // namespace velmo::devserver
