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
    std::printf("%8s %12s %16s %7s\n", "buckets", "plain ms", "parse+decode ms", "ratio");
    for (int buckets : { 30, 10'000, 30'000, 60'000 }) {
        const std::string text = usageDocument(buckets);
        const int rounds = buckets < 1000 ? 200 : 7;
        const double plain = bestMilliseconds(rounds, [&] { (void)nlohmann::json::parse(text); });
        const double ours = bestMilliseconds(rounds, [&] { (void)VelmoJSON::decode<UsageSummary>(text); });
        std::printf("%8d %12.3f %16.3f %7.2f\n", buckets, plain, ours, ours / plain);
    }
}
