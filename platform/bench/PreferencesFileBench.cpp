// A settings write on the main thread while another process holds the settings lock: alone, and
// beside a background write that waits up to 250 ms for that lock (the rating prompt's count).
// Either returns at once, its change kept for later, however long the background one waits. And
// one beside another thread's writes folding a pile of notes, a round each, and the first write
// over a pile once the lock is free: piles of small notes and of large ones.
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
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <sys/resource.h>

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

// The name of the i-th note of a pile (from 1): the later, the later folded.
std::string pileNote(int i) {
    char name[96];
    std::snprintf(name, sizeof name, ".prefs.%020d-0123456789abcdef-1.pending", i);
    return name;
}

// A pile of notes other copies left: small ones count a use, large ones set a value of `bytes`.
void makePile(std::filesystem::path const& dir, int pile, size_t bytes) {
    std::string const text = bytes ? "set large=" + std::string(bytes, 'x') + "\n" : "add uses=1\n";
    for (int i = 0; i < pile; ++i) std::ofstream(dir / pileNote(i + 1)) << text;
}

size_t notesIn(std::filesystem::path const& dir) {
    return platform::regularFileNamesIn(dir, [](auto const& n) { return n.ends_with(".pending"); }).size();
}

double peakMegabytes() {
    rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024;
}

// {notes, bytes a note sets}: none; 1,000 and 20,000 small notes; 300 of 0.9 MB.
void piles(benchmark::internal::Benchmark* b) {
    for (auto const& [notes, bytes] :
         std::vector<std::pair<int64_t, int64_t>>{{0, 0}, {1000, 0}, {20000, 0}, {300, 900'000}})
        b->Args({notes, bytes});
}

// A settings write on the main thread beside another thread's writes, each folding a round of a
// pile of notes other copies left, against one beside none.
void BM_SynchronizeBesideAFoldOfAPile(benchmark::State& state) {
    int const pile = int(state.range(0));
    testing_support::TempDir dir;
    auto const path = dir / "prefs";
    auto const notesLeft = [&] { return notesIn(dir.path()); };
    platform::PreferencesFile folding(path), answered(path);  // made before the pile: no fold of it here
    makePile(dir.path(), pile, size_t(state.range(1)));
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
BENCHMARK(BM_SynchronizeBesideAFoldOfAPile)->Apply(piles)->Iterations(60)->UseManualTime()->Unit(benchmark::kMicrosecond);

// The main thread's write beside a background thread of its own that folds a pile of small notes
// through the same object, a round a write (counting a use each): each write 5 ms after the last
// (or after the fold began), while notes of the pile are left; a fresh pile once one is through.
// Against none. The median and the longest write as counters: the longest is what a frame feels.
void BM_SynchronizeBesideItsOwnFold(benchmark::State& state) {
    int const pile = int(state.range(0));
    std::optional<testing_support::TempDir> dir;
    std::optional<platform::PreferencesFile> settings;
    std::atomic<bool> stop{false};
    std::thread background;
    auto const end = [&] {
        stop = true;
        if (background.joinable()) background.join();
    };
    // Until the pile's last note is gone: a pile is not listed for it.
    auto const through = [&] { return !dir || (pile > 0 && !std::filesystem::exists(dir->path() / pileNote(pile))); };
    std::vector<double> took;
    int64_t n = 0, piles = 0;
    for (auto _ : state) {
        do {
            if (through()) {
                end();
                settings.reset();
                dir.emplace();
                settings.emplace(dir->path() / "prefs");  // made before the pile: nothing folded here
                makePile(dir->path(), pile, 0);
                stop = false;
                ++piles;
                background = std::thread([&] {
                    while (!stop && pile > 0 && !through()) {
                        settings->addInteger("uses", 1);
                        settings->synchronize(std::chrono::milliseconds(250));
                    }
                });
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        } while (through());
        auto const start = std::chrono::steady_clock::now();
        settings->setInteger("answer", ++n);
        benchmark::DoNotOptimize(settings->synchronize());
        took.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        state.SetIterationTime(took.back());
    }
    end();
    std::sort(took.begin(), took.end());
    state.counters["median_us"] = took.empty() ? 0 : took[took.size() / 2] * 1e6;
    state.counters["longest_us"] = took.empty() ? 0 : took.back() * 1e6;
    state.counters["piles"] = double(piles);
}
BENCHMARK(BM_SynchronizeBesideItsOwnFold)->Arg(0)->Arg(1000)->Arg(20000)->Iterations(60)->UseManualTime()->Unit(benchmark::kMicrosecond);

// The first write of an object made while another process held the lock, over the pile left
// meanwhile, once the lock is free; the peak of the process's memory as a counter.
void BM_FirstSynchronizeOverAPile(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        {
            testing_support::TempDir dir;
            auto const path = dir / "prefs";
            std::optional<platform::PreferencesFile> first;
            {
                LockHolder holder(dir / ".prefs.lock");
                first.emplace(path);
                makePile(dir.path(), int(state.range(0)), size_t(state.range(1)));
            }
            first->setInteger("answer", 1);
            state.ResumeTiming();
            benchmark::DoNotOptimize(first->synchronize());
            state.PauseTiming();
            state.counters["notes_after"] = double(notesIn(dir.path()));
        }
        state.ResumeTiming();
    }
    state.counters["peak_mb"] = peakMegabytes();
}
BENCHMARK(BM_FirstSynchronizeOverAPile)->Apply(piles)->Iterations(3)->Unit(benchmark::kMillisecond);

// A start over a pile with the lock free: the object folds the pass whole, a round a write.
void BM_StartOverAPile(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        {
            testing_support::TempDir dir;
            makePile(dir.path(), int(state.range(0)), size_t(state.range(1)));
            state.ResumeTiming();
            platform::PreferencesFile started(dir / "prefs");
            state.PauseTiming();
            state.counters["notes_after"] = double(notesIn(dir.path()));
        }
        state.ResumeTiming();
    }
}
BENCHMARK(BM_StartOverAPile)->Apply(piles)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
