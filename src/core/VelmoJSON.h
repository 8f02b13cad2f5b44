#pragma once

#include "Timestamp.h"

#include <nlohmann/json.hpp>

#include <exception>
#include <optional>
#include <string>
#include <string_view>

// The one JSON coder of the system: the API client decodes every response body
// with it and the snapshot cache reads and writes its file with it.
//
// Each record specialises VelmoJSON::Coder<T> beside its own definition:
//   static T decode(const VelmoJSON::Json&);   // throws DecodingError
//   static VelmoJSON::Json encode(const T&);
namespace VelmoJSON {

using Json = nlohmann::json;

// A document (or one value in it) that does not have the expected form.
// what() is the user-facing description; path() says where it was met,
// e.g. "buckets[3].requests".
class DecodingError : public std::exception {
public:
    explicit DecodingError(std::string description, std::string path = {});

    const char* what() const noexcept override { return m_description.c_str(); }
    const std::string& description() const { return m_description; }
    const std::string& path() const { return m_path; }
    // The description followed by " (at <path>)" when the path is known.
    std::string detailedDescription() const;

    // The same error one level further out: under the object key or array index.
    DecodingError under(std::string_view key) const;
    DecodingError under(std::size_t index) const;

private:
    std::string m_description;
    std::string m_path;
};

template <typename T>
struct Coder;

// Parses one whole JSON document (nothing but white space may follow it).
// Malformed text, invalid UTF-8, nesting deeper than maxDepth and documents
// larger than maxDocumentBytes are DecodingErrors.
Json parse(std::string_view text);
inline constexpr int maxDepth = 128;
inline constexpr std::size_t maxDocumentBytes = 32u << 20;

// Compact text, keys sorted at every level.
std::string dump(const Json& value);

// Strict RFC 3339 internet date-time, with or without a fractional part,
// "Z" or a numeric "+HH:MM"/"-HH:MM" offset; nothing else. Instants beyond
// the clock's range are clamped to its ends.
std::optional<Timestamp> parseDate(std::string_view text);

// "2025-03-04T05:06:07Z": UTC, whole seconds (the fraction is dropped).
std::string formatDate(Timestamp instant);

template <typename T>
T decode(std::string_view text)
{
    return Coder<T>::decode(parse(text));
}

template <typename T>
std::string encode(const T& value)
{
    return dump(Coder<T>::encode(value));
}

} // namespace VelmoJSON
