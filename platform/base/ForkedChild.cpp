#include "platform/base/ForkedChild.h"

#include <pthread.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace platform {
namespace {

std::atomic<bool> threadsStarted{false};
std::atomic<bool> forkedWithoutThreads{false};

// Threads inside library work, and whether a fork waits for it (public calls held back) or holds
// all new work back.
constexpr uint32_t kForking = 1u << 31;
constexpr uint32_t kWanted = 1u << 30;
std::atomic<uint32_t> work{0};
thread_local int workDepth = 0;
bool heldBack = false;  // by the fork under way; forks run their handlers one at a time

struct Handlers {
    void (*prepare)();
    void (*parent)();
    void (*child)();
};
// Constant-initialised, so there is nothing to make when a fork first runs the handlers, and never
// destroyed: a fork while the process's statics go away still finds them.
struct ForkHandlers {
    std::mutex mutex;  // over `added`, while they are added; held by a fork from prepare on
    std::vector<Handlers> added;
};
union Kept {
    ForkHandlers handlers;
    constexpr Kept() : handlers() {}
    ~Kept() {}
};
constinit Kept kept;
ForkHandlers& forkHandlers() { return kept.handlers; }
std::atomic<bool> registered{false};  // with pthread_atfork

void prepare() {
    // New public calls wait at once. Work under way may wait for work yet to start (a block queued
    // behind one it syncs on), so that starts freely until none is left; work that never rests
    // holds the fork only so long. From inside work nothing is waited for: it would wait on itself.
    heldBack = false;
    if (workDepth == 0) {
        work.fetch_or(kWanted);
        auto const deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
        for (;;) {
            uint32_t idle = kWanted;
            if (work.compare_exchange_strong(idle, kForking)) {
                heldBack = true;
                break;
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                work.fetch_and(~kWanted);
                work.notify_all();
                break;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
    }
    forkHandlers().mutex.lock();
    for (auto it = forkHandlers().added.rbegin(); it != forkHandlers().added.rend(); ++it)
        if (it->prepare) it->prepare();
}

void parent() {
    for (Handlers const& h : forkHandlers().added)
        if (h.parent) h.parent();
    forkHandlers().mutex.unlock();
    if (heldBack) {
        work.store(0);
        work.notify_all();
    }
}

void child() {
    if (threadsStarted.load(std::memory_order_relaxed)) forkedWithoutThreads.store(true, std::memory_order_relaxed);
    for (Handlers const& h : forkHandlers().added)
        if (h.child) h.child();
    forkHandlers().mutex.unlock();
    // Work of the threads left behind never ends here.
    work.store(workDepth > 0 ? 1 : 0);
}

// At the start, before any thread is there: once registered, a fork takes the handlers' lock before
// it forks, so no child ever finds it taken by a thread it does not have. Whoever adds a handler
// first (another file's statics, made before these) registers them then.
void registerOnce() {
    if (registered.load(std::memory_order_acquire)) return;
    std::lock_guard<std::mutex> lock(forkHandlers().mutex);
    if (registered.load(std::memory_order_relaxed)) return;
    ::pthread_atfork(prepare, parent, child);
    registered.store(true, std::memory_order_release);
}
[[maybe_unused]] bool const registeredAtStart = (registerOnce(), true);

}  // namespace

void noteLibraryThreadStarting() {
    registerOnce();  // registered before the first thread, so before any fork that leaves one behind
    threadsStarted.store(true, std::memory_order_relaxed);
}

bool isForkedChildWithoutThreads() { return forkedWithoutThreads.load(std::memory_order_relaxed); }

LibraryWork::LibraryWork(Kind kind) {
    if (workDepth++ > 0) return;
    uint32_t seen = work.load();
    for (;;) {
        if ((seen & kForking) || (kind == Kind::PublicCall && (seen & kWanted))) {
            work.wait(seen);
            seen = work.load();
        } else if (work.compare_exchange_weak(seen, seen + 1)) {
            return;
        }
    }
}

LibraryWork::LibraryWork(std::unique_lock<std::mutex>& held) {
    if (workDepth > 0) {
        ++workDepth;
        return;
    }
    uint32_t seen = work.load();
    while (!(seen & kForking))
        if (work.compare_exchange_weak(seen, seen + 1)) {
            ++workDepth;
            return;
        }
    entered_ = false;
    held.unlock();
    { LibraryWork passing; }  // once the fork is done
    held.lock();
}

LibraryWork::~LibraryWork() {
    if (!entered_ || --workDepth > 0) return;
    work.fetch_sub(1);
}

void atFork(void (*prepare)(), void (*parent)(), void (*child)()) {
    registerOnce();
    std::lock_guard<std::mutex> lock(forkHandlers().mutex);
    forkHandlers().added.push_back({prepare, parent, child});
}

void atFork(std::atomic<bool>& added, void (*prepare)(), void (*parent)(), void (*child)()) {
    if (added.load(std::memory_order_acquire)) return;
    registerOnce();
    std::lock_guard<std::mutex> lock(forkHandlers().mutex);
    if (added.load(std::memory_order_relaxed)) return;
    forkHandlers().added.push_back({prepare, parent, child});
    added.store(true, std::memory_order_release);
}

}  // namespace platform
