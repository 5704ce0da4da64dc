#include "platform/base/WorkQueue.h"

#include "platform/base/AlternateSignalStack.h"
#include "platform/base/ForkedChild.h"


#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <exception>
#include <mutex>
#include <new>
#include <set>
#include <system_error>
#include <thread>
#include <vector>

namespace platform {

// Shared with the worker threads, so a queue released by one of its own blocks stays valid
// until that worker has left.
struct WorkQueue::State {
    State();
    ~State();
    State(State const&) = delete;
    State& operator=(State const&) = delete;

    struct Item {
        std::function<void()> block;
        bool barrier = false;
        uint64_t syncTicket = 0;  // non-zero: a caller waits to run it itself
    };

    std::string label;
    Kind kind;
    size_t width;
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<Item> pending;
    int readers = 0;
    bool barrierRunning = false;
    size_t idleWorkers = 0;
    bool stopping = false;
    uint64_t nextTicket = 1;
    std::atomic<uint64_t> submitted{0};  // changed under the mutex, read without it
    std::vector<std::thread> workers;
    bool toldNoThread = false;

    bool canStartFront() const {
        if (pending.empty() || barrierRunning) return false;
        return !pending.front().barrier || readers == 0;
    }
    void start(bool barrier) {
        if (barrier)
            barrierRunning = true;
        else
            ++readers;
    }
    void finish(bool barrier) {
        if (barrier)
            barrierRunning = false;
        else
            --readers;
        wakeIfStartable();
    }
    // Every waiter waits for the front block to become startable (or for the stop): with nothing
    // startable there is nobody to wake, and a busy or idle queue's callers skip the notify.
    void wakeIfStartable() {
        if (canStartFront()) changed.notify_all();
    }
    bool barrierPending() const {
        return barrierRunning || std::any_of(pending.begin(), pending.end(), [](Item const& i) { return i.barrier; });
    }
};

namespace {

// The queues whose blocks the thread is running, innermost first, chained through the callers'
// frames: a plain pointer has no destructor, so a wait in an exit handler (after the thread's own
// thread_locals are gone) still finds it valid.
struct Running {
    Running(void const* q, bool barrier) : queue(q), barrier(barrier), outer(innermost) { innermost = this; }
    ~Running() { innermost = outer; }
    Running(Running const&) = delete;
    Running& operator=(Running const&) = delete;
    static bool isRunning(void const* q) {
        for (Running const* r = innermost; r; r = r->outer)
            if (r->queue == q) return true;
        return false;
    }

