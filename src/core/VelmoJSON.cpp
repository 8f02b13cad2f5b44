#include "VelmoJSON.h"

#include "JSONFields.h"
#include "SafeText.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

namespace VelmoJSON {

// A description quotes the document (a bad date, the parser's "last read"
// bytes) and a path names its keys: both are cleaned before anyone shows them.
DecodingError::DecodingError(std::string description, std::string path)
    : m_description(SafeText::clean(description))
    , m_path(SafeText::clean(path))
{
}

std::string DecodingError::detailedDescription() const
{
    return m_path.empty() ? m_description : m_description + " (at " + m_path + ")";
}

DecodingError DecodingError::under(std::string_view key) const
{
    std::string path(key);
    if (!m_path.empty() && m_path.front() != '[')
        path += '.';
    return DecodingError(m_description, path + m_path);
}

DecodingError DecodingError::under(std::size_t index) const
{
    // Appended piecewise: GCC 12 misreads "[" + to_string(i) (a false -Wrestrict).
    std::string path(1, '[');
    path += std::to_string(index);
    path += ']';
    if (!m_path.empty() && m_path.front() != '[')
        path += '.';
    return DecodingError(m_description, path + m_path);
}

namespace {

// nlohmann's messages start with "[json.exception.parse_error.101] " and end
// with "; last read: '…'", raw bytes of the server's body (often half a UTF-8
// sequence). The part between says where and what went wrong.
std::string parserMessage(const char* message)
{
    std::string_view text(message);
    if (text.starts_with("[json.exception.")) {
        const auto end = text.find("] ");
        if (end != std::string_view::npos)
            text.remove_prefix(end + 2);
    }
    if (const auto quoted = text.find("; last read: "); quoted != std::string_view::npos)
        text = text.substr(0, quoted);
    return std::string(text);
}

// The deepest nesting of arrays and objects in `text`, counted outside
// strings, stopping as soon as it passes `limit`. One pass over the bytes: the
// parser's own depth callback rescans parents and grows with the square of
// the document. Malformed text is left for the parser to report.
int nestingDepth(std::string_view text, int limit)
{
    int depth = 0;
    int deepest = 0;
    bool inString = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\')
                ++i; // the escaped character cannot end the string
            else if (c == '"')
                inString = false;
            continue;
        }
        switch (c) {
        case '"':
            inString = true;
            break;
        case '[':
        case '{':
            deepest = std::max(deepest, ++depth);
            if (deepest > limit)
                return deepest;
            break;
        case ']':
        case '}':
            --depth;
            break;
        default:
            break;
        }
    }
    return deepest;
}

} // namespace

Json parse(std::string_view text)
{
    if (text.size() > maxDocumentBytes)
        throw DecodingError("JSON document too large (" + std::to_string(text.size()) + " bytes)");
    // The parser itself keeps its own stack, but everything that walks the
    // result afterwards recurses: refuse absurd nesting up front.
    if (nestingDepth(text, maxDepth) > maxDepth)
        throw DecodingError("JSON nested deeper than " + std::to_string(maxDepth) + " levels");
    try {
        return Json::parse(text.begin(), text.end());
    } catch (const Json::exception& error) {
        throw DecodingError("malformed JSON: " + parserMessage(error.what()));
    }
}

