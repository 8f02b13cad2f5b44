#include "FaultPlan.h"

#include <charconv>
#include <vector>

namespace velmo::devserver {

namespace {

using Json = nlohmann::json;

std::optional<Fault::Kind> kindFromName(std::string_view name)
{
    for (Fault::Kind kind :
        { Fault::Kind::status, Fault::Kind::drop, Fault::Kind::hang, Fault::Kind::garbage, Fault::Kind::html }) {
        if (Fault::kindName(kind) == name)
            return kind;
    }
    return std::nullopt;
}

std::optional<int> parseInt(std::string_view text)
{
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc {} || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

int intMember(const Json& spec, const char* key, int fallback, int min, int max)
{
    if (!spec.contains(key))
        return fallback;
    const Json& v = spec.at(key);
    if (!v.is_number_integer())
        throw FaultSpecError(std::string("\"") + key + "\" must be an integer");
    const auto n = v.get<std::int64_t>();
    if (n < min || n > max)
        throw FaultSpecError(std::string("\"") + key + "\" must be between " + std::to_string(min) + " and "
            + std::to_string(max));
    return static_cast<int>(n);
}

std::optional<std::string> stringMember(const Json& spec, const char* key)
{
    if (!spec.contains(key))
        return std::nullopt;
    if (!spec.at(key).is_string())
        throw FaultSpecError(std::string("\"") + key + "\" must be a string");
    return spec.at(key).get<std::string>();
}

const char* garbageBody()
{
    // Not UTF-8, not JSON, with a JSON-looking start to catch lenient parsers.
    return "{\"account_balance_micros_usd\": \xff\xfe\x00\x01 garbage \x80\x81 ]]}{";
}

const char* htmlBody()
{
    return "<!DOCTYPE html>\n<html><head><title>502 Bad Gateway</title></head>\n"
           "<body><center><h1>502 Bad Gateway</h1></center><hr><center>nginx</center></body></html>\n";
}

} // namespace

std::string_view Fault::kindName(Kind kind)
{
    switch (kind) {
    case Kind::status:
        return "status";
    case Kind::drop:
        return "drop";
    case Kind::hang:
        return "hang";
    case Kind::garbage:
        return "garbage";
    case Kind::html:
        return "html";
    }
    return "status";
}

bool FaultPlan::isEndpoint(std::string_view name)
{
    for (std::string_view e : endpoints) {
        if (e == name)
            return true;
    }
    return false;
}

std::pair<std::string, Fault> FaultPlan::parse(const Json& spec)
{
    if (!spec.is_object())
        throw FaultSpecError("a fault is a JSON object");
    const auto endpoint = stringMember(spec, "endpoint");
    if (!endpoint || !isEndpoint(*endpoint))
        throw FaultSpecError("\"endpoint\" must be one of balance, usage, register, authorize, token");

    Fault fault;
    if (const auto kind = stringMember(spec, "kind")) {
        const auto parsed = kindFromName(*kind);
        if (!parsed)
            throw FaultSpecError("\"kind\" must be one of status, drop, hang, garbage, html");
        fault.kind = *parsed;
    }

    const int defaultStatus = fault.kind == Fault::Kind::html ? 502 : fault.kind == Fault::Kind::status ? 503 : 200;
    fault.status = intMember(spec, "status", defaultStatus, 100, 599);
    fault.count = intMember(spec, "count", 1, -1, 1'000'000);
    if (fault.count == 0)
        throw FaultSpecError("\"count\" must be positive, or -1 for every answer");
    fault.holdMs = intMember(spec, "hold_ms", 30'000, 0, 3'600'000);

    if (spec.contains("retry_after")) {
        const Json& v = spec.at("retry_after");
        if (v.is_number_integer() && v.get<std::int64_t>() >= 0)
            fault.retryAfter = std::to_string(v.get<std::int64_t>());
        else if (v.is_string())
            fault.retryAfter = v.get<std::string>();
        else
            throw FaultSpecError("\"retry_after\" must be a non-negative integer or a string");
        if (fault.retryAfter->find_first_of("\r\n") != std::string::npos)
            throw FaultSpecError("\"retry_after\" must be one line");
    }

    const auto body = stringMember(spec, "body");
    const auto contentType = stringMember(spec, "content_type");
    if (contentType && contentType->find_first_of("\r\n") != std::string::npos)
        throw FaultSpecError("\"content_type\" must be one line");
    const auto shape = stringMember(spec, "shape");
    const auto message = stringMember(spec, "message");

    switch (fault.kind) {
    case Fault::Kind::garbage:
        fault.body = body.value_or(garbageBody());
        fault.contentType = contentType.value_or("application/json");
        break;
    case Fault::Kind::html:
        fault.body = body.value_or(htmlBody());
        fault.contentType = contentType.value_or("text/html");
        break;
    case Fault::Kind::status:
    case Fault::Kind::drop:
    case Fault::Kind::hang:
        if (body) {
            fault.body = *body;
            fault.contentType = contentType.value_or("application/json");
        } else {
            const std::string s = shape.value_or("nested");
            if (s != "nested" && s != "error" && s != "message" && s != "text" && s != "empty")
                throw FaultSpecError("\"shape\" must be one of nested, error, message, text, empty");
            auto [b, type] = errorBody(s, message.value_or(reasonPhrase(fault.status)));
            fault.body = std::move(b);
            fault.contentType = contentType.value_or(type);
        }
        break;
    }
    return { *endpoint, fault };
}

std::pair<std::string, Fault> FaultPlan::parseArgument(std::string_view text)
{
    if (!text.empty() && text.front() == '{') {
        Json spec = Json::parse(text, nullptr, false);
        if (spec.is_discarded())
            throw FaultSpecError("the fault is not valid JSON");
        return parse(spec);
    }

    std::vector<std::string_view> parts;
    for (std::size_t from = 0;;) {
        const std::size_t colon = text.find(':', from);
        parts.push_back(text.substr(from, colon == std::string_view::npos ? std::string_view::npos : colon - from));
        if (colon == std::string_view::npos)
            break;
        from = colon + 1;
    }
    if (parts.size() < 2 || parts.size() > 4)
        throw FaultSpecError("expected ENDPOINT:STATUS_OR_KIND[:COUNT[:RETRY_AFTER]]");

    Json spec { { "endpoint", std::string(parts[0]) } };
    if (const auto status = parseInt(parts[1]))
        spec["status"] = *status;
    else
        spec["kind"] = std::string(parts[1]);
    if (parts.size() >= 3) {
        const auto count = parseInt(parts[2]);
        if (!count)
            throw FaultSpecError("COUNT must be an integer");
        spec["count"] = *count;
    }
    if (parts.size() == 4) {
        const auto seconds = parseInt(parts[3]);
        if (!seconds)
            throw FaultSpecError("RETRY_AFTER must be an integer");
        spec["retry_after"] = *seconds;
    }
    return parse(spec);
}

void FaultPlan::add(const std::string& endpoint, Fault fault)
{
    m_faults[endpoint].push_back(std::move(fault));
}

std::optional<Fault> FaultPlan::take(const std::string& endpoint)
{
    auto it = m_faults.find(endpoint);
    if (it == m_faults.end() || it->second.empty())
        return std::nullopt;
    Fault& front = it->second.front();
    Fault served = front;
    if (front.count > 0 && --front.count == 0)
        it->second.pop_front();
    return served;
}

void FaultPlan::clear(std::string_view endpoint)
{
    if (endpoint.empty())
        m_faults.clear();
    else
        m_faults.erase(std::string(endpoint));
}

std::size_t FaultPlan::pending(const std::string& endpoint) const
{
    const auto it = m_faults.find(endpoint);
    return it == m_faults.end() ? 0 : it->second.size();
}

void FaultPlan::setLatency(const std::string& endpoint, int ms)
{
    if (endpoint != "*" && !isEndpoint(endpoint))
        throw FaultSpecError("\"endpoint\" must be \"*\" or one of balance, usage, register, authorize, token");
    if (ms < 0 || ms > 600'000)
        throw FaultSpecError("\"ms\" must be between 0 and 600000");
    m_latency[endpoint] = ms;
}

int FaultPlan::latencyFor(const std::string& endpoint) const
{
    if (const auto it = m_latency.find(endpoint); it != m_latency.end())
        return it->second;
    if (const auto it = m_latency.find("*"); it != m_latency.end())
        return it->second;
    return 0;
}

Json FaultPlan::describe() const
{
    Json faults = Json::object();
    for (const auto& [endpoint, queue] : m_faults) {
        Json list = Json::array();
        for (const Fault& f : queue)
            list.push_back({ { "kind", Fault::kindName(f.kind) }, { "status", f.status }, { "count", f.count } });
        if (!list.empty())
            faults[endpoint] = std::move(list);
    }
    Json latency = Json::object();
    for (const auto& [endpoint, ms] : m_latency)
        latency[endpoint] = ms;
    return { { "faults", std::move(faults) }, { "latency_ms", std::move(latency) } };
}

std::pair<std::string, std::string> errorBody(std::string_view shape, const std::string& message)
{
    if (shape == "error")
        return { Json { { "error", message } }.dump(), "application/json" };
    if (shape == "message")
        return { Json { { "message", message } }.dump(), "application/json" };
    if (shape == "text")
        return { message, "text/plain; charset=utf-8" };
    if (shape == "empty")
        return { std::string(), std::string() };
    return { Json { { "error", { { "message", message } } } }.dump(), "application/json" };
}

std::string reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 408:
        return "Request Timeout";
    case 409:
        return "Conflict";
    case 429:
        return "Too Many Requests";
    case 500:
        return "Internal Server Error";
    case 502:
        return "Bad Gateway";
    case 503:
        return "Service Unavailable";
    case 504:
        return "Gateway Timeout";
    default:
        return "HTTP " + std::to_string(status);
    }
}

} // namespace velmo::devserver
