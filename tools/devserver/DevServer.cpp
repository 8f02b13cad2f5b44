#include "DevServer.h"

#include "DemoAccount.h"

#include <httplib.h>

#include <charconv>
#include <cstdio>
#include <stdexcept>
#include <thread>

namespace velmo::devserver {

namespace {

using Json = nlohmann::json;
using Clock = std::chrono::system_clock;

constexpr std::size_t maxBodyBytes = 1u << 20;

Reply apiError(int status, const std::string& message)
{
    return Reply::json(status, Json { { "error", { { "message", message } } } });
}

// An admin body: empty means {}; anything else must be a JSON object.
std::optional<Json> adminBody(const httplib::Request& req)
{
    if (req.body.empty())
        return Json::object();
    Json body = Json::parse(req.body, nullptr, false);
    if (body.is_discarded() || !body.is_object())
        return std::nullopt;
    return body;
}

std::optional<std::int64_t> parseInt64(const std::string& text)
{
    std::int64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc {} || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

// Keys of a form body in the order sent (the values may be secrets).
Json formKeys(const std::string& body)
{
    Json keys = Json::array();
    std::size_t from = 0;
    while (from < body.size()) {
        const std::size_t amp = body.find('&', from);
        const std::string pair = body.substr(from, amp == std::string::npos ? std::string::npos : amp - from);
        keys.push_back(pair.substr(0, pair.find('=')));
        if (amp == std::string::npos)
            break;
        from = amp + 1;
    }
    return keys;
}

std::string authorizeModeName(OAuthProvider::AuthorizeMode mode)
{
    switch (mode) {
    case OAuthProvider::AuthorizeMode::approve:
        return "approve";
    case OAuthProvider::AuthorizeMode::deny:
        return "deny";
    case OAuthProvider::AuthorizeMode::consent:
        break;
    }
    return "consent";
}

} // namespace

DevServer::DevServer(DevServerOptions options)
    : m_options(std::move(options))
    , m_server(std::make_unique<httplib::Server>())
    , m_oauth(m_options.oauth)
{
    {
        Lock lock(m_mutex);
        resetLocked();
        for (const auto& [endpoint, fault] : m_options.faults)
            m_faults.add(endpoint, fault);
    }

    const std::size_t threads = std::max<std::size_t>(m_options.threads, 4);
    m_server->new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
    m_server->set_payload_max_length(maxBodyBytes);
    m_server->set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr ep) {
        std::string what = "unknown failure";
        try {
            std::rethrow_exception(ep);
        } catch (const std::exception& e) {
            what = e.what();
        } catch (...) {
        }
        apply(apiError(500, "internal error: " + what), res);
    });
    if (!m_options.quiet) {
        m_server->set_logger([this](const httplib::Request& req, const httplib::Response& res) {
            log(req.method + " " + req.path + " -> " + std::to_string(res.status));
        });
    }
    installServiceRoutes();
    installAdminRoutes();

    // Anything else: a plain-text 404, as a real front end answers.
    const auto notFound = [](const httplib::Request&, httplib::Response& res) {
        res.status = 404;
        res.set_content("Not Found\n", "text/plain; charset=utf-8");
    };
    m_server->Get(".*", notFound);
    m_server->Post(".*", notFound);
}

DevServer::~DevServer()
{
    stop();
}

int DevServer::bind(int port)
{
    if (port < 0 || port > 65535)
        throw std::runtime_error("invalid port " + std::to_string(port));
    if (port == 0) {
        m_port = m_server->bind_to_any_port("127.0.0.1");
        if (m_port <= 0)
            throw std::runtime_error("cannot bind an ephemeral port on 127.0.0.1");
    } else {
        if (!m_server->bind_to_port("127.0.0.1", port))
            throw std::runtime_error("cannot bind 127.0.0.1:" + std::to_string(port));
        m_port = port;
    }
    return m_port;
}

void DevServer::run()
{
    m_runEntered = true;
    if (!m_stopRequested)
        m_server->listen_after_bind();
    m_runDone = true;
}