std::string dump(const Json& value)
{
    // Objects are ordered maps, so keys come out sorted at every level.
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

namespace {

bool digits(std::string_view text, std::size_t pos, std::size_t count, int& out)
{
    if (pos + count > text.size())
        return false;
    int value = 0;
    for (std::size_t i = pos; i < pos + count; ++i) {
        const char c = text[i];
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    out = value;
    return true;
}

} // namespace

std::optional<Timestamp> parseDate(std::string_view text)
{
    using namespace std::chrono;
    // YYYY-MM-DDTHH:MM:SS[.f+](Z|±HH:MM)
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!digits(text, 0, 4, year) || text.size() < 20 || text[4] != '-' || !digits(text, 5, 2, month)
        || text[7] != '-' || !digits(text, 8, 2, day) || text[10] != 'T' || !digits(text, 11, 2, hour)
        || text[13] != ':' || !digits(text, 14, 2, minute) || text[16] != ':' || !digits(text, 17, 2, second))
        return std::nullopt;
    if (hour > 23 || minute > 59 || second > 59)
        return std::nullopt;
    const year_month_day date { std::chrono::year(year), std::chrono::month(static_cast<unsigned>(month)),
        std::chrono::day(static_cast<unsigned>(day)) };
    if (!date.ok())
        return std::nullopt;

    std::size_t pos = 19;
    std::int64_t fractionNanos = 0;
    if (text[pos] == '.') {
        ++pos;
        const std::size_t start = pos;
        std::int64_t scale = 100'000'000;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
            // Digits beyond nanoseconds are read and dropped.
            fractionNanos += (text[pos] - '0') * scale;
            scale /= 10;
            ++pos;
        }
        if (pos == start)
            return std::nullopt;
    }

    std::int64_t offsetSeconds = 0;
    const std::string_view zone = text.substr(pos);
    if (zone == "Z") {
        // UTC
    } else if (zone.size() == 6 && (zone[0] == '+' || zone[0] == '-') && zone[3] == ':') {
        int offsetHours = 0, offsetMinutes = 0;
        if (!digits(zone, 1, 2, offsetHours) || !digits(zone, 4, 2, offsetMinutes) || offsetHours > 23
            || offsetMinutes > 59)
            return std::nullopt;
        offsetSeconds = (offsetHours * 3600 + offsetMinutes * 60) * (zone[0] == '+' ? 1 : -1);
    } else {
        return std::nullopt;
    }

    const std::int64_t daysSinceEpoch = sys_days(date).time_since_epoch().count();
    const std::int64_t seconds = daysSinceEpoch * 86'400 + hour * 3600 + minute * 60 + second - offsetSeconds;

    constexpr std::int64_t maxSeconds = std::numeric_limits<std::int64_t>::max() / 1'000'000'000 - 1;
    if (seconds > maxSeconds)
        return Timestamp(duration_cast<Timestamp::duration>(std::chrono::seconds(maxSeconds)));
    if (seconds < -maxSeconds)
        return Timestamp(duration_cast<Timestamp::duration>(std::chrono::seconds(-maxSeconds)));
    return Timestamp(duration_cast<Timestamp::duration>(std::chrono::seconds(seconds) + nanoseconds(fractionNanos)));
}

std::string formatDate(Timestamp instant)
{
    using namespace std::chrono;
    const auto secs = floor<std::chrono::seconds>(instant);
    const auto dayPoint = floor<days>(secs);
    const year_month_day date(dayPoint);
    const hh_mm_ss<std::chrono::seconds> time(secs - dayPoint);
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
        static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()), static_cast<int>(time.hours().count()),
        static_cast<int>(time.minutes().count()), static_cast<int>(time.seconds().count()));
    return buffer;
}

} // namespace VelmoJSON

