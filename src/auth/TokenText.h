#pragma once

#include "Timestamp.h"

#include <string>
#include <string_view>

// Helpers for token texts and token-record times shared by the credential types.
namespace TokenText {

// The text without leading and trailing Unicode white space and line breaks
// (space, tab, CR, LF, NBSP, U+2028 …).
std::string trimmed(std::string_view text);

// An access token that begins with "sk-" (after trimming) is a static API key.
bool isAPIKey(std::string_view accessToken);

// Milliseconds since 1970 → instant, clamped to the clock's range so that an
// absurd stored value cannot overflow.
Timestamp fromMilliseconds(double milliseconds);
double toMilliseconds(Timestamp instant);

} // namespace TokenText