void DevServer::stop()
{
    {
        Lock lock(m_mutex);
        m_stopping = true;
    }
    m_stopRequested = true;
    m_wake.notify_all();
    // httplib ignores a stop that comes before the listen loop runs: when run()
    // has begun, wait (bounded) until it listens or has returned.
    if (m_runEntered) {
        for (int i = 0; i < 5000 && !m_server->is_running() && !m_runDone; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    m_server->stop();
}

Json DevServer::issueSession(std::optional<std::int64_t> expiresIn)
{
    Lock lock(m_mutex);
    return m_oauth.issueSession(std::string(OAuthProvider::cliClientID), expiresIn, Clock::now());
}

void DevServer::log(const std::string& line) const
{
    std::lock_guard guard(m_logMutex);
    std::fprintf(stderr, "velmo-devserver: %s\n", line.c_str());
    std::fflush(stderr);
}

void DevServer::apply(const Reply& reply, httplib::Response& res)
{
    res.status = reply.status;
    for (const auto& [name, value] : reply.headers)
        res.set_header(name, value);
    if (!reply.body.empty() || !reply.contentType.empty())
        res.set_content(reply.body, reply.contentType);
}

void DevServer::hold(Lock& lock, std::chrono::milliseconds duration)
{
    const std::uint64_t generation = m_generation;
    m_wake.wait_for(lock, duration, [&] { return m_stopping || m_generation != generation; });
}

void DevServer::serve(const std::string& endpoint, const httplib::Request& req, httplib::Response& res,
    const std::function<Reply()>& answer)
{
    Lock lock(m_mutex);
    ++m_requests[endpoint];
    Json last {
        { "method", req.method },
        { "path", req.path },
        { "x-velmo-source", req.get_header_value("x-velmo-source") },
        { "accept", req.get_header_value("Accept") },
        { "content-type", req.get_header_value("Content-Type") },
    };
    // The scheme only: a token is never echoed back.
    const std::string authorization = req.get_header_value("Authorization");
    last["authorization_scheme"] = authorization.substr(0, authorization.find(' '));
    Json query = Json::object();
    for (const auto& [key, value] : req.params)
        query[key] = value;
    last["query"] = std::move(query);
    if (endpoint == "token")
        last["form_keys"] = formKeys(req.body);
    m_lastRequest[endpoint] = std::move(last);

    if (const int latency = m_faults.latencyFor(endpoint); latency > 0)
        hold(lock, std::chrono::milliseconds(latency));

    if (auto fault = m_faults.take(endpoint)) {
        ++m_faultsServed[endpoint];
        serveFault(*fault, lock, res);
        return;
    }
    const Reply reply = answer();
    lock.unlock();
    apply(reply, res);
}

void DevServer::serveFault(const Fault& fault, Lock& lock, httplib::Response& res)
{
    if (fault.retryAfter)
        res.set_header("Retry-After", *fault.retryAfter);

    switch (fault.kind) {
    case Fault::Kind::hang:
        hold(lock, std::chrono::milliseconds(fault.holdMs));
        lock.unlock();
        apply(apiError(504, "the request was held and released"), res);
        return;
    case Fault::Kind::drop: {
        lock.unlock();
        // Announce the whole body, send half of it, then close the connection.
        std::string body = fault.body.size() >= 2 ? fault.body : std::string("{\"error\":{\"message\":\"dropped\"}}");
        res.status = fault.status;
        const std::size_t length = body.size();
        res.set_content_provider(length, fault.contentType.empty() ? "application/json" : fault.contentType,
            [body = std::move(body)](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                if (offset == 0)
                    sink.write(body.data(), body.size() / 2);
                return false;
            });
        return;
    }
    case Fault::Kind::status:
    case Fault::Kind::garbage:
    case Fault::Kind::html:
        lock.unlock();
        res.status = fault.status;
        if (!fault.body.empty() || !fault.contentType.empty())
            res.set_content(fault.body, fault.contentType);
        return;
    }
}

Reply DevServer::apiAuthorizationFailure(const httplib::Request& req) const
{
    const auto check = m_oauth.checkAccessToken(req.get_header_value("Authorization"), Clock::now());
    std::string message;
    switch (check) {
    case OAuthProvider::TokenCheck::valid:
        return Reply { 0, {}, {}, {} };
    case OAuthProvider::TokenCheck::missing:
        message = "missing bearer token";
        break;
    case OAuthProvider::TokenCheck::unknown:
        message = "invalid access token";
        break;
    case OAuthProvider::TokenCheck::expired:
        message = "access token expired";
        break;
    case OAuthProvider::TokenCheck::revoked:
        message = "access token revoked";
        break;
    }
    Reply r = apiError(401, message);
    r.headers.emplace_back("WWW-Authenticate", "Bearer realm=\"velmo\", error=\"invalid_token\"");
    return r;
}

Reply DevServer::usageAnswer(const httplib::Request& req) const
{
    for (const char* key : { "start_time", "end_time", "bucket_width", "scope" }) {
        if (req.get_param_value_count(key) > 1)
            return apiError(400, std::string(key) + " was sent more than once");
    }
    if (!req.has_param("start_time") || !req.has_param("end_time"))
        return apiError(400, "start_time and end_time are required");
    const auto start = parseInt64(req.get_param_value("start_time"));
    const auto end = parseInt64(req.get_param_value("end_time"));
    if (!start || !end)
        return apiError(400, "start_time and end_time must be integer epoch seconds");
    if (*end <= *start)
        return apiError(400, "end_time must be after start_time");
    if (*end - *start > DemoAccount::maxWindowSeconds)
        return apiError(400, "the window may span at most 93 days");
    const std::string width = req.has_param("bucket_width") ? req.get_param_value("bucket_width") : "1d";
    if (width != "1d")
        return apiError(400, "bucket_width must be 1d");
    const std::string scope = req.has_param("scope") ? req.get_param_value("scope") : "key";
    if (scope != "key" && scope != "account")
        return apiError(400, "scope must be key or account");
    return Reply::json(200, DemoAccount::usage(*start, *end, scope));
}

void DevServer::installServiceRoutes()
{
    httplib::Server& s = *m_server;

    s.Get("/v1/credits/balance", [this](const httplib::Request& req, httplib::Response& res) {
        serve("balance", req, res, [&] {
            if (Reply denied = apiAuthorizationFailure(req); denied.status != 0)
                return denied;
            return Reply::json(200, m_balanceOverride ? *m_balanceOverride : DemoAccount::balance(Clock::now()));
        });
    });

    s.Get("/v1/usage", [this](const httplib::Request& req, httplib::Response& res) {
        serve("usage", req, res, [&] {
            if (Reply denied = apiAuthorizationFailure(req); denied.status != 0)
                return denied;
            return usageAnswer(req);
        });
    });

    s.Post("/oauth/register", [this](const httplib::Request& req, httplib::Response& res) {
        serve("register", req, res,
            [&] { return m_oauth.registerClient(req.get_header_value("Content-Type"), req.body, Clock::now()); });
    });

    s.Get("/oauth/authorize", [this](const httplib::Request& req, httplib::Response& res) {
        serve("authorize", req, res, [&] { return m_oauth.authorize(req.params, Clock::now()); });
    });

    // The consent page's form; not an endpoint of its own for faults and counters.
    s.Post("/oauth/authorize/decision", [this](const httplib::Request& req, httplib::Response& res) {
        Lock lock(m_mutex);
        const Reply reply = m_oauth.decide(req.get_header_value("Content-Type"), req.body, Clock::now());
        lock.unlock();
        apply(reply, res);
    });

    s.Post("/oauth/token", [this](const httplib::Request& req, httplib::Response& res) {
        serve("token", req, res,
            [&] { return m_oauth.token(req.get_header_value("Content-Type"), req.body, Clock::now()); });
    });
}

void DevServer::installAdminRoutes()
{
    httplib::Server& s = *m_server;

    // Every admin route: parse the JSON body, run `body` under the lock,
    // answer its JSON; a misuse is a 400 with {"error":{"message":…}}.
    const auto route = [this, &s](const std::string& path, bool post, std::function<Json(const Json&)> body) {
        auto handler = [this, body](const httplib::Request& req, httplib::Response& res) {
            const auto input = adminBody(req);
            if (!input) {
                apply(apiError(400, "the admin request body must be a JSON object"), res);
                return;
            }
            try {
                Lock lock(m_mutex);
                const Json output = body(*input);
                lock.unlock();
                apply(Reply::json(200, output), res);
            } catch (const FaultSpecError& e) {
                apply(apiError(400, e.what()), res);
            }
        };
        if (post)
            s.Post(path, handler);
        else
            s.Get(path, handler);
    };

    route("/admin/reset", true, [this](const Json&) {
        resetLocked();
        m_wake.notify_all();
        return Json { { "ok", true } };
    });

    route("/admin/session", true, [this](const Json& in) {
        std::optional<std::int64_t> expiresIn;
        if (in.contains("expires_in")) {
            if (!in["expires_in"].is_number_integer() || in["expires_in"].get<std::int64_t>() < 0
                || in["expires_in"].get<std::int64_t>() > 315'360'000)
                throw FaultSpecError("\"expires_in\" must be an integer from 0 to 315360000");
            expiresIn = in["expires_in"].get<std::int64_t>();
        }
        std::string clientID(OAuthProvider::cliClientID);
        if (in.contains("client_id")) {
            if (!in["client_id"].is_string() || in["client_id"].get<std::string>().empty())
                throw FaultSpecError("\"client_id\" must be a non-empty string");
            clientID = in["client_id"].get<std::string>();
        }
        return m_oauth.issueSession(clientID, expiresIn, Clock::now());
    });

    route("/admin/counters", false, [this](const Json&) { return countersLocked(); });
    route("/admin/state", false, [this](const Json&) {
        Json state = m_faults.describe();
        state["config"] = configLocked();
        state["balance_override"] = m_balanceOverride.has_value();
        return state;
    });

    route("/admin/config", true, [this](const Json& in) {
        OAuthProvider::Config next = m_oauth.config();
        for (const auto& [key, value] : in.items()) {
            if (key == "expires_in") {
                if (!value.is_number_integer() || value.get<std::int64_t>() < 0
                    || value.get<std::int64_t>() > 315'360'000)
                    throw FaultSpecError("\"expires_in\" must be an integer from 0 to 315360000");
                next.expiresIn = value.get<std::int64_t>();
            } else if (key == "rotate_refresh_tokens") {
                if (!value.is_boolean())
                    throw FaultSpecError("\"rotate_refresh_tokens\" must be a boolean");
                next.rotateRefreshTokens = value.get<bool>();
            } else if (key == "authorize") {
                const std::string mode = value.is_string() ? value.get<std::string>() : std::string();
                if (mode == "consent")
                    next.authorize = OAuthProvider::AuthorizeMode::consent;
                else if (mode == "approve")
                    next.authorize = OAuthProvider::AuthorizeMode::approve;
                else if (mode == "deny")
                    next.authorize = OAuthProvider::AuthorizeMode::deny;
                else
                    throw FaultSpecError("\"authorize\" must be consent, approve or deny");
            } else {
                throw FaultSpecError("unknown config key \"" + key + "\"");
            }
        }
        m_oauth.config() = next;
        return configLocked();
    });

    route("/admin/fault", true, [this](const Json& in) {
        auto [endpoint, fault] = FaultPlan::parse(in);
        m_faults.add(endpoint, fault);
        return Json { { "ok", true }, { "endpoint", endpoint }, { "pending", m_faults.pending(endpoint) } };
    });

    route("/admin/faults/clear", true, [this](const Json& in) {
        std::string endpoint;
        if (in.contains("endpoint")) {
            if (!in["endpoint"].is_string() || !FaultPlan::isEndpoint(in["endpoint"].get<std::string>()))
                throw FaultSpecError("\"endpoint\" must be one of balance, usage, register, authorize, token");
            endpoint = in["endpoint"].get<std::string>();
        }
        m_faults.clear(endpoint);
        return Json { { "ok", true } };
    });

    route("/admin/latency", true, [this](const Json& in) {
        if (!in.contains("ms") || !in["ms"].is_number_integer())
            throw FaultSpecError("\"ms\" must be an integer");
        std::string endpoint = "*";
        if (in.contains("endpoint")) {
            if (!in["endpoint"].is_string())
                throw FaultSpecError("\"endpoint\" must be a string");
            endpoint = in["endpoint"].get<std::string>();
        }
        const auto ms = in["ms"].get<std::int64_t>();
        m_faults.setLatency(endpoint, static_cast<int>(std::clamp<std::int64_t>(ms, -1, 600'001)));
        return m_faults.describe();
    });

    route("/admin/revoke", true, [this](const Json& in) {
        bool refresh = false;
        if (in.contains("refresh_tokens")) {
            if (!in["refresh_tokens"].is_boolean())
                throw FaultSpecError("\"refresh_tokens\" must be a boolean");
            refresh = in["refresh_tokens"].get<bool>();
        }
        return Json { { "revoked_access_tokens", m_oauth.revoke(refresh, Clock::now()) } };
    });

    route("/admin/balance", true, [this](const Json& in) {
        if (in.contains("balance")) {
            if (in["balance"].is_null())
                m_balanceOverride.reset();
            else if (in["balance"].is_object())
                m_balanceOverride = in["balance"];
            else
                throw FaultSpecError("\"balance\" must be an object or null");
        }
        return m_balanceOverride ? *m_balanceOverride : DemoAccount::balance(Clock::now());
    });
}

void DevServer::resetLocked()
{
    m_oauth = OAuthProvider(m_options.oauth);
    m_faults = FaultPlan();
    if (m_options.latencyMs > 0)
        m_faults.setLatency("*", m_options.latencyMs);
    m_requests.clear();
    m_faultsServed.clear();
    m_lastRequest.clear();
    m_balanceOverride.reset();
    for (std::string_view e : FaultPlan::endpoints) {
        m_requests[std::string(e)] = 0;
        m_faultsServed[std::string(e)] = 0;
    }
    ++m_generation;
}

Json DevServer::countersLocked() const
{
    const auto& c = m_oauth.counters();
    Json last = Json::object();
    for (const auto& [endpoint, request] : m_lastRequest)
        last[endpoint] = request;
    return Json {
        { "requests", m_requests },
        { "faults_served", m_faultsServed },
        { "registrations", c.registrations },
        { "code_grants", { { "accepted", c.codeAccepted }, { "rejected", c.codeRejected } } },
        { "refresh_grants",
            { { "accepted", c.refreshAccepted }, { "rejected", c.refreshRejected }, { "reused", c.refreshReused } } },
        { "last_request", std::move(last) },
    };
}

Json DevServer::configLocked() const
{
    const auto& config = m_oauth.config();
    return Json {
        { "expires_in", config.expiresIn },
        { "rotate_refresh_tokens", config.rotateRefreshTokens },
        { "authorize", authorizeModeName(config.authorize) },
    };
}

} // namespace velmo::devserver
