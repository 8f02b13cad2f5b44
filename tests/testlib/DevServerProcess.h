#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdint>
#include <string>

namespace velmo::test {

// A real velmo-devserver process on an ephemeral loopback port, for tests
// that talk to the stand-in service over sockets. The constructor starts it
// with "--port 0" plus `extraArguments` (e.g. "--auto-approve",
// "--expires-in", "60") and waits, under a watchdog, for the port on the
// first line of its standard output; it throws std::runtime_error when the
// server does not come up. The destructor stops it. The admin helpers are
// synchronous and throw std::runtime_error on any failure.
class DevServerProcess {
public:
    // A session issued without the browser, ready for a CLI token file.
    struct Session {
        std::string accessToken, refreshToken, clientId;
        std::int64_t expiresAtMs = 0;
        // {"accessToken","refreshToken","expiresAt","clientId"}: the token file's JSON.
        nlohmann::json cliTokens;
    };

    explicit DevServerProcess(const QStringList& extraArguments = {},
        std::chrono::milliseconds startTimeout = std::chrono::seconds(20));
    // Both do nothing for a process that has ended.
    ~DevServerProcess()
    {
        m_process.kill();
        m_process.waitForFinished(10'000);
    }

    DevServerProcess(const DevServerProcess&) = delete;
    DevServerProcess& operator=(const DevServerProcess&) = delete;

    quint16 port() const { return m_port; }
    // "http://127.0.0.1:PORT": the base URL of both the API and the identity provider.
    QUrl baseURL() const { return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(m_port)); }

    // POST /admin/session; `expiresIn` < 0 keeps the server's configured lifetime.
    Session issueSession(std::int64_t expiresIn = -1);
    // POST /admin/fault with a fault object (see tools/devserver/README.md).
    void injectFault(const nlohmann::json& fault) { admin("POST", "/admin/fault", fault); }
    // The next `count` answers of `endpoint` get `status` (+ Retry-After when >= 0).
    void injectStatus(const std::string& endpoint, int status, int count = 1, int retryAfter = -1);
    // Added latency for one endpoint, or every one with "*".
    void setLatency(int ms, const std::string& endpoint = "*")
    {
        admin("POST", "/admin/latency", { { "ms", ms }, { "endpoint", endpoint } });
    }
    // POST /admin/config, e.g. {"expires_in": 5}; returns the whole configuration.
    nlohmann::json setConfig(const nlohmann::json& config) { return admin("POST", "/admin/config", config); }
    // GET /admin/counters.
    nlohmann::json counters() { return admin("GET", "/admin/counters"); }
    // POST /admin/reset: back to the start-up configuration, no faults, no sessions.
    void reset() { admin("POST", "/admin/reset"); }
    // Any admin call: method "GET" or "POST", path such as "/admin/state".
    nlohmann::json admin(const std::string& method, const std::string& path,
        const nlohmann::json& body = nlohmann::json::object());

    // SIGTERM, then waits (with a watchdog) for the exit; returns the exit
    // code, or -1 when it had to be killed or crashed.
    int stop();

private:
    QProcess m_process;
    quint16 m_port = 0;
};

} // namespace velmo::test
