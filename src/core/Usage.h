#pragma once

#include "MicrosUSD.h"
#include "Timestamp.h"
#include "VelmoJSON.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// One set of usage counters. Sums saturate at the 64-bit ends.
struct UsageMetrics {
    std::int64_t requests = 0;
    std::int64_t failedRequests = 0;
    std::int64_t inputTokens = 0;
    std::int64_t outputTokens = 0;
    std::int64_t cacheReadTokens = 0;
    std::int64_t cacheWriteTokens = 0;
    MicrosUSD usageValue;
    MicrosUSD charged;

    static const UsageMetrics zero;

    // Input plus output; cache tokens are counted apart.
    std::int64_t totalTokens() const;
    std::int64_t cacheTokens() const;
    // failed / requests as a fraction, 0 without requests.
    double failureRate() const;

    friend bool operator==(const UsageMetrics&, const UsageMetrics&) = default;
};

inline constexpr UsageMetrics UsageMetrics::zero {};

// One time bucket (normally a day) of the usage report.
struct UsageBucket {
    Timestamp startTime;
    Timestamp endTime;
    UsageMetrics metrics;

    friend bool operator==(const UsageBucket&, const UsageBucket&) = default;
};

// The usage report for a window: totals and the buckets in the order received.
struct UsageSummary {
    std::string scope = "key";
    std::string currency = "USD";
    Timestamp startTime;
    Timestamp endTime;
    std::string bucketWidth = "1d";
    UsageMetrics totals;
    std::vector<UsageBucket> buckets;

    // The window length in whole days, halves away from zero, at least 1.
    std::int64_t days() const;
    // totals.charged / days, truncated toward zero.
    MicrosUSD dailyAverageCharged() const;

    friend bool operator==(const UsageSummary&, const UsageSummary&) = default;
};

// Whose usage a request asks for.
enum class UsageScope { key, account };

std::string_view usageScopeText(UsageScope scope);
std::optional<UsageScope> usageScopeFromText(std::string_view text);

template <>
struct VelmoJSON::Coder<UsageMetrics> {
    static UsageMetrics decode(const Json& value);
    static Json encode(const UsageMetrics& value);
};

template <>
struct VelmoJSON::Coder<UsageBucket> {
    static UsageBucket decode(const Json& value);
    static Json encode(const UsageBucket& value);
};

template <>
struct VelmoJSON::Coder<UsageSummary> {
    static UsageSummary decode(const Json& value);
    static Json encode(const UsageSummary& value);
};
