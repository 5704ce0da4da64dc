// A sync read of a persistent map while saves of it keep running, against the same read on an
// idle map: saves are reads, so the ratio should stay near one.
#include <benchmark/benchmark.h>

#include <atomic>
#include <thread>

#include "analytics/agent/TallyGlobalPersistentManager.h"
#include "analytics/agent/TallyGlobalVariableStorage.h"
#include "platform/base/Directories.h"
#include "testing/TestPaths.h"

namespace {

struct Maps {
    testing_support::TempDir dir;
    std::shared_ptr<TallyGlobalPersistentManager> maps;
    Maps() {
        platform::Directories::setRootOverride(dir.path());
        maps = TallyGlobalPersistentManager::sharedInstance();
        // About a session's worth of settings and tracked values.
        maps->writeSync(TallyGlobalPersistentManager::Globals, [](Value::Dict& d) {
            for (int i = 0; i < 2000; ++i) d["key" + std::to_string(i)] = Value("value " + std::to_string(i));
        });
    }
    ~Maps() {
        TallyGlobalPersistentManager::cleanup();
        TallyGlobalVariableStorage::cleanup();
        platform::Directories::setRootOverride(std::nullopt);
    }
};

void readOne(TallyGlobalPersistentManager& maps, benchmark::State& state) {
    for (auto _ : state) {
        size_t n = 0;
        maps.processReadOperationForPersistentGlobalsMapSync([&](Value::Dict const& d) { n = d.count("key7"); });
        benchmark::DoNotOptimize(n);
    }
}

void syncReadIdle(benchmark::State& state) {
    Maps m;
    readOne(*m.maps, state);
}

void syncReadDuringSaves(benchmark::State& state) {
    Maps m;
    std::atomic<bool> stop{false};
    auto const path = m.dir / "globals.archive";
    std::thread saver([&] {
        while (!stop) {
            m.maps->save(TallyGlobalPersistentManager::Globals, path);
            m.maps->waitUntilIdle();
        }
    });
    readOne(*m.maps, state);
    stop = true;
    saver.join();
}

}  // namespace

BENCHMARK(syncReadIdle)->UseRealTime();
BENCHMARK(syncReadDuringSaves)->UseRealTime();
BENCHMARK_MAIN();
