// Matching one event against a configuration of 1,000 trigger keys, beside a hash lookup of the
// event name alone.
#include <benchmark/benchmark.h>

#include <unordered_map>

#include "analytics/agent/TallyPulseSettings.h"

namespace {

using platform::Value;

TallyPulseSettings& settings() {
    static std::shared_ptr<TallyPulseSettings> made = [] {
        auto made = std::make_shared<TallyPulseSettings>();
        TallyPulseSettings& s = *made;
        for (int i = 0; i < 500; ++i) s.addCallbackForEvent("event_" + std::to_string(i), i);
        for (int i = 0; i < 500; ++i)
            s.addCallbackForTrigger(std::make_shared<TallyPulseEventTrigger>("event_" + std::to_string(i), "mode",
                                                                             std::vector<std::string>{"easy", "hard"}),
                                    1000 + i);
        return made;
    }();
    return *made;
}

void BM_MatchAgainstTriggerKeys(benchmark::State& state) {
    auto& s = settings();
    Value::Dict const params = {{"mode", Value("hard")}, {"eventLogId", Value(7)}};
    for (auto _ : state) benchmark::DoNotOptimize(s.callbackIdsForEvent("event_250", params));
}
BENCHMARK(BM_MatchAgainstTriggerKeys);

void BM_HashLookupOfTheName(benchmark::State& state) {
    std::unordered_map<std::string, std::vector<int64_t>> byName;
    for (int i = 0; i < 500; ++i) byName["event_" + std::to_string(i)] = {i, 1000 + i};
    for (auto _ : state) {
        auto it = byName.find("event_250");
        benchmark::DoNotOptimize(it->second);
    }
}
BENCHMARK(BM_HashLookupOfTheName);

}  // namespace

BENCHMARK_MAIN();
