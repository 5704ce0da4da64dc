// A settings write on the main thread while another process holds the settings lock: alone, and
// beside a background write that waits up to 250 ms for that lock (the rating prompt's count).
// Either returns at once, its change kept for later, however long the background one waits. And
// one beside another thread's writes folding a pile of notes, a round each.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

#include "platform/AtomicFile.h"
#include "platform/PreferencesFile.h"
#include "testing/TestPaths.h"

namespace {

// Another process holding the lock file until the pipe's far end closes.
struct LockHolder {
    explicit LockHolder(std::filesystem::path const& lockFile) {
        int ready[2];
        if (::pipe(gate) != 0 || ::pipe(ready) != 0) return;
        pid = ::fork();
        if (pid == 0) {
            int const fd = ::open(lockFile.c_str(), O_RDWR | O_CREAT, 0600);
            ::flock(fd, LOCK_EX);
            char c = 1;
            (void)!::write(ready[1], &c, 1);
            ::close(gate[1]);
            (void)!::read(gate[0], &c, 1);
            ::_exit(0);
        }
        char c;
        (void)!::read(ready[0], &c, 1);
        ::close(ready[0]);
        ::close(ready[1]);
        ::close(gate[0]);
    }
    ~LockHolder() {
        ::close(gate[1]);
        ::waitpid(pid, nullptr, 0);
    }
    int gate[2] = {-1, -1};
    pid_t pid = -1;
};

void BM_SynchronizeWhileTheLockIsHeldElsewhere(benchmark::State& state) {
    bool const besideAWaitingWrite = state.range(0) != 0;
    testing_support::TempDir dir;
    auto const path = dir / "prefs";
    LockHolder holder(dir / ".prefs.lock");
    std::atomic<bool> stop{false};
    std::thread background;
    if (besideAWaitingWrite)
        background = std::thread([&] {
            platform::PreferencesFile counted(path);
            while (!stop) {
                counted.addInteger("uses", 1);
                counted.synchronize(std::chrono::milliseconds(250));
            }
        });
    platform::PreferencesFile answered(path);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the background write is waiting
    double longest = 0;
    for (auto _ : state) {
        auto const start = std::chrono::steady_clock::now();
        answered.setBoolean("declined", true);
        benchmark::DoNotOptimize(answered.synchronize());
        longest = std::max(longest, std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
    }
    state.counters["longest_us"] = longest;
    stop = true;
    if (background.joinable()) background.join();
}
BENCHMARK(BM_SynchronizeWhileTheLockIsHeldElsewhere)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond)->UseRealTime();

// A settings write on the main thread beside another thread's writes, each folding a round of a
// pile of notes other copies left, against one beside none.
void BM_SynchronizeBesideAFoldOfAPile(benchmark::State& state) {
    int const pile = int(state.range(0));
    testing_support::TempDir dir;
    auto const path = dir / "prefs";
    auto const notesLeft = [&] {
        return platform::regularFileNamesIn(dir.path(), [](auto const& n) { return n.ends_with(".pending"); }).size();
    };
    platform::PreferencesFile folding(path), answered(path);  // made before the pile: no fold of it here
    for (int i = 0; i < pile; ++i) {
        char name[96];
        std::snprintf(name, sizeof name, ".prefs.%020d-0123456789abcdef-1.pending", i + 1);
        std::ofstream(dir / name) << "add uses=1\n";
    }
    answered.synchronize();  // its view reads the pile
    state.counters["notes_before"] = double(notesLeft());
    std::atomic<bool> stop{false};
    std::thread background([&] {
        while (!stop && notesLeft() > 0) folding.synchronize();
    });
    double longest = 0;
    int64_t n = 0;
    for (auto _ : state) {
        auto const start = std::chrono::steady_clock::now();
        answered.setInteger("answer", ++n);
        benchmark::DoNotOptimize(answered.synchronize());
        double const took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(took);
        longest = std::max(longest, took * 1e6);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));  // a frame or so apart
    }
    state.counters["longest_us"] = longest;
    state.counters["notes_after"] = double(notesLeft());
    stop = true;
    background.join();
}
BENCHMARK(BM_SynchronizeBesideAFoldOfAPile)->Arg(0)->Arg(1000)->Arg(20000)->Iterations(60)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
