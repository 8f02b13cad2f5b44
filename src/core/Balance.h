#pragma once

#include "MicrosUSD.h"
#include "Timestamp.h"
#include "VelmoJSON.h"

#include <algorithm>
#include <optional>
#include <string>

// The account's credit position as the service reports it.
struct Balance {
    // Subscription-plan ("go-to-market") credit.
    struct GTM {
        bool active = false;
        std::optional<std::string> planCode;
        MicrosUSD balance;
        MicrosUSD trialBalance;
        std::optional<Timestamp> trialExpiresAt;
        MicrosUSD subscriptionBalance;
        std::optional<Timestamp> expiresAt;

        // "Builder Plan", "Team Plan" or "Subscription Plan".
        std::string planName() const;

        friend bool operator==(const GTM&, const GTM&) = default;
    };

    // The spending limit of the API key in use.
    struct APIKeyLimit {
        // An "api_key" object without "unlimited" is a limited key.
        bool unlimited = false;
        MicrosUSD remaining;
        MicrosUSD used;

        // None for an unlimited key, else remaining + used.
        std::optional<MicrosUSD> limit() const;

        friend bool operator==(const APIKeyLimit&, const APIKeyLimit&) = default;
    };

    static constexpr MicrosUSD lowBalanceThreshold { 5'000'000 };

    std::string currency = "USD";
    MicrosUSD accountBalance;
    MicrosUSD availableBalance;
    MicrosUSD goToMarketBalance;
    std::optional<GTM> gtm;
    // A response without "api_key" means an unlimited key.
    APIKeyLimit apiKey { .unlimited = true };
    Timestamp asOf;

    bool isEmpty() const { return accountBalance <= MicrosUSD::zero; }
    bool isLow() const { return availableBalance < lowBalanceThreshold; }
    bool isCapped() const { return availableBalance != accountBalance; }
    MicrosUSD payAsYouGoBalance() const { return accountBalance - goToMarketBalance; }
    // A negative plan balance is not taken off what can be spent.
    MicrosUSD availablePayAsYouGo() const { return availableBalance - std::max(goToMarketBalance, MicrosUSD::zero); }

    friend bool operator==(const Balance&, const Balance&) = default;
};

template <>
struct VelmoJSON::Coder<MicrosUSD> {
    static MicrosUSD decode(const Json& value);
    static Json encode(MicrosUSD value);
};

template <>
struct VelmoJSON::Coder<Balance::GTM> {
    static Balance::GTM decode(const Json& value);
    static Json encode(const Balance::GTM& value);
};

template <>
struct VelmoJSON::Coder<Balance::APIKeyLimit> {
    static Balance::APIKeyLimit decode(const Json& value);
    static Json encode(const Balance::APIKeyLimit& value);
};

// Decoding stamps asOf with the current time when the body has no "as_of".
template <>
struct VelmoJSON::Coder<Balance> {
    static Balance decode(const Json& value);
    static Json encode(const Balance& value);
};
