#include "CredentialSource.h"

std::string_view rawValue(CredentialSource source)
{
    switch (source) {
    case CredentialSource::app:
        return "app";
    case CredentialSource::cliTokens:
        return "cliTokens";
    }
    return "app";
}

std::string_view label(CredentialSource source)
{
    switch (source) {
    case CredentialSource::app:
        return "Browser sign-in";
    case CredentialSource::cliTokens:
        return "velmo CLI (~/.velmo/tokens.json)";
    }
    return "Browser sign-in";
}

std::optional<CredentialSource> credentialSourceFromRawValue(std::string_view raw)
{
    for (const CredentialSource source : allCredentialSources) {
        if (rawValue(source) == raw)
            return source;
    }
    return std::nullopt;
}