namespace VelmoJSON::fields {

const Json* optional(const Json& object, const char* key)
{
    const auto it = object.find(key);
    if (it == object.end() || it->is_null())
        return nullptr;
    return &*it;
}

const Json& required(const Json& object, const char* key)
{
    const Json* member = optional(object, key);
    if (!member)
        throw DecodingError(std::string("missing required key \"") + key + "\"");
    return *member;
}

void expectObject(const Json& value)
{
    if (!value.is_object())
        throw DecodingError(std::string("expected an object, found ") + value.type_name());
}

namespace {

constexpr double twoTo63 = 9223372036854775808.0;

// The double as an exact 64-bit integer, if it is one.
std::optional<std::int64_t> exactInteger(double d)
{
    if (!std::isfinite(d) || d != std::trunc(d) || d < -twoTo63 || d >= twoTo63)
        return std::nullopt;
    return static_cast<std::int64_t>(d);
}

std::optional<std::int64_t> exactInteger(const Json& value)
{
    if (value.is_number_integer() && !value.is_number_unsigned())
        return value.get<std::int64_t>();
    if (value.is_number_unsigned()) {
        const auto u = value.get<std::uint64_t>();
        if (u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            return std::nullopt;
        return static_cast<std::int64_t>(u);
    }
    if (value.is_number_float())
        return exactInteger(value.get<double>());
    return std::nullopt;
}

bool isHorizontalSpace(char32_t c)
{
    // Tab and the Unicode space separators (Zs); line breaks are not stripped.
    switch (c) {
    case 0x09: case 0x20: case 0xA0: case 0x1680: case 0x202F: case 0x205F: case 0x3000:
        return true;
    default:
        return c >= 0x2000 && c <= 0x200A;
    }
}

// Decodes one UTF-8 sequence at text[pos] (the parser has validated the text).
char32_t codePointAt(std::string_view text, std::size_t pos, std::size_t& length)
{
    const auto b0 = static_cast<unsigned char>(text[pos]);
    if (b0 < 0x80) {
        length = 1;
        return b0;
    }
    const int extra = b0 >= 0xF0 ? 3 : b0 >= 0xE0 ? 2 : 1;
    char32_t c = b0 & (0x3F >> extra);
    length = 1;
    for (int i = 0; i < extra && pos + length < text.size(); ++i, ++length)
        c = (c << 6) | (static_cast<unsigned char>(text[pos + length]) & 0x3F);
    return c;
}

std::string_view trimHorizontalSpace(std::string_view text)
{
    while (!text.empty()) {
        std::size_t length = 0;
        if (!isHorizontalSpace(codePointAt(text, 0, length)))
            break;
        text.remove_prefix(length);
    }
    while (!text.empty()) {
        // Step back to the start of the last code point.
        std::size_t start = text.size() - 1;
        while (start > 0 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80)
            --start;
        std::size_t length = 0;
        if (!isHorizontalSpace(codePointAt(text, start, length)))
            break;
        text.remove_suffix(text.size() - start);
    }
    return text;
}

std::optional<std::int64_t> parseDecimal(std::string_view text)
{
    // One optional sign, then ASCII digits only.
    const bool negative = !text.empty() && text.front() == '-';
    const std::string_view digitsPart = (!text.empty() && (text.front() == '+' || negative)) ? text.substr(1) : text;
    if (digitsPart.empty())
        return std::nullopt;
    for (const char c : digitsPart) {
        if (c < '0' || c > '9')
            return std::nullopt;
    }
    // from_chars reads the '-' itself but not a '+'.
    const std::string_view number = negative ? text : digitsPart;
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (error != std::errc() || end != number.data() + number.size())
        return std::nullopt;
    return value;
}

const char* const microsError = "expected micros USD as a number or numeric string";

} // namespace

std::int64_t integer(const Json& value)
{
    if (const auto exact = exactInteger(value))
        return *exact;
    if (value.is_number())
        throw DecodingError("expected a whole number within 64 bits, found " + value.dump());
    throw DecodingError(std::string("expected a whole number, found ") + value.type_name());
}

double number(const Json& value)
{
    if (!value.is_number())
        throw DecodingError(std::string("expected a number, found ") + value.type_name());
    return value.get<double>();
}

bool boolean(const Json& value)
{
    if (!value.is_boolean())
        throw DecodingError(std::string("expected a boolean, found ") + value.type_name());
    return value.get<bool>();
}

std::string text(const Json& value)
{
    if (!value.is_string())
        throw DecodingError(std::string("expected text, found ") + value.type_name());
    auto string = value.get<std::string>();
    // A NUL inside a name or code is never meant and cuts the text short
    // wherever it reaches C APIs.
    if (string.find('\0') != std::string::npos)
        throw DecodingError("text contains a NUL character");
    return string;
}

MicrosUSD micros(const Json& value)
{
    if (value.is_number()) {
        if (const auto exact = exactInteger(value))
            return MicrosUSD(*exact);
        // Halves away from zero; beyond 64 bits (1e300, inf) there is no amount.
        if (const auto rounded = exactInteger(std::round(value.get<double>())))
            return MicrosUSD(*rounded);
        throw DecodingError(microsError);
    }
    if (value.is_string()) {
        const auto& string = value.get_ref<const std::string&>();
        if (const auto parsed = parseDecimal(trimHorizontalSpace(string)))
            return MicrosUSD(*parsed);
    }
    throw DecodingError(microsError);
}

Timestamp date(const Json& value)
{
    if (!value.is_string())
        throw DecodingError(std::string("expected a date string, found ") + value.type_name());
    const auto& string = value.get_ref<const std::string&>();
    if (const auto instant = parseDate(string))
        return *instant;
    throw DecodingError("unrecognized date: " + string);
}

Timestamp epochSeconds(const Json& value)
{
    const std::int64_t seconds = integer(value);
    // The clock counts nanoseconds; beyond ±292 years there is no instant.
    constexpr std::int64_t limit = std::numeric_limits<std::int64_t>::max() / 1'000'000'000;
    if (seconds > limit || seconds < -limit)
        throw DecodingError("timestamp out of range: " + std::to_string(seconds));
    return Timestamp(std::chrono::duration_cast<Timestamp::duration>(std::chrono::seconds(seconds)));
}

Json encodeEpochSeconds(Timestamp instant)
{
    // Truncation toward zero, as the service writes them.
    return std::chrono::duration_cast<std::chrono::seconds>(instant.time_since_epoch()).count();
}

} // namespace VelmoJSON::fields
