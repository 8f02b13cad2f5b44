// Parse + decode of a usage answer against a plain nlohmann::json::parse, at
// growing bucket counts: the depth limit must keep decoding linear.
// Run on demand: build/test/bench/velmo_json_bench
#include "Usage.h"
#include "VelmoJSON.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdio>
#include <string>

namespace {

std::string usageDocument(int buckets)
{
    std::string text = R"({"scope":"account","start_time":1700000000,"end_time":1702592000,"buckets":[)";
    for (int i = 0; i < buckets; ++i) {
        if (i > 0)
            text += ',';
        const long start = 1'700'000'000L + 86'400L * i;
        text += R"({"start_time":)" + std::to_string(start) + R"(,"end_time":)" + std::to_string(start + 86'400)
            + R"(,"requests":12,"failed_requests":1,"input_tokens":34567,"output_tokens":8901,)"
              R"("cache_read_tokens":120,"cache_write_tokens":4,"usage_value_micros_usd":"1234567",)"
              R"("charged_micros_usd":1200000})";
    }
    return text + "]}";
}

template <typename F> double bestMilliseconds(int rounds, F&& run)
{
    double best = 1e300;
    for (int i = 0; i < rounds; ++i) {
        const auto start = std::chrono::steady_clock::now();
        run();
        const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
        best = std::min(best, took.count());
    }
    return best;
}

} // namespace

int main()
{
    // "limited" is the depth-limited parse alone, "decode" parse + decode;
    // both as ratios to the plain parse.
    std::printf("%8s %10s %10s %10s %8s %8s\n", "buckets", "plain ms", "limited ms", "decode ms", "limited", "decode");
    for (int buckets : { 30, 10'000, 30'000, 60'000 }) {
        const std::string text = usageDocument(buckets);
        const int rounds = buckets < 1000 ? 500 : 15;
        const double plain = bestMilliseconds(rounds, [&] { (void)nlohmann::json::parse(text); });
        const double limited = bestMilliseconds(rounds, [&] { (void)VelmoJSON::parse(text); });
        const double ours = bestMilliseconds(rounds, [&] { (void)VelmoJSON::decode<UsageSummary>(text); });
        std::printf("%8d %10.3f %10.3f %10.3f %8.2f %8.2f\n", buckets, plain, limited, ours, limited / plain,
            ours / plain);
    }
}
