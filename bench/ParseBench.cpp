// Usage parse + decode against a plain nlohmann::json::parse of the same
// body, for the sizes given on the command line. Prints one line per size:
//   <buckets> <bytes> <decode min ms> <decode median ms> <plain min ms> <plain median ms>
// The two are timed alternately in the same loop so that machine noise hits
// both alike.
#include "Usage.h"
#include "VelmoJSON.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// A body as the service sends it: day buckets with every counter filled.
std::string usageBody(int buckets)
{
    constexpr long long day = 86'400;
    const long long start = 1'700'000'000;
    nlohmann::json list = nlohmann::json::array();
    long long spent = 0;
    for (int i = 0; i < buckets; ++i) {
        const long long charged = 100'000 + (i * 7919) % 2'000'000;
        spent += charged;
        list.push_back({ { "start_time", start + i * day }, { "end_time", start + (i + 1) * day },
            { "requests", 100 + i % 50 }, { "failed_requests", i % 3 }, { "input_tokens", 12'345 + i },
            { "output_tokens", 6'789 + i }, { "cache_read_tokens", 1'000 + i % 7 }, { "cache_write_tokens", i % 11 },
            { "charged_micros_usd", std::to_string(charged) }, { "usage_value_micros_usd", charged + 5'000 } });
    }
    nlohmann::json body = { { "start_time", start }, { "end_time", start + buckets * day }, { "bucket_width", "1d" },
        { "scope", "key" }, { "totals", { { "requests", buckets * 120 }, { "charged_micros_usd", spent } } },
        { "buckets", std::move(list) } };
    return body.dump();
}

double milliseconds(std::chrono::steady_clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<int> sizes;
    for (int i = 1; i < argc; ++i)
        sizes.push_back(std::atoi(argv[i]));
    if (sizes.empty())
        sizes = { 30, 10'000, 60'000 };
    for (int buckets : sizes) {
        const std::string body = usageBody(buckets);
        // Enough rounds for a stable median, about a second per size.
        const int rounds = std::clamp(int(20'000'000 / (body.size() + 1)), 7, 2'000);
        std::vector<double> decodeTimes, plainTimes;
        std::size_t sink = 0;
        for (int round = 0; round < rounds; ++round) {
            // Each timing includes freeing what it built: the decode frees its
            // document inside, so the plain parse frees its own too.
            auto begin = std::chrono::steady_clock::now();
            {
                const UsageSummary summary = VelmoJSON::decode<UsageSummary>(body);
                sink += summary.buckets.size();
            }
            decodeTimes.push_back(milliseconds(std::chrono::steady_clock::now() - begin));
            begin = std::chrono::steady_clock::now();
            {
                const nlohmann::json plain = nlohmann::json::parse(body);
                sink += plain.size();
            }
            plainTimes.push_back(milliseconds(std::chrono::steady_clock::now() - begin));
        }
        if (sink == 0)
            return 1;
        std::printf("%d %zu %.4f %.4f %.4f %.4f\n", buckets, body.size(),
            *std::min_element(decodeTimes.begin(), decodeTimes.end()), median(decodeTimes),
            *std::min_element(plainTimes.begin(), plainTimes.end()), median(plainTimes));
    }
    return 0;
}