    void const* queue;
    bool barrier;
    Running const* outer;
    static thread_local Running const* innermost;
};
thread_local Running const* Running::innermost = nullptr;

void workerLoop(std::shared_ptr<WorkQueue::State> s);

// Every queue's state, held still across a fork: the child sets each one straight, having only
// the thread that forked.
struct Registry {
    std::mutex mutex;
    std::set<WorkQueue::State*> states;
};
Registry& registry() {
    static Registry* const r = new Registry;
    return *r;
}

// The workers and the sync callers stayed behind: their waits go with them. What was queued runs
// on this child's callers, since the objects here count on their queued blocks; only the forking
// thread's own running blocks still count as running. Nothing is allocated or freed: another thread
// may have held the allocator's lock as the fork struck. A sync caller's place, which nobody here
// takes, is left as a block that does nothing.
void afterForkInChild() {
    for (WorkQueue::State* s : registry().states) {
        new (&s->changed) std::condition_variable;
        new (&s->workers) std::vector<std::thread>;  // never joined: their threads are not here
        for (WorkQueue::State::Item& i : s->pending) i.syncTicket = 0;
        s->idleWorkers = 0;
        s->readers = 0;
        s->barrierRunning = false;
        for (Running const* r = Running::innermost; r; r = r->outer) {
            if (r->queue != s) continue;
            if (r->barrier)
                s->barrierRunning = true;
            else
                ++s->readers;
        }
        s->mutex.unlock();
    }
}

// Added before anything else can be, with the registry made first: around a fork the queues are
// taken last and let go first.
[[maybe_unused]] bool const forkHandled = [] {
    registry();
    atFork(
        [] {
            registry().mutex.lock();
            for (WorkQueue::State* s : registry().states) s->mutex.lock();
        },
        [] {
            for (WorkQueue::State* s : registry().states) s->mutex.unlock();
            registry().mutex.unlock();
        },
        [] {
            afterForkInChild();
            registry().mutex.unlock();
        });
    return true;
}();

}  // namespace

WorkQueue::State::State() {
    std::lock_guard<std::mutex> lock(registry().mutex);
    registry().states.insert(this);
}

WorkQueue::State::~State() {
    std::lock_guard<std::mutex> lock(registry().mutex);
    registry().states.erase(this);
}

namespace {

void runLogged(std::string const& label, std::function<void()> const& block) {
    try {
        block();
    } catch (std::exception const& e) {
        std::fprintf(stderr, "WorkQueue %s: a block threw: %s\n", label.c_str(), e.what());
    } catch (...) {
        std::fprintf(stderr, "WorkQueue %s: a block threw\n", label.c_str());
    }
}

// Takes the front block and runs it on the calling thread, as a worker would; the lock is held
// on entry and on return. While a fork holds work back nothing is taken, so that a child keeps
// the block: the lock is let go until the fork is done.
void runFront(std::shared_ptr<WorkQueue::State> const& s, std::unique_lock<std::mutex>& lock) {
    LibraryWork work(lock);
    if (!work.entered()) return;
    WorkQueue::State::Item item = std::move(s->pending.front());
    s->pending.pop_front();
    s->start(item.barrier);
    s->wakeIfStartable();  // the next reader may start beside this one
    lock.unlock();
    if (item.block) {
        Running running(s.get(), item.barrier);
        runLogged(s->label, item.block);
        item.block = nullptr;
    }
    lock.lock();
    s->finish(item.barrier);
}

void workerLoop(std::shared_ptr<WorkQueue::State> s) {
    AlternateSignalStack::installForThisThread();
    std::unique_lock<std::mutex> lock(s->mutex);
    for (;;) {
        ++s->idleWorkers;
        s->changed.wait(lock, [&] {
            return (s->stopping && s->pending.empty()) || (s->canStartFront() && s->pending.front().syncTicket == 0);
        });
        --s->idleWorkers;
        if (s->pending.empty()) return;
        runFront(s, lock);
    }
}

// With the mutex held: one more worker when none is idle and the width allows. When the system
// has no thread to spare the queue says so once; its blocks then wait for a later start or for a
// sync caller, who runs the blocks ahead of its own. A forked child's callers always do.
void addWorker(std::shared_ptr<WorkQueue::State> const& s) {
    if (s->idleWorkers > 0 || s->workers.size() >= s->width || s->stopping || isForkedChildWithoutThreads()) return;
    noteLibraryThreadStarting();
    try {
        s->workers.emplace_back(workerLoop, s);
    } catch (std::system_error const& e) {
        if (!s->toldNoThread)
            std::fprintf(stderr, "WorkQueue %s: cannot start a thread (%s); its callers run its blocks\n",
                         s->label.c_str(), e.what());
        s->toldNoThread = true;
    }
}

}  // namespace

WorkQueue::WorkQueue(std::string label, Kind kind, int width) : state_(std::make_shared<State>()) {
    state_->label = std::move(label);
    state_->kind = kind;
    state_->width = kind == Kind::Serial ? 1 : static_cast<size_t>(std::max(1, width));
}

WorkQueue::~WorkQueue() {
    bool orphaned = false;
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        orphaned = state_->workers.empty() && !state_->pending.empty();
    }
    // No worker ever started: nobody else would run what is still queued.
    if (orphaned && !isCurrent()) waitUntilIdle();
    std::vector<std::thread> workers;
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        state_->stopping = true;
        workers.swap(state_->workers);
        state_->changed.notify_all();
    }
    for (std::thread& t : workers) {
        if (t.get_id() == std::this_thread::get_id())
            t.detach();  // released by its own block: that worker leaves once the queue is empty
        else
            t.join();
    }
}

std::string const& WorkQueue::label() const { return state_->label; }
WorkQueue::Kind WorkQueue::kind() const { return state_->kind; }

uint64_t WorkQueue::async(std::function<void()> block) { return submit(std::move(block), state_->kind == Kind::Serial); }

