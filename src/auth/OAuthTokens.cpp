#include "OAuthTokens.h"

#include "JSONFields.h"

using namespace VelmoJSON::fields;


OAuthTokens VelmoJSON::Coder<OAuthTokens>::decode(const Json& json)
{
    expectObject(json);
    return {
        .accessToken = requiredField(json, "access_token", text),
        .refreshToken = field(json, "refresh_token", text),
        .expiresIn = field(json, "expires_in", number),
    };
}

VelmoJSON::Json VelmoJSON::Coder<OAuthTokens>::encode(const OAuthTokens& tokens)
{
    Json json = Json::object();
    json["access_token"] = tokens.accessToken;
    if (tokens.refreshToken)
        json["refresh_token"] = *tokens.refreshToken;
    if (tokens.expiresIn)
        json["expires_in"] = *tokens.expiresIn;
    return json;
}
