// The host's logEvent while the session queue archives, against an empty call (p50 and p99):
// back to back (thousands of events wait behind one archive, so the memory holding them is
// touched for the first time during the run) and paced by 2 µs of other work per call; a
// 1,000-event session archived against Jansson's untyped dump of the same data; a report at the
// limits against CRC-32 over as many bytes.
#include <benchmark/benchmark.h>
#include <jansson.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "analytics/agent/Tally.h"
#include "analytics/agent/TallyGlobalPersistentManager.h"
#include "analytics/agent/TallyImpl.h"
#include "analytics/agent/TallySessionInfo.h"
#include "analytics/agent/TallyUtil.h"
#include "platform/base/DeviceFacts.h"
#include "platform/base/Directories.h"
#include "testing/TestPaths.h"

namespace {

struct Folder {
    testing_support::TempDir dir;
    Folder() {
        platform::Directories::setRootOverride(dir.path());
        TallyUtil::setLogLevel(0);
        platform::DeviceProfile p;
        p.applicationState = 0;
        platform::DeviceFacts::setProfile(p);
    }
    ~Folder() {
        Tally::reset();
        TallyGlobalPersistentManager::cleanup();
        platform::Directories::setRootOverride(std::nullopt);
    }
};

constexpr int kCalls = 20000;

__attribute__((noinline)) int emptyCall(char const* name) {
    benchmark::DoNotOptimize(name);
    return 1;
}

// Times each call, reports the 50th and 99th percentile in ns; before runs untimed ahead of each.
template <class F, class G>
void percentiles(benchmark::State& state, F call, G before) {
    std::vector<double> ns;
    for (auto _ : state) {
        before();
        auto const t0 = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(call());
        ns.push_back(std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - t0).count());
    }
    std::sort(ns.begin(), ns.end());
    state.counters["p50_ns"] = ns[ns.size() / 2];
    state.counters["p99_ns"] = ns[ns.size() * 99 / 100];
}

void logEventWhileArchiving(benchmark::State& state) {
    Folder folder;
    Tally::setSessionReportsOnPauseEnabled(false);
    Tally::startSession("KEY");
    auto impl = TallyImpl::currentSession();
    std::atomic<bool> stop{false}, saving{false};
    std::atomic<int> archives{0};
    // Keeps the queue busy archiving the session the calls go to.
    std::thread archiver([&] {
        while (!stop) impl->withSession([&](TallySession* s) {
            if (!s) return;
            saving = true;
            s->saveToDisk();
            saving = false;
            ++archives;
        });
    });
    while (archives == 0) std::this_thread::yield();
    int i = 0, whileSaving = 0;
    auto const gap = std::chrono::nanoseconds(state.range(0));
    int const archivesBefore = archives;
    percentiles(
        state, [&] { return Tally::logEvent((i++ % 2) ? "LEVELPLAYED" : "STARTED_LEVEL"); },
        [&] {
            for (auto const until = std::chrono::steady_clock::now() + gap; std::chrono::steady_clock::now() < until;) {
            }
            whileSaving += saving.load(std::memory_order_relaxed);
        });
    stop = true;
    archiver.join();
    // How much of the run overlapped an archive being written.
    state.counters["archives"] = double(archives - archivesBefore);
    state.counters["calls_while_saving"] = double(whileSaving) / double(std::max(i, 1));
}

void emptyCallBaseline(benchmark::State& state) {
    percentiles(state, [] { return emptyCall("LEVELPLAYED"); }, [] {});
}

std::shared_ptr<TallySession> fullSession() {
    TallyPreCacheEventManager::PreCacheLog none;
    auto s = TallySession::sessionWithApiKey("KEY", platform::Date::now(), none);
    Value::Dict params;
    for (int i = 0; i < 10; ++i) params["param" + std::to_string(i)] = Value("value" + std::to_string(i));
    for (int i = 0; i < 1000; ++i) s->recordEvent("event" + std::to_string(i % 100), params);
    return s;
}

void archiveSession(benchmark::State& state) {
    Folder folder;
    auto s = fullSession();
    size_t size = 0;
    for (auto _ : state) size = platform::KeyedArchive::encode(Value(s)).size();
    state.counters["bytes"] = double(size);
}

void janssonDump(benchmark::State& state) {
    Folder folder;
    auto s = fullSession();
    size_t size = 0;
    for (auto _ : state) {
        json_t* events = json_array();
        for (auto const& e : s->eventLog()) {
            json_t* o = json_object();
            json_object_set_new(o, "name", json_string(e->name().c_str()));
            json_object_set_new(o, "started", json_real(e->started().secondsSince1970));
            json_t* p = json_object();
            for (auto const& [k, v] : e->parameters()) json_object_set_new(p, k.c_str(), json_string(v.string()->c_str()));
            json_object_set_new(o, "parameters", p);
            json_array_append_new(events, o);
        }
        char* text = json_dumps(events, JSON_COMPACT);
        size = std::strlen(text);
        std::free(text);
        json_decref(events);
    }
    state.counters["bytes"] = double(size);
}

void reportAtTheLimits(benchmark::State& state) {
    Folder folder;
    auto s = fullSession();
    Data const block = *s->data();
    std::vector<Data> blocks(50, block);
    size_t size = 0;
    for (auto _ : state) size = s->dataForSessions(blocks)->size();
    state.counters["bytes"] = double(size);
}

void crcOfAsManyBytes(benchmark::State& state) {
    Folder folder;
    auto s = fullSession();
    Data const bytes(s->dataForSessions(std::vector<Data>(50, *s->data()))->size(), 0x5A);
    for (auto _ : state) benchmark::DoNotOptimize(::crc32(0L, bytes.data(), uInt(bytes.size())));
    state.counters["bytes"] = double(bytes.size());
}

}  // namespace

BENCHMARK(logEventWhileArchiving)->ArgName("gap_ns")->Arg(0)->Arg(2000)->Iterations(kCalls)->Unit(benchmark::kNanosecond);
BENCHMARK(emptyCallBaseline)->Iterations(kCalls)->Unit(benchmark::kNanosecond);
BENCHMARK(archiveSession)->Unit(benchmark::kMicrosecond);
BENCHMARK(janssonDump)->Unit(benchmark::kMicrosecond);
BENCHMARK(reportAtTheLimits)->Unit(benchmark::kMicrosecond);
BENCHMARK(crcOfAsManyBytes)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
