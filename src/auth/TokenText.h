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

// The text holds a control character (C0, DEL or C1) or invalid UTF-8: no
// token does, and one that did would break the header it is sent in.
bool hasControlCharacters(std::string_view text);

// Milliseconds since 1970 → instant, clamped to the clock's range so that an
// absurd stored value cannot overflow.
Timestamp fromMilliseconds(double milliseconds);
double toMilliseconds(Timestamp instant);

} // namespace TokenText
