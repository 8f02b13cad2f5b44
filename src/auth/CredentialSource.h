#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

// Where a credential came from: the app's own browser sign-in, or the session
// of the `velmo` command-line tool.
enum class CredentialSource {
    app,
    cliTokens,
};

inline constexpr std::array<CredentialSource, 2> allCredentialSources { CredentialSource::app, CredentialSource::cliTokens };

// "app" / "cliTokens": the text written into log lines and JSON.
std::string_view rawValue(CredentialSource source);
// What the settings window shows for the source.
std::string_view label(CredentialSource source);
// None for an unknown raw value.
std::optional<CredentialSource> credentialSourceFromRawValue(std::string_view raw);
