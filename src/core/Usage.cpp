#include "Usage.h"

#include "JSONFields.h"

#include <algorithm>
#include <cmath>

using namespace VelmoJSON::fields;
using VelmoJSON::Json;

std::int64_t UsageMetrics::totalTokens() const
{
    return saturatingAdd(inputTokens, outputTokens);
}

std::int64_t UsageMetrics::cacheTokens() const
{
    return saturatingAdd(cacheReadTokens, cacheWriteTokens);
}

double UsageMetrics::failureRate() const
{
    if (requests < 1)
        return 0.0;
    return static_cast<double>(failedRequests) / static_cast<double>(requests);
}

std::int64_t UsageSummary::days() const
{
    // Whole seconds and the nanosecond rest apart, so neither overflows and
    // an exact half day stays exact.
    using namespace std::chrono;
    const auto wholeStart = duration_cast<seconds>(startTime.time_since_epoch());
    const auto wholeEnd = duration_cast<seconds>(endTime.time_since_epoch());
    const auto restStart = startTime.time_since_epoch() - wholeStart;
    const auto restEnd = endTime.time_since_epoch() - wholeEnd;
    const double length = static_cast<double>((wholeEnd - wholeStart).count())
        + static_cast<double>((restEnd - restStart).count()) / 1e9;
    return std::max<std::int64_t>(1, static_cast<std::int64_t>(std::round(length / 86'400.0)));
}

MicrosUSD UsageSummary::dailyAverageCharged() const
{
    return MicrosUSD(totals.charged.value / days());
}

std::string_view usageScopeText(UsageScope scope)
{
    return scope == UsageScope::account ? "account" : "key";
}

std::optional<UsageScope> usageScopeFromText(std::string_view text)
{
    if (text == "key")
        return UsageScope::key;
    if (text == "account")
        return UsageScope::account;
    return std::nullopt;
}

UsageMetrics VelmoJSON::Coder<UsageMetrics>::decode(const Json& value)
{
    expectObject(value);
    UsageMetrics m;
    m.requests = field(value, "requests", integer).value_or(0);
    m.failedRequests = field(value, "failed_requests", integer).value_or(0);
    m.inputTokens = field(value, "input_tokens", integer).value_or(0);
    m.outputTokens = field(value, "output_tokens", integer).value_or(0);
    m.cacheReadTokens = field(value, "cache_read_tokens", integer).value_or(0);
    m.cacheWriteTokens = field(value, "cache_write_tokens", integer).value_or(0);
    m.usageValue = field(value, "usage_value_micros_usd", micros).value_or(MicrosUSD::zero);
    m.charged = field(value, "charged_micros_usd", micros).value_or(MicrosUSD::zero);
    return m;
}

Json VelmoJSON::Coder<UsageMetrics>::encode(const UsageMetrics& m)
{
    return {
        { "requests", m.requests },
        { "failed_requests", m.failedRequests },
        { "input_tokens", m.inputTokens },
        { "output_tokens", m.outputTokens },
        { "cache_read_tokens", m.cacheReadTokens },
        { "cache_write_tokens", m.cacheWriteTokens },
        { "usage_value_micros_usd", m.usageValue.value },
        { "charged_micros_usd", m.charged.value },
    };
}

UsageBucket VelmoJSON::Coder<UsageBucket>::decode(const Json& value)
{
    expectObject(value);
    UsageBucket bucket;
    bucket.startTime = requiredField(value, "start_time", epochSeconds);
    bucket.endTime = requiredField(value, "end_time", epochSeconds);
    // The metrics stand in the bucket object itself.
    bucket.metrics = Coder<UsageMetrics>::decode(value);
    return bucket;
}

Json VelmoJSON::Coder<UsageBucket>::encode(const UsageBucket& bucket)
{
    Json out = Coder<UsageMetrics>::encode(bucket.metrics);
    out["start_time"] = encodeEpochSeconds(bucket.startTime);
    out["end_time"] = encodeEpochSeconds(bucket.endTime);
    return out;
}

UsageSummary VelmoJSON::Coder<UsageSummary>::decode(const Json& value)
{
    expectObject(value);
    UsageSummary summary;
    summary.scope = field(value, "scope", text).value_or("key");
    summary.currency = field(value, "currency", text).value_or("USD");
    summary.startTime = field(value, "start_time", epochSeconds).value_or(Timestamp {});
    summary.endTime = field(value, "end_time", epochSeconds).value_or(Timestamp {});
    summary.bucketWidth = field(value, "bucket_width", text).value_or("1d");
    summary.totals = field(value, "totals", Coder<UsageMetrics>::decode).value_or(UsageMetrics::zero);
    const auto buckets = field(value, "buckets", [](const Json& array) {
        if (!array.is_array())
            throw DecodingError(std::string("expected an array, found ") + array.type_name());
        std::vector<UsageBucket> out;
        out.reserve(array.size());
        for (std::size_t i = 0; i < array.size(); ++i) {
            try {
                out.push_back(Coder<UsageBucket>::decode(array[i]));
            } catch (const DecodingError& error) {
                throw error.under(i);
            }
        }
        return out;
    });
    if (buckets)
        summary.buckets = *buckets;
    return summary;
}

Json VelmoJSON::Coder<UsageSummary>::encode(const UsageSummary& summary)
{
    Json buckets = Json::array();
    for (const auto& bucket : summary.buckets)
        buckets.push_back(Coder<UsageBucket>::encode(bucket));
    return {
        { "scope", summary.scope },
        { "currency", summary.currency },
        { "start_time", encodeEpochSeconds(summary.startTime) },
        { "end_time", encodeEpochSeconds(summary.endTime) },
        { "bucket_width", summary.bucketWidth },
        { "totals", Coder<UsageMetrics>::encode(summary.totals) },
        { "buckets", std::move(buckets) },
    };
}
