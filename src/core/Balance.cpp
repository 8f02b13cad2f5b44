#include "Balance.h"

#include "JSONFields.h"

#include <algorithm>

using namespace VelmoJSON::fields;
using VelmoJSON::Json;

std::string Balance::GTM::planName() const
{
    if (planCode == "builder" || planCode == "nest_growth_30d")
        return "Builder Plan";
    if (planCode == "team")
        return "Team Plan";
    return "Subscription Plan";
}

std::optional<MicrosUSD> Balance::APIKeyLimit::limit() const
{
    if (unlimited)
        return std::nullopt;
    return remaining + used;
}

MicrosUSD VelmoJSON::Coder<MicrosUSD>::decode(const Json& value)
{
    return micros(value);
}

Json VelmoJSON::Coder<MicrosUSD>::encode(MicrosUSD value)
{
    return value.value;
}

Balance::GTM VelmoJSON::Coder<Balance::GTM>::decode(const Json& value)
{
    expectObject(value);
    Balance::GTM gtm;
    gtm.active = field(value, "active", boolean).value_or(false);
    gtm.planCode = field(value, "plan_code", text);
    gtm.balance = field(value, "balance_micros_usd", micros).value_or(MicrosUSD::zero);
    gtm.trialBalance = field(value, "trial_balance_micros_usd", micros).value_or(MicrosUSD::zero);
    gtm.trialExpiresAt = field(value, "trial_expires_at", date);
    gtm.subscriptionBalance = field(value, "subscription_balance_micros_usd", micros).value_or(MicrosUSD::zero);
    gtm.expiresAt = field(value, "expires_at", date);
    return gtm;
}

Json VelmoJSON::Coder<Balance::GTM>::encode(const Balance::GTM& gtm)
{
    Json out = {
        { "active", gtm.active },
        { "balance_micros_usd", gtm.balance.value },
        { "trial_balance_micros_usd", gtm.trialBalance.value },
        { "subscription_balance_micros_usd", gtm.subscriptionBalance.value },
    };
    // Absent optionals are left out, never written as null.
    if (gtm.planCode)
        out["plan_code"] = *gtm.planCode;
    if (gtm.trialExpiresAt)
        out["trial_expires_at"] = formatDate(*gtm.trialExpiresAt);
    if (gtm.expiresAt)
        out["expires_at"] = formatDate(*gtm.expiresAt);
    return out;
}

Balance::APIKeyLimit VelmoJSON::Coder<Balance::APIKeyLimit>::decode(const Json& value)
{
    expectObject(value);
    Balance::APIKeyLimit key;
    key.unlimited = field(value, "unlimited", boolean).value_or(false);
    key.remaining = field(value, "remaining_micros_usd", micros).value_or(MicrosUSD::zero);
    key.used = field(value, "used_micros_usd", micros).value_or(MicrosUSD::zero);
    return key;
}

Json VelmoJSON::Coder<Balance::APIKeyLimit>::encode(const Balance::APIKeyLimit& key)
{
    return {
        { "unlimited", key.unlimited },
        { "remaining_micros_usd", key.remaining.value },
        { "used_micros_usd", key.used.value },
    };
}

Balance VelmoJSON::Coder<Balance>::decode(const Json& value)
{
    expectObject(value);
    Balance balance;
    balance.currency = field(value, "currency", text).value_or("USD");
    balance.accountBalance = field(value, "account_balance_micros_usd", micros).value_or(MicrosUSD::zero);
    balance.availableBalance = field(value, "available_balance_micros_usd", micros).value_or(balance.accountBalance);
    balance.goToMarketBalance = field(value, "go_to_market_balance_micros_usd", micros).value_or(MicrosUSD::zero);
    balance.gtm = field(value, "gtm", Coder<Balance::GTM>::decode);
    if (auto key = field(value, "api_key", Coder<Balance::APIKeyLimit>::decode))
        balance.apiKey = *key;
    balance.asOf = field(value, "as_of", date).value_or(std::chrono::system_clock::now());
    return balance;
}

Json VelmoJSON::Coder<Balance>::encode(const Balance& balance)
{
    Json out = {
        { "currency", balance.currency },
        { "account_balance_micros_usd", balance.accountBalance.value },
        { "available_balance_micros_usd", balance.availableBalance.value },
        { "go_to_market_balance_micros_usd", balance.goToMarketBalance.value },
        { "api_key", Coder<Balance::APIKeyLimit>::encode(balance.apiKey) },
        { "as_of", formatDate(balance.asOf) },
    };
    if (balance.gtm)
        out["gtm"] = Coder<Balance::GTM>::encode(*balance.gtm);
    return out;
}
