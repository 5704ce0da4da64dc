// Recording a thousand events of ten parameters through the session against pushing the same
// into a vector under a mutex; and the heap a paused session holds with a full pending log.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <mutex>

#include "analytics/agent/TallyGlobalPersistentManager.h"
#include "analytics/agent/TallyGlobalVariableStorage.h"
#include "analytics/agent/TallySession.h"
#include "analytics/agent/TallyUtil.h"
#include "platform/base/Directories.h"
#include "testing/TestPaths.h"

namespace {

Value::Dict tenParameters() {
    Value::Dict d;
    for (int i = 0; i < 10; ++i) d["param" + std::to_string(i)] = Value("value" + std::to_string(i));
    return d;
}

struct Folder {
    testing_support::TempDir dir;
    Folder() {
        platform::Directories::setRootOverride(dir.path());
        TallyUtil::setLogLevel(0);
    }
    ~Folder() {
        TallySession::resetStoreForTesting();
        TallyGlobalPersistentManager::cleanup();
        TallyGlobalVariableStorage::cleanup();
        platform::Directories::setRootOverride(std::nullopt);
    }
};

void sessionRecords(benchmark::State& state) {
    Folder folder;
    Value::Dict const params = tenParameters();
    for (auto _ : state) {
        state.PauseTiming();
        TallyPreCacheEventManager::PreCacheLog none;
        auto s = TallySession::sessionWithApiKey("KEY", platform::Date::now(), none);
        state.ResumeTiming();
        for (int i = 0; i < 1000; ++i) benchmark::DoNotOptimize(s->recordEvent("event" + std::to_string(i % 50), params));
    }
}

void vectorUnderMutex(benchmark::State& state) {
    Value::Dict const params = tenParameters();
    std::mutex mutex;
    for (auto _ : state) {
        std::vector<std::pair<std::string, Value::Dict>> log;
        for (int i = 0; i < 1000; ++i) {
            std::lock_guard<std::mutex> lock(mutex);
            log.emplace_back("event" + std::to_string(i % 50), params);
        }
        benchmark::DoNotOptimize(log);
    }
}

// Bytes of heap a session holds for 1,000 events recorded while it is paused.
void pausedSessionMemory(benchmark::State& state) {
    Folder folder;
    Value::Dict const params = tenParameters();
    size_t bytes = 0;
    for (auto _ : state) {
        TallyPreCacheEventManager::PreCacheLog none;
        auto s = TallySession::sessionWithApiKey("KEY", platform::Date::now(), none);
        s->pauseSession();
        size_t const before = mallinfo2().uordblks;
        for (int i = 0; i < 1000; ++i) s->recordEvent("event" + std::to_string(i % 50), params);
        bytes = mallinfo2().uordblks - before;
    }
    state.counters["pendingBytes"] = static_cast<double>(bytes);
}

}  // namespace

BENCHMARK(sessionRecords)->Unit(benchmark::kMicrosecond);
BENCHMARK(vectorUnderMutex)->Unit(benchmark::kMicrosecond);
BENCHMARK(pausedSessionMemory)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
