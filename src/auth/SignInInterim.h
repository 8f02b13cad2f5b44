#pragma once

// Interim stand-ins for three shared helpers that are being added elsewhere
// (the form encoder beside the token coordinator, the API client's error
// message, the log channels). Browser sign-in calls them only through this
// file; it goes away when the shared ones exist.

#include <QByteArray>
#include <QLoggingCategory>

#include <map>
#include <string>

namespace SignInInterim {

Q_DECLARE_LOGGING_CATEGORY(auth)

// Pairs sorted by key; letters, digits and "-._~" kept, every other byte %XX.
std::string formEncode(const std::map<std::string, std::string>& fields);

// The readable message of an unsuccessful response: "error.message",
// "error" or "message" of a JSON object body, else the trimmed body, else
// the status's reason phrase.
std::string errorMessage(const QByteArray& body, int status);

} // namespace SignInInterim
