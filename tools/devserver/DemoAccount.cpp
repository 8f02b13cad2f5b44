#include "DemoAccount.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <ctime>
#include <string>

namespace velmo::devserver {

namespace {

using Json = nlohmann::json;

// A well-mixed 64-bit hash, so neighbouring days look unrelated.
std::uint64_t splitmix(std::uint64_t x)
{
    x += 0x9e3779b97f4a7c15ULL;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

std::int64_t floorDiv(std::int64_t a, std::int64_t b)
{
    std::int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

// "2025-03-04T05:06:07.123Z": the service sends fractional seconds.
std::string isoMillis(DemoAccount::Clock::time_point instant)
{
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(instant.time_since_epoch()).count();
    const std::time_t secs = static_cast<std::time_t>(floorDiv(ms, 1000));
    std::tm tm {};
    gmtime_r(&secs, &tm);
    // Sized for the widest ints GCC can imagine, so the release build has no
    // truncation warning.
    std::array<char, 96> text {};
    std::snprintf(text.data(), text.size(), "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900, tm.tm_mon + 1,
        tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(ms - floorDiv(ms, 1000) * 1000));
    return text.data();
}

std::string isoWhole(std::int64_t epochSeconds)
{
    const std::time_t secs = static_cast<std::time_t>(epochSeconds);
    std::tm tm {};
    gmtime_r(&secs, &tm);
    std::array<char, 32> text {};
    std::strftime(text.data(), text.size(), "%Y-%m-%dT%H:%M:%SZ", &tm);
    return text.data();
}

} // namespace

Json DemoAccount::balance(Clock::time_point now)
{
    const std::int64_t nowSeconds = std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count();
    const std::int64_t midnight = floorDiv(nowSeconds, secondsPerDay) * secondsPerDay;

    // Plan credit: $20 of which $5 trial (ends in 6 days) and $15 subscription
    // (renews in 18 days). Account $42.75 in all; the key may spend $30 more.
    return Json {
        { "currency", "USD" },
        { "account_balance_micros_usd", "42750000" },
        { "available_balance_micros_usd", "30000000" },
        { "go_to_market_balance_micros_usd", "20000000" },
        { "gtm",
            {
                { "active", true },
                { "plan_code", "builder" },
                { "balance_micros_usd", 20'000'000 },
                { "trial_balance_micros_usd", 5'000'000 },
                { "trial_expires_at", isoWhole(midnight + 6 * secondsPerDay) },
                { "subscription_balance_micros_usd", 15'000'000 },
                { "expires_at", isoWhole(midnight + 18 * secondsPerDay) },
            } },
        { "api_key",
            {
                { "unlimited", false },
                { "remaining_micros_usd", 30'000'000 },
                { "used_micros_usd", 20'000'000 },
            } },
        { "as_of", isoMillis(now) },
    };
}

Json DemoAccount::bucketMetrics(std::int64_t start, std::int64_t seconds, bool account)
{
    const std::int64_t day = floorDiv(start, secondsPerDay);
    const std::uint64_t h = splitmix(static_cast<std::uint64_t>(day) * 2 + (account ? 1 : 0));
    const auto pick = [h](int shift, std::uint64_t range) {
        return static_cast<std::int64_t>((h >> shift) % range);
    };

    // Weekdays (1970-01-01 was a Thursday) are busier than weekends.
    const std::int64_t weekday = ((day % 7) + 7 + 3) % 7; // 0 = Monday
    std::int64_t requests = 120 + pick(0, 420);
    if (weekday >= 5)
        requests = requests * 2 / 5;
    if (account)
        requests += requests / 2 + pick(9, 80);

    // Most days fail a little, some not at all, one in nine has an outage burst.
    std::int64_t failed = 0;
    const std::int64_t failureClass = pick(17, 9);
    if (failureClass == 0)
        failed = requests * (8 + pick(21, 10)) / 100;
    else if (failureClass >= 4)
        failed = requests * pick(25, 4) / 100;

    const std::int64_t input = requests * (700 + pick(29, 1400));
    const std::int64_t output = requests * (150 + pick(37, 450));
    const std::int64_t cacheRead = input * pick(45, 45) / 100;
    const std::int64_t cacheWrite = input * pick(51, 9) / 100;

    // Cut a partial last bucket to its share of the day.
    const auto share = [seconds](std::int64_t v) { return v * seconds / secondsPerDay; };

    // $3 per million input tokens, $15 output, $0.30 cache read, $3.75 cache write.
    const std::int64_t value
        = share(input) * 3 + share(output) * 15 + share(cacheRead) * 3 / 10 + share(cacheWrite) * 375 / 100;
    // The plan covers part of some days; the rest is charged.
    const std::int64_t covered = (pick(55, 3) == 0) ? value * 40 / 100 : 0;

    return Json {
        { "requests", share(requests) },
        { "failed_requests", share(failed) },
        { "input_tokens", share(input) },
        { "output_tokens", share(output) },
        { "cache_read_tokens", share(cacheRead) },
        { "cache_write_tokens", share(cacheWrite) },
        { "usage_value_micros_usd", value },
        { "charged_micros_usd", value - covered },
    };
}

Json DemoAccount::usage(std::int64_t start, std::int64_t end, std::string_view scope)
{
    const bool account = scope == "account";
    static constexpr std::array<const char*, 6> counters {
        "requests", "failed_requests", "input_tokens", "output_tokens", "cache_read_tokens", "cache_write_tokens"
    };
    static constexpr std::array<const char*, 2> amounts { "usage_value_micros_usd", "charged_micros_usd" };

    Json totals = Json::object();
    for (const char* key : counters)
        totals[key] = 0;
    for (const char* key : amounts)
        totals[key] = 0;

    Json buckets = Json::array();
    for (std::int64_t s = start; s < end; s += secondsPerDay) {
        const std::int64_t e = std::min(s + secondsPerDay, end);
        Json bucket = bucketMetrics(s, e - s, account);
        for (const char* key : counters)
            totals[key] = totals[key].get<std::int64_t>() + bucket[key].get<std::int64_t>();
        for (const char* key : amounts)
            totals[key] = totals[key].get<std::int64_t>() + bucket[key].get<std::int64_t>();
        bucket["start_time"] = s;
        bucket["end_time"] = e;
        buckets.push_back(std::move(bucket));
    }

    return Json {
        { "scope", account ? "account" : "key" },
        { "currency", "USD" },
        { "start_time", start },
        { "end_time", end },
        { "bucket_width", "1d" },
        { "totals", std::move(totals) },
        { "buckets", std::move(buckets) },
    };
}

} // namespace velmo::devserver
