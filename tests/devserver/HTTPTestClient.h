#pragma once

#include "DevServerProcess.h"

#include <httplib.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <map>
#include <string>

// Small synchronous helpers for talking to a DevServerProcess from a test.
namespace velmo::test::http {

inline httplib::Client client(const DevServerProcess& server, std::chrono::seconds readTimeout = std::chrono::seconds(20))
{
    httplib::Client c("127.0.0.1", server.port());
    c.set_connection_timeout(std::chrono::seconds(5));
    c.set_read_timeout(readTimeout);
    c.set_follow_location(false);
    // Paths are sent as the tests encode them.
    c.set_url_encode(false);
    return c;
}

// The answer's status, or -1 when there was no answer.
inline int statusOf(const httplib::Result& res)
{
    return res ? res->status : -1;
}

inline httplib::Headers bearer(const std::string& token)
{
    return { { "Authorization", "Bearer " + token }, { "Accept", "application/json" },
        { "x-velmo-source", "menubar" } };
}

// Percent-encodes all but ASCII letters, digits and "-._~" (written here
// independently of the server's own encoder).
inline std::string encode(const std::string& text)
{
    std::string out;
    char buffer[4];
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            std::snprintf(buffer, sizeof buffer, "%%%02X", c);
            out += buffer;
        }
    }
    return out;
}

// key=value pairs joined by "&", keys in map (sorted) order.
inline std::string form(const std::map<std::string, std::string>& fields)
{
    std::string body;
    for (const auto& [key, value] : fields) {
        if (!body.empty())
            body += '&';
        body += encode(key) + "=" + encode(value);
    }
    return body;
}

// The query items of a Location header (which httplib's client has
// percent-decoded already).
inline std::multimap<std::string, std::string> queryItems(const std::string& url)
{
    std::multimap<std::string, std::string> items;
    const auto q = url.find('?');
    if (q == std::string::npos)
        return items;
    std::size_t from = q + 1;
    while (from <= url.size()) {
        const auto amp = url.find('&', from);
        const std::string pair = url.substr(from, amp == std::string::npos ? std::string::npos : amp - from);
        const auto eq = pair.find('=');
        items.emplace(pair.substr(0, eq), eq == std::string::npos ? std::string() : pair.substr(eq + 1));
        if (amp == std::string::npos)
            break;
        from = amp + 1;
    }
    return items;
}

} // namespace velmo::test::http
