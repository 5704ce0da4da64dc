#pragma once
// A process forked without exec has only the thread that called fork(). Once the library's own
// threads have started (queue workers, the SDK loop, the network thread), such a child has none of
// them, and one may not safely start threads: there its queues run their blocks on their callers,
// and nothing waits for a thread that stayed behind. A process forked before any of them started
// is an ordinary process.
#include <atomic>
#include <mutex>

namespace platform {

// Called just before the library starts a thread of its own.
void noteLibraryThreadStarting();

// This process was forked (without exec, at any depth) from one whose library threads had started.
bool isForkedChildWithoutThreads();

// The library at work on a thread: a queue's block, a job of the SDK loop, a round of the network
// thread, a public call. A fork first waits (a second at most) until no thread is inside any,
// holding new public calls back at once and all new work once none is left, so that the child
// finds none of the library's locks taken by a thread it does not have. Work inside work counts
// once; a fork from inside work does not wait.
class LibraryWork {
public:
    enum class Kind { Work, PublicCall };
    explicit LibraryWork(Kind kind = Kind::Work);
    // For a caller holding a lock that work takes: never waits with it held. While a fork holds
    // work back, entered() is false, and the lock was let go until the fork was done.
    explicit LibraryWork(std::unique_lock<std::mutex>& held);
    ~LibraryWork();
    LibraryWork(LibraryWork const&) = delete;
    LibraryWork& operator=(LibraryWork const&) = delete;
    bool entered() const { return entered_; }

private:
    bool entered_ = true;
};

// Handlers around fork(), run once the library's work has stopped: prepare in the reverse order of
// adding, parent and child in the order of adding, as pthread_atfork's are. What they touch is
// made before they are added, and needs no guard: a fork can strike while another thread makes
// anything, and its child has only the thread that forked.
void atFork(void (*prepare)(), void (*parent)(), void (*child)());
// The same, added once, on a first use: `added` (constant-initialised) says they are, and a fork
// either finds them added whole or not at all. The caller holds no lock a handler takes.
void atFork(std::atomic<bool>& added, void (*prepare)(), void (*parent)(), void (*child)());

}  // namespace platform