uint64_t WorkQueue::asyncBarrier(std::function<void()> block) { return submit(std::move(block), true); }

uint64_t WorkQueue::submitted() const { return state_->submitted.load(std::memory_order_acquire); }

uint64_t WorkQueue::submit(std::function<void()> block, bool barrier) {
    if (!block) return submitted();
    std::lock_guard<std::mutex> lock(state_->mutex);
    uint64_t const count = state_->submitted.fetch_add(1, std::memory_order_acq_rel) + 1;
    // Only a block that lands at the front can let a waiting worker start; one queued behind
    // others is picked up when they finish. Waking nobody keeps a busy queue's submit cheap.
    // The wake stays under the lock: the block may release the queue and its state at once.
    bool const wake = state_->pending.empty() && state_->idleWorkers > 0;
    state_->pending.push_back(State::Item{std::move(block), barrier, 0});
    addWorker(state_);
    if (wake) state_->changed.notify_all();
    return count;
}

void WorkQueue::sync(std::function<void()> const& block) { runSync(block, state_->kind == Kind::Serial); }

void WorkQueue::syncBarrier(std::function<void()> const& block) { runSync(block, true); }

void WorkQueue::runSync(std::function<void()> const& block, bool barrier) {
    if (isCurrent()) {
        std::fprintf(stderr, "WorkQueue %s: sync onto the queue already running, run inline\n", state_->label.c_str());
        if (block) block();
        return;
    }
    State& s = *state_;
    {
        std::unique_lock<std::mutex> lock(s.mutex);
        s.submitted.fetch_add(1, std::memory_order_acq_rel);
        // A read starts at once beside the others, unless no worker runs the blocks ahead of it:
        // then it queues behind them like a barrier does, and its caller runs them first.
        bool const orphansAhead =
            s.workers.empty() &&
            std::any_of(s.pending.begin(), s.pending.end(), [](State::Item const& i) { return i.syncTicket == 0; });
        if (!barrier && !s.barrierPending() && !orphansAhead) {
            s.start(false);
        } else {
            uint64_t const ticket = s.nextTicket++;
            s.pending.push_back(State::Item{nullptr, barrier, ticket});
            bool const blocksAhead =
                std::any_of(s.pending.begin(), s.pending.end(), [](State::Item const& i) { return i.syncTicket == 0; });
            if (s.workers.empty() && blocksAhead) addWorker(state_);
            for (;;) {
                s.changed.wait(lock, [&] {
                    return s.canStartFront() &&
                           (s.pending.front().syncTicket == ticket ||
                            (s.workers.empty() && s.pending.front().syncTicket == 0));
                });
                if (s.pending.front().syncTicket == ticket) break;
                // No worker to run the blocks ahead of this one: waiting for one would never end.
                runFront(state_, lock);
            }
            s.pending.pop_front();
            s.start(barrier);
            s.wakeIfStartable();
        }
    }
    std::exception_ptr thrown;
    {
        Running running(state_.get(), barrier);
        LibraryWork work;
        try {
            if (block) block();
        } catch (...) {
            thrown = std::current_exception();
        }
    }
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        s.finish(barrier);
    }
    if (thrown) std::rethrow_exception(thrown);
}

bool WorkQueue::isCurrent() const {
    return Running::isRunning(state_.get());
}

void WorkQueue::waitUntilIdle() { runSync(nullptr, true); }

bool WorkQueue::waitUntilIdleFor(std::chrono::milliseconds limit) {
    if (isCurrent()) return false;  // its own block would be waited for
    struct Marker {
        std::mutex mutex;
        std::condition_variable ran;
        bool done = false;
    };
    auto marker = std::make_shared<Marker>();
    asyncBarrier([marker] {
        std::lock_guard<std::mutex> lock(marker->mutex);
        marker->done = true;
        marker->ran.notify_all();
    });
    bool noWorker;
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        noWorker = state_->workers.empty();
    }
    if (noWorker) {
        waitUntilIdle();
        return true;
    }
    std::unique_lock<std::mutex> lock(marker->mutex);
    return marker->ran.wait_for(lock, limit, [&] { return marker->done; });
}

}  // namespace platform
