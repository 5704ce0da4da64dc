// What waits beside a fold of a pile of keychain notes other copies left: a job of the SDK's loop
// (one that reads the keychain, and one that does not) behind a retry that found the pile, and a fork() beside a start's fold.
// Each against the same with no pile; piles of small notes and of large ones (an item's value of
// `bytes`, up to what an item file may hold).
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <thread>
#include <utility>
#include <vector>

#include "platform/base/AtomicFile.h"
#include "platform/base/Directories.h"
#include "platform/base/Keychain.h"
#include "platform/base/NoteSet.h"
#include "platform/base/SdkLoop.h"
#include "testing/TestPaths.h"

namespace {

using platform::Keychain;
using Clock = std::chrono::steady_clock;

size_t notesLeft() {
    return platform::regularFilesIn(Keychain::directory(), [](auto const& n) { return n.ends_with(".pending"); }).size();
}

// A keychain with an item whose notes are a pile of `pile` (and the one a change found the lock
// held for, with a retry scheduled for it), each setting a value of `bytes`.
struct Pile {
    explicit Pile(int pile, size_t bytes) {
        platform::Directories::setRootOverride(dir.path());
        platform::Data const a{'a'};
        Keychain::add("service", a, {}, a, {});
        int const held = ::open((Keychain::directory() / "keychain.lock").c_str(), O_RDWR | O_CLOEXEC);
        ::flock(held, LOCK_EX);
        Keychain::update("service", a, platform::Data(std::max<size_t>(bytes, 1), 'b'));
        auto const notes = platform::regularFilesIn(Keychain::directory(), [](auto const& n) { return n.ends_with(".pending"); });
        testing_support::noteCopies(notes.back(), 42, pile);
        ::close(held);
    }
    ~Pile() {
        // The fold goes on after the timing: the next case starts once it is done, with the fold
        // thread free for its own retry.
        for (auto const end = Clock::now() + std::chrono::minutes(2); Clock::now() < end && notesLeft() > 0;)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        platform::NoteSet::setFaultHook({});
        platform::Directories::setRootOverride(std::nullopt);
    }
    testing_support::TempDir dir;
};


// Waits, then reports each iteration's wait as its time and the longest as a counter, with the
// notes left before and after.
template <class Wait>
void timeWaits(benchmark::State& state, Wait const& wait) {
    state.counters["notes_before"] = double(notesLeft());
    double longest = 0;
    for (auto _ : state) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        double const waited = wait();
        longest = std::max(longest, waited);
        state.SetIterationTime(waited);
    }
    state.counters["longest_ms"] = longest * 1000;
    state.counters["notes_after"] = double(notesLeft());
}

void BM_LoopJobBesideARetrysFold(benchmark::State& state) {
    Pile pile(int(state.range(0)), size_t(state.range(1)));
    std::atomic<bool> folding{false};
    platform::NoteSet::setFaultHook([&](std::string const&) { folding = true; });
    while (!folding) std::this_thread::sleep_for(std::chrono::milliseconds(1));  // the retry, a second on
    timeWaits(state, [reads = state.range(2) != 0] {
        std::promise<void> ran;
        auto const start = Clock::now();
        platform::SdkLoop::shared().post([&] {
            platform::Data v;
            if (reads) Keychain::copyMatching("service", platform::Data{'a'}, v);
            ran.set_value();
        });
        ran.get_future().wait();
        return std::chrono::duration<double>(Clock::now() - start).count();
    });
}

// {notes, bytes a value}: none; a pile of small notes; 200 of about what an item file may hold.
std::vector<std::pair<int64_t, int64_t>> const kPiles{{0, 0}, {20000, 0}, {200, 700 << 10}};
void piles(benchmark::internal::Benchmark* b) {
    for (auto const& [notes, bytes] : kPiles) b->Args({notes, bytes});
}
// The same with a third argument: whether the job reads the keychain.
void pilesReadOrNot(benchmark::internal::Benchmark* b) {
    for (auto const& [notes, bytes] : kPiles)
        for (int64_t reads : {0, 1}) b->Args({notes, bytes, reads});
}
BENCHMARK(BM_LoopJobBesideARetrysFold)->Apply(pilesReadOrNot)->Iterations(40)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_ForkBesideAStartsFold(benchmark::State& state) {
    Pile pile(int(state.range(0)), size_t(state.range(1)));
    std::atomic<bool> folding{false};
    platform::NoteSet::setFaultHook([&](std::string const&) { folding = true; });
    std::thread start([] { Keychain::foldNotes(); });
    while (!folding) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    timeWaits(state, [] {
        auto const begin = Clock::now();
        pid_t const child = ::fork();
        if (child == 0) ::_exit(0);
        double const took = std::chrono::duration<double>(Clock::now() - begin).count();
        ::waitpid(child, nullptr, 0);
        return took;
    });
    start.join();
}
BENCHMARK(BM_ForkBesideAStartsFold)->Apply(piles)->Args({5000, 0})->Iterations(40)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
