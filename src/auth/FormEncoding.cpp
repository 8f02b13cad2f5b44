#include "FormEncoding.h"

namespace FormEncoding {

std::string percentEncode(const std::string& text)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        const bool unreserved = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9')
            || byte == '-' || byte == '.' || byte == '_' || byte == '~';
        if (unreserved) {
            out += c;
        } else {
            out += '%';
            out += hex[byte >> 4];
            out += hex[byte & 0x0F];
        }
    }
    return out;
}

std::string encode(const std::map<std::string, std::string>& fields)
{
    // std::map orders std::string keys bytewise, which for UTF-8 is code-point order.
    std::string body;
    for (const auto& [key, value] : fields) {
        if (!body.empty())
            body += '&';
        body += percentEncode(key) + '=' + percentEncode(value);
    }
    return body;
}

} // namespace FormEncoding
