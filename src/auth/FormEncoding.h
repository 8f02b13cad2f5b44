#pragma once

#include <map>
#include <string>

// The one rule for every form body (token refresh, browser sign-in): pairs
// sorted by key (code points), ASCII letters, digits and "-._~" kept, every
// other byte as %XX (upper-case hex), pairs joined as key=value&key=value.
namespace FormEncoding {

std::string percentEncode(const std::string& text);
std::string encode(const std::map<std::string, std::string>& fields);

} // namespace FormEncoding
