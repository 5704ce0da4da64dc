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
// pile of notes other copies left (made again whenever it is all folded), against one beside none.
void BM_SynchronizeBesideAFoldOfAPile(benchmark::State& state) {
    int const pile = int(state.range(0));
    testing_support::TempDir dir;
    auto const path = dir / "prefs";
    uint64_t stamp = 1'700'000'000'000'000'000;
    auto const makePile = [&] {
        for (int i = 0; i < pile; ++i) {
            char name[96];
            std::snprintf(name, sizeof name, ".prefs.%020llu-0123456789abcdef-1.pending", static_cast<unsigned long long>(++stamp));
            std::ofstream(dir / "note.tmp") << "add uses=1\n";  // whole once there, as a note is
            std::filesystem::rename(dir / "note.tmp", dir / name);
        }
    };
    auto const notesLeft = [&] {
        return !platform::regularFilesIn(dir.path(), [](auto const& n) { return n.ends_with(".pending"); }).empty();
    };
    platform::PreferencesFile folding(path);
    makePile();
    platform::PreferencesFile answered(path);  // its first view reads the pile
    std::atomic<bool> stop{false};
    std::atomic<int64_t> rounds{0};
    std::thread background;
    if (pile)
        background = std::thread([&] {
            while (!stop) {
                if (!notesLeft()) makePile();
                folding.addInteger("folds", 1);
                folding.synchronize();
                ++rounds;
            }
        });
    double longest = 0;
    int64_t n = 0;
    for (auto _ : state) {
        auto const start = std::chrono::steady_clock::now();
        answered.setInteger("answer", ++n);
        benchmark::DoNotOptimize(answered.synchronize());
        longest = std::max(longest, std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
    }
    state.counters["longest_us"] = longest;
    state.counters["rounds"] = double(rounds);
    stop = true;
    if (background.joinable()) background.join();
}
BENCHMARK(BM_SynchronizeBesideAFoldOfAPile)->Arg(0)->Arg(1000)->Arg(20000)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
