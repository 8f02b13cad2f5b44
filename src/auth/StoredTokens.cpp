#include "StoredTokens.h"

#include "JSONFields.h"
#include "TokenText.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdint>

bool StoredTokens::isAPIKey() const
{
    return TokenText::isAPIKey(accessToken);
}

std::optional<Timestamp> StoredTokens::expiryDate() const
{
    if (!expiresAt)
        return std::nullopt;
    return TokenText::fromMilliseconds(*expiresAt);
}

std::optional<Credential> StoredTokens::credential(CredentialSource source) const
{
    std::string token = TokenText::trimmed(accessToken);
    if (token.empty() || token.starts_with("sk-"))
        return std::nullopt;
    Credential result { .token = std::move(token), .source = source };
    std::string refresh = refreshToken ? TokenText::trimmed(*refreshToken) : std::string();
    std::string client = clientId ? TokenText::trimmed(*clientId) : std::string();
    // Without both halves of the refresh data the session cannot be renewed,
    // and a stored expiry would only make it look expired for nothing.
    if (!refresh.empty() && !client.empty()) {
        result.refreshToken = std::move(refresh);
        result.clientID = std::move(client);
        result.expiresAt = expiryDate();
    }
    return result;
}

StoredTokens VelmoJSON::Coder<StoredTokens>::decode(const Json& json)
{
    using namespace VelmoJSON::fields;
    expectObject(json);
    return StoredTokens {
        .accessToken = requiredField(json, "accessToken", text),
        .refreshToken = field(json, "refreshToken", text),
        .expiresAt = field(json, "expiresAt", number),
        .clientId = field(json, "clientId", text),
    };
}

VelmoJSON::Json VelmoJSON::Coder<StoredTokens>::encode(const StoredTokens& tokens)
{
    Json json = Json::object();
    json["accessToken"] = tokens.accessToken;
    if (tokens.refreshToken)
        json["refreshToken"] = *tokens.refreshToken;
    if (tokens.expiresAt) {
        // Whole milliseconds are written as an integer: a peer that reads the
        // field into an integer type must not choke on "1700000000000.0".
        const double value = *tokens.expiresAt;
        if (std::isfinite(value) && value == std::trunc(value) && std::fabs(value) < 9.0e15)
            json["expiresAt"] = static_cast<std::int64_t>(value);
        else if (std::isfinite(value))
            json["expiresAt"] = value;
        else
            throw VelmoJSON::DecodingError("expiresAt is not a finite number");
    }
    if (tokens.clientId)
        json["clientId"] = *tokens.clientId;
    return json;
}
