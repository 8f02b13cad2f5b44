#pragma once

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdint>
#include <string_view>

namespace velmo::devserver {

// The demo account the stand-in serves: a builder plan with trial credit and a
// renewal date, an API key capped below the account balance, and daily usage
// with varied spend and some failed requests. Every figure is a pure function
// of the calendar day, so repeated requests for one window agree.
class DemoAccount {
public:
    using Clock = std::chrono::system_clock;

    static constexpr std::int64_t secondsPerDay = 86'400;
    // Longest usage window served; longer ones are a client error.
    static constexpr std::int64_t maxWindowSeconds = 93 * secondsPerDay;

    // The balance response body at `now`. The three top-level amounts are sent
    // as numeric strings and the nested ones as JSON integers: the service
    // uses both forms and clients must read either.
    static nlohmann::json balance(Clock::time_point now);

    // The usage response body for [start, end) in epoch seconds, one bucket
    // per 86 400 s from `start` (the last one cut at `end`). `account` scope
    // reports the whole account, "key" scope the key in use. The caller has
    // checked start < end and the window length.
    static nlohmann::json usage(std::int64_t start, std::int64_t end, std::string_view scope);

    // The metrics keys of one bucket of `seconds` length starting at `start`.
    static nlohmann::json bucketMetrics(std::int64_t start, std::int64_t seconds, bool account);
};

} // namespace velmo::devserver
