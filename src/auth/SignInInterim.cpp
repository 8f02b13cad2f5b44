#include "SignInInterim.h"

#include <QString>

#include <nlohmann/json.hpp>

namespace SignInInterim {

Q_LOGGING_CATEGORY(auth, "velmo-usage.auth")

std::string formEncode(const std::map<std::string, std::string>& fields)
{
    std::string out;
    for (const auto& [key, value] : fields) {
        if (!out.empty())
            out += '&';
        out += QByteArray::fromStdString(key).toPercentEncoding().toStdString();
        out += '=';
        out += QByteArray::fromStdString(value).toPercentEncoding().toStdString();
    }
    return out;
}

namespace {
const char* reasonPhrase(int status)
{
    switch (status) {
    case 400: return "bad request";
    case 401: return "unauthorized";
    case 403: return "forbidden";
    case 404: return "not found";
    case 409: return "conflict";
    case 429: return "too many requests";
    case 500: return "internal server error";
    case 502: return "bad gateway";
    case 503: return "service unavailable";
    case 504: return "gateway timed out";
    default: return status >= 500 ? "server error" : status >= 400 ? "client error" : "no error";
    }
}
} // namespace

std::string errorMessage(const QByteArray& body, int status)
{
    const std::string text = QString::fromUtf8(body).trimmed().toStdString();
    const auto json = nlohmann::json::parse(text, nullptr, false);
    if (json.is_object()) {
        const auto error = json.find("error");
        if (error != json.end() && error->is_object()) {
            const auto message = error->find("message");
            if (message != error->end() && message->is_string())
                return message->get<std::string>();
        }
        if (error != json.end() && error->is_string())
            return error->get<std::string>();
        const auto message = json.find("message");
        if (message != json.end() && message->is_string())
            return message->get<std::string>();
    }
    if (!text.empty())
        return text;
    return reasonPhrase(status);
}

} // namespace SignInInterim
