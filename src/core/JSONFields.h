#pragma once

#include "MicrosUSD.h"
#include "VelmoJSON.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>

// Typed readers for the records' fields. Each throws VelmoJSON::DecodingError
// with a readable description; `field` adds the key to the error's path.
namespace VelmoJSON::fields {

// The member under `key`, or nullptr when the key is missing or null.
const Json* optional(const Json& object, const char* key);
// The member under `key`; missing or null is a DecodingError.
const Json& required(const Json& object, const char* key);

void expectObject(const Json& value);
// An exactly representable signed 64-bit integer: 12 and 12.0, not 12.5 or "12".
std::int64_t integer(const Json& value);
bool boolean(const Json& value);
// Any JSON number, as a double.
double number(const Json& value);
std::string text(const Json& value);
MicrosUSD micros(const Json& value);
// An RFC 3339 date string.
Timestamp date(const Json& value);
// Whole seconds since 1970 as a JSON integer.
Timestamp epochSeconds(const Json& value);

Json encodeEpochSeconds(Timestamp instant);

// Runs read(member) for the member under key, when present and not null,
// with the key added to any error's path.
template <typename Read>
auto field(const Json& object, const char* key, Read&& read) -> std::optional<decltype(read(object))>
{
    const Json* member = optional(object, key);
    if (!member)
        return std::nullopt;
    try {
        return read(*member);
    } catch (const DecodingError& error) {
        throw error.under(key);
    }
}

// As field(), but a missing or null member is an error.
template <typename Read>
auto requiredField(const Json& object, const char* key, Read&& read) -> decltype(read(object))
{
    const Json& member = required(object, key);
    try {
        return read(member);
    } catch (const DecodingError& error) {
        throw error.under(key);
    }
}

} // namespace VelmoJSON::fields
