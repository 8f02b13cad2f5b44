#include "DevServerProcess.h"

#include <QDeadlineTimer>

#include <httplib.h>

#include <stdexcept>

namespace velmo::test {

using Json = nlohmann::json;

DevServerProcess::DevServerProcess(const QStringList& extraArguments, std::chrono::milliseconds startTimeout)
{
    // The server's request log goes to the test's own stderr, shown when a test fails.
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(QStringLiteral(VELMO_DEVSERVER_PATH), QStringList { "--port", "0" } + extraArguments);

    QDeadlineTimer watchdog(startTimeout);
    const auto fail = [this](const std::string& why) {
        m_process.kill();
        m_process.waitForFinished(5000);
        throw std::runtime_error("velmo-devserver " + why);
    };
    if (!m_process.waitForStarted(static_cast<int>(watchdog.remainingTime())))
        fail("cannot start: " + m_process.errorString().toStdString());
    while (!m_process.canReadLine()) {
        if (watchdog.hasExpired() || m_process.state() != QProcess::Running)
            fail("did not report its port");
        m_process.waitForReadyRead(static_cast<int>(std::max<qint64>(watchdog.remainingTime(), 1)));
    }
    bool ok = false;
    const uint port = QString::fromUtf8(m_process.readLine()).trimmed().toUInt(&ok);
    if (!ok || port == 0 || port > 65535)
        fail("reported no valid port");
    m_port = static_cast<quint16>(port);
}

Json DevServerProcess::admin(const std::string& method, const std::string& path, const Json& body)
{
    httplib::Client client("127.0.0.1", m_port);
    client.set_connection_timeout(std::chrono::seconds(5));
    client.set_read_timeout(std::chrono::seconds(30));
    client.set_write_timeout(std::chrono::seconds(5));
    httplib::Result result = method == "GET" ? client.Get(path) : client.Post(path, body.dump(), "application/json");
    if (!result)
        throw std::runtime_error("admin " + path + ": " + httplib::to_string(result.error()));
    if (result->status != 200)
        throw std::runtime_error("admin " + path + ": status " + std::to_string(result->status) + ": " + result->body);
    Json reply = Json::parse(result->body, nullptr, false);
    if (reply.is_discarded())
        throw std::runtime_error("admin " + path + ": reply is not JSON");
    return reply;
}

DevServerProcess::Session DevServerProcess::issueSession(std::int64_t expiresIn)
{
    Json request = Json::object();
    if (expiresIn >= 0)
        request["expires_in"] = expiresIn;
    const Json reply = admin("POST", "/admin/session", request);
    return Session { reply.at("access_token"), reply.at("refresh_token"), reply.at("client_id"),
        reply.at("expires_at_ms"), reply.at("cli_tokens") };
}

void DevServerProcess::injectStatus(const std::string& endpoint, int status, int count, int retryAfter)
{
    Json fault { { "endpoint", endpoint }, { "status", status }, { "count", count } };
    if (retryAfter >= 0)
        fault["retry_after"] = retryAfter;
    injectFault(fault);
}

int DevServerProcess::stop()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        if (!m_process.waitForFinished(30'000)) {
            m_process.kill();
            m_process.waitForFinished(10'000);
            return -1;
        }
    }
    return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
}

} // namespace velmo::test
