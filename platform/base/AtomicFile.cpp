#include "platform/base/AtomicFile.h"

#include "platform/base/ForkedChild.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <ctime>
#include <thread>

namespace platform {
namespace {

bool fail(std::string* error, std::string const& what) {
    if (error) {
        *error = what + ": " + std::strerror(errno);
    }
    return false;
}

bool writeAll(int fd, uint8_t const* data, size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Writers of one path take turns, so two saves of the same file never interleave their steps;
// paths share a few locks by hash.
std::mutex pathLocks[64];
std::mutex& pathLock(std::filesystem::path const& path) {
    std::error_code ec;
    std::filesystem::path full = std::filesystem::absolute(path, ec);
    if (ec) full = path;
    return pathLocks[std::hash<std::string>{}(full.lexically_normal().string()) % 64];
}

// A forked child gets a tag of its own (below): it is another writer, whose temporary files and
// notes must not take its parent's names. Made without a guard, on first use or in a fork's child
// handler, where a thread that was making it is not there to finish.
std::atomic<uint64_t> processTag{0};  // 0: not made yet

uint64_t newProcessTag() {
    uint64_t v = 0;
    if (::getrandom(&v, sizeof v, GRND_NONBLOCK) != ssize_t(sizeof v)) {
        timespec t {};
        ::clock_gettime(CLOCK_MONOTONIC, &t);
        v = uint64_t(t.tv_sec) * 1'000'000'007u ^ uint64_t(t.tv_nsec);
    }
    v ^= uint64_t(::getpid()) << 16;
    return v ? v : 1;
}

uint64_t tagValue() {
    uint64_t tag = processTag.load(std::memory_order_acquire);
    if (tag == 0) {
        uint64_t const made = newProcessTag();
        tag = processTag.compare_exchange_strong(tag, made, std::memory_order_acq_rel) ? made : tag;
    }
    return tag;
}

}  // namespace

// A lock file's turn: its mutex, the threads waiting for it and the last to take it (a mutex may
// hand it straight back to the thread that just let it go), whether a thread holds the lock with
// it (rather than trying for it), and how many holds did work their waiters would have done.
struct FileLock::Turn {
    std::mutex mutex;
    std::atomic<bool> holding{false};
    std::atomic<int> waiting{0};
    std::atomic<std::thread::id> last{};
    std::atomic<uint64_t> worked{0};
};

namespace {

// The lock files' turns, one per lock file and never shared between two: a thread may hold two
// different lock files at once, in a fixed order, and must not wait on itself. And the locks
// held, by thread: their descriptors, and their turns once had. Never destroyed: a worker may
// still lock a file while the process's statics go away.
struct LockFiles {
    struct Holder {
        int* fd;
        std::unique_lock<std::mutex>* turn;
        std::thread::id thread;  // none once a forked child let it go
    };
    std::mutex guard;
    std::map<std::string, std::unique_ptr<FileLock::Turn>> turns;
    std::map<int*, Holder> held;
};
LockFiles& lockFiles() {
    static LockFiles* const files = new LockFiles;
    return *files;
}

// Only the forking thread is here. A write or a lock of a thread left behind is nobody's to wait
// for, and a lock it held is let go here, or the child would hold it for the parent as long as it
// lives. The forking thread's own locks keep their turns. Nothing is allocated or freed: another
// thread may have held the allocator's lock as the fork struck.
void afterForkInChild() {
    processTag.store(newProcessTag(), std::memory_order_relaxed);
    for (std::mutex& m : pathLocks) new (&m) std::mutex;
    LockFiles& files = lockFiles();
    auto const mine = [&](std::mutex const* turn) {
        for (auto const& [fd, h] : files.held)
            if (h.thread == std::this_thread::get_id() && h.turn->owns_lock() && h.turn->mutex() == turn) return true;
        return false;
    };
    for (auto& [path, turn] : files.turns) {
        if (!turn) continue;
        if (!mine(&turn->mutex)) {
            new (&turn->mutex) std::mutex;
            turn->holding.store(false, std::memory_order_relaxed);
        }
        turn->waiting.store(0, std::memory_order_relaxed);
        turn->last.store(std::thread::id(), std::memory_order_relaxed);
    }
    for (auto& [fd, h] : files.held) {
        if (h.thread == std::this_thread::get_id() || h.thread == std::thread::id()) continue;
        ::close(*h.fd);
        *h.fd = -1;
        h.turn->release();  // not ours to let go
        h.thread = std::thread::id();
    }
}

// Added before anything else can be, with what they touch made first: around a fork the guard is
// taken last and let go first.
[[maybe_unused]] bool const forkHandled = [] {
    lockFiles();
    atFork([] { lockFiles().guard.lock(); }, [] { lockFiles().guard.unlock(); },
           [] {
               afterForkInChild();
               lockFiles().guard.unlock();
           });
    return true;
}();

FileLock::Turn& lockFileTurn(std::filesystem::path const& path) {
    std::error_code ec;
    std::filesystem::path full = std::filesystem::absolute(path, ec);
    if (ec) full = path;
    LockFiles& files = lockFiles();
    std::lock_guard<std::mutex> lock(files.guard);
    auto& turn = files.turns[full.lexically_normal().string()];
    if (!turn) turn = std::make_unique<FileLock::Turn>();
    return *turn;
}

// The thread that just let the turn go waits while another thread waits for it, until that one
// has it: a short while at most, or as long as this one would wait for the lock anyway, since a
// waiter that is not woken in time must not hold it off, and one woken late (a loaded machine)
// should still go first where the caller meant to wait.
void letWaitersGoFirst(FileLock::Turn const& turn, std::chrono::steady_clock::time_point deadline) {
    auto const until = std::max(deadline, std::chrono::steady_clock::now() + std::chrono::milliseconds(50));
    while (turn.waiting.load() > 0 && turn.last.load() == std::this_thread::get_id() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::microseconds(100));
}

}  // namespace

FileLock::FileLock(std::filesystem::path const& lockFile, std::chrono::milliseconds wait, ThisProcess thisProcess) {
    {
        // Opened and listed at once: a child forked meanwhile must find every such descriptor
        // (below), since one it kept would hold the lock for the parent.
        LockFiles& files = lockFiles();
        std::lock_guard<std::mutex> lock(files.guard);
        // What forked children let go (their parents' other threads' locks) goes here, not there.
        std::erase_if(files.held, [](auto const& h) { return h.second.thread == std::thread::id(); });
        // Not followed through a link: a dangling one would make its target, anywhere.
        fd_ = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
        if (fd_ < 0) {
            fail(&error_, "cannot open lock file " + lockFile.string());
            return;
        }
        files.held[&fd_] = {&fd_, &turn_, std::this_thread::get_id()};
    }
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        error_ = "cannot open lock file " + lockFile.string() + ": not a regular file";
        close();
        return;
    }
    // The turn is held for each try only, and kept with the lock: another thread of this process
    // waits for one try or a locked write, never for the process this one waits on. A thread of
    // this process holds the lock only with its turn, so a try refused under it is another process.
    Turn& turn = lockFileTurn(lockFile);
    uint64_t const worked = turn.worked.load();
    auto const deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        letWaitersGoFirst(turn, deadline);
        std::unique_lock<std::mutex> tryTurn(turn.mutex, std::try_to_lock);
        // Another thread's try takes a moment; its hold, a round of its work.
        while (!tryTurn && thisProcess == ThisProcess::NotWaitedFor) {
            if (turn.holding.load()) {
                busy_ = heldHere_ = true;
                error_ = lockFile.string() + " is held by another thread of this process";
                close();
                return;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(50));
            tryTurn.try_lock();
        }
        if (!tryTurn) {
            ++turn.waiting;
            tryTurn.lock();
            --turn.waiting;
        }
        turn.last = std::this_thread::get_id();
        if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) {
            turn.holding = true;
            turn_ = std::move(tryTurn);
            heldTurn_ = &turn;
            waitedForWork_ = turn.worked.load() != worked;
            return;
        }
        int const err = errno;
        tryTurn.unlock();
        auto const now = std::chrono::steady_clock::now();
        if (err == EINTR) continue;
        if (err != EWOULDBLOCK || now >= deadline) {
            busy_ = err == EWOULDBLOCK;
            errno = err;
            if (busy_)
                error_ = lockFile.string() + " is held by another process";
            else
                fail(&error_, "cannot lock " + lockFile.string());
            close();
            return;
        }
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(std::chrono::milliseconds(20), deadline - now));
    }
}

FileLock::~FileLock() { release(); }

void FileLock::release() {
    close();
    if (!turn_.owns_lock()) return;
    if (worked_) ++heldTurn_->worked;
    heldTurn_->holding = false;
    turn_.unlock();
}

void FileLock::markWorkForWaiters() { worked_ = true; }

int FileLock::waitingFor(std::filesystem::path const& lockFile) { return lockFileTurn(lockFile).waiting.load(); }

void FileLock::close() {
    std::lock_guard<std::mutex> lock(lockFiles().guard);
    if (fd_ < 0) return;  // or closed in a forked child
    lockFiles().held.erase(&fd_);
    ::close(fd_);
    fd_ = -1;
}

WholeFile readWholeFile(std::filesystem::path const& path, uint64_t maxSize, bool followLink) {
    WholeFile file;
    // Non-blocking so that a pipe in the file's place is refused below instead of waiting for a
    // writer; the flag changes nothing for regular files.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | (followLink ? 0 : O_NOFOLLOW));
    if (fd < 0) {
        // A folder on the way that is not a folder: nothing there either.
        file.status = errno == ENOENT || errno == ENOTDIR ? WholeFile::Missing : WholeFile::Failed;
        file.error = std::strerror(errno);
        return file;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        file.error = "not a regular file";
    } else if (file.size = static_cast<uint64_t>(st.st_size); file.size > maxSize) {
        file.status = WholeFile::TooLarge;
    } else {
        file.bytes.resize(static_cast<size_t>(file.size));
        size_t done = 0;
        file.status = WholeFile::Read;
        while (done < file.bytes.size()) {
            ssize_t n = ::read(fd, file.bytes.data() + done, file.bytes.size() - done);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0) {
                file.status = WholeFile::Failed;
                file.error = std::strerror(errno);
                file.bytes.clear();
                break;
            }
            if (n == 0) {
                break;  // shrunk by an in-place writer meanwhile
            }
            done += static_cast<size_t>(n);
        }
        file.bytes.resize(std::min(done, file.bytes.size()));
    }
    ::close(fd);
    return file;
}

std::string atomicWriteTag() {
    char tag[17];
    std::snprintf(tag, sizeof tag, "%016llx", static_cast<unsigned long long>(tagValue()));
    return tag;
}

bool isAtomicWriteTemp(std::string const& name) {
    return name.size() > 5 && name[0] == '.' && name.ends_with(".tmp");
}

namespace {

// "." + target + "." + 16 hex digits + "." + decimal counter + ".tmp", as made below.
bool isOwnTempName(std::string const& name) {
    if (!isAtomicWriteTemp(name)) {
        return false;
    }
    std::string rest = name.substr(1, name.size() - 5);
    size_t const counterDot = rest.rfind('.');
    if (counterDot == std::string::npos || counterDot + 1 == rest.size() ||
        rest.find_first_not_of("0123456789", counterDot + 1) != std::string::npos) {
        return false;
    }
    rest.resize(counterDot);
    size_t const tagDot = rest.rfind('.');
    return tagDot != std::string::npos && tagDot > 0 && rest.size() - tagDot - 1 == 16 &&
           rest.find_first_not_of("0123456789abcdef", tagDot + 1) == std::string::npos;
}

}  // namespace

bool keepFileAside(std::filesystem::path const& path, std::string const& suffix, std::string* error) {
    std::filesystem::path const aside = path.string() + suffix;
    ::unlink(aside.c_str());
    if (::link(path.c_str(), aside.c_str()) == 0 || errno == ENOENT) {
        return true;
    }
    return fail(error, "cannot keep " + path.string() + " aside");
}

std::vector<std::string> regularFileNamesIn(std::filesystem::path const& folder,
                                            std::function<bool(std::string const&)> const& wanted) {
    // Straight from readdir: a folder a pile of notes fills is listed often.
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return {};
    while (dirent const* e = ::readdir(dir)) {
        std::string name(e->d_name);
        if (name == "." || name == ".." || !wanted(name)) continue;
        // The entry's type as the folder gives it: no call per file, and a link is a link.
        bool regular = e->d_type == DT_REG;
        if (e->d_type == DT_UNKNOWN) {
            struct stat st {};
            regular = ::fstatat(::dirfd(dir), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode);
        }
        if (regular) names.push_back(std::move(name));
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::filesystem::path> regularFilesIn(std::filesystem::path const& folder,
                                                  std::function<bool(std::string const&)> const& wanted) {
    std::vector<std::filesystem::path> found;
    for (auto const& name : regularFileNamesIn(folder, wanted)) found.push_back(folder / name);
    return found;
}

size_t removeStaleAtomicWriteTemps(std::filesystem::path const& folder, int64_t minAgeSeconds) {
    std::error_code ec;
    size_t removed = 0;
    time_t const now = ::time(nullptr);
    for (auto it = std::filesystem::directory_iterator(folder, ec); !ec && it != std::filesystem::directory_iterator();
         it.increment(ec)) {
        std::string const name = it->path().filename().string();
        if (!isOwnTempName(name)) continue;
        int fd = ::open(it->path().c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        // A writer holds its temporary file locked until it is renamed: one it can take has no
        // writer left, however young. A lock that cannot be had at all (a file system without
        // them) leaves the file be. With no age asked for the time is not looked at: a file's
        // stamp can run a second ahead of time().
        struct stat st {}, atName {};
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
            (minAgeSeconds <= 0 || now - st.st_mtime >= minAgeSeconds) &&
            ::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::lstat(it->path().c_str(), &atName) == 0 &&
            atName.st_ino == st.st_ino && atName.st_dev == st.st_dev && ::unlink(it->path().c_str()) == 0) {
            ++removed;
            std::fprintf(stderr, "removed %s, left by an interrupted write\n", it->path().c_str());
        }
        ::close(fd);
    }
    return removed;
}

namespace {

// The temporary file, and a second, read-only descriptor of it that holds its lock (see
// removeStaleAtomicWriteTemps) until the temporary name is gone. The lock is not held through the
// written descriptor: that one closes before the rename, so that a folder watcher sees the write
// close under the temporary name, not under the target's.
struct LockedTemp {
    int fd = -1;
    int lockFd = -1;
};

// A sweep that took the file between its creation and the lock has removed it (gone before the
// second open, or unlinked by the time the lock is had): another name then, as often as that
// happens, since a write that went on would rename a file that is no longer there. A file that
// cannot be locked for any other reason (a file system without locks) is written unlocked: no
// sweep can take it either.
LockedTemp createLockedTemp(std::filesystem::path const& folder, std::string const& target, unsigned mode,
                            std::filesystem::path& temp) {
    static std::atomic<uint64_t> counter{0};
    for (;;) {
        temp = folder / ("." + target + "." + atomicWriteTag() + "." + std::to_string(counter.fetch_add(1)) + ".tmp");
        LockedTemp t;
        t.fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, static_cast<mode_t>(mode));
        if (t.fd < 0) return t;
        t.lockFd = ::open(temp.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        bool swept = t.lockFd < 0 && errno == ENOENT;
        if (t.lockFd >= 0) {
            // Only a sweep can hold a file this new, and it removes what it holds: nobody is
            // waited for.
            int const locked = ::flock(t.lockFd, LOCK_EX | LOCK_NB);
            struct stat st {};
            swept = locked == 0 ? ::fstat(t.fd, &st) == 0 && st.st_nlink == 0 : errno == EWOULDBLOCK;
        }
        if (!swept) return t;
        if (t.lockFd >= 0) ::close(t.lockFd);
        ::close(t.fd);
    }
}

}  // namespace

bool writeFileAtomically(std::filesystem::path const& path, uint8_t const* data, size_t size,
                         std::string* error, unsigned mode, bool* renamed) {
    if (renamed) *renamed = false;
    std::lock_guard<std::mutex> turn(pathLock(path));
    std::filesystem::path const folder = path.has_parent_path() ? path.parent_path() : ".";
    std::filesystem::path temp;
    LockedTemp const file = createLockedTemp(folder, path.filename().string(), mode, temp);
    if (file.fd < 0) {
        return fail(error, "cannot create " + temp.string());
    }
    bool ok = writeAll(file.fd, data, size);
    if (!ok) {
        fail(error, "cannot write " + temp.string());
    } else if (::fsync(file.fd) != 0) {
        ok = fail(error, "cannot flush " + temp.string());
    }
    if (::close(file.fd) != 0 && ok) {
        ok = fail(error, "cannot close " + temp.string());
    }
    if (ok && ::rename(temp.c_str(), path.c_str()) != 0) {
        ok = fail(error, "cannot rename over " + path.string());
    }
    if (!ok) {
        int saved = errno;
        ::unlink(temp.c_str());
        if (file.lockFd >= 0) ::close(file.lockFd);
        errno = saved;
        return false;
    }
    if (file.lockFd >= 0) ::close(file.lockFd);
    if (renamed) *renamed = true;
    // The rename is only durable once the folder's entry is on disk.
    int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) {
        return fail(error, "cannot open folder " + folder.string());
    }
    bool synced = ::fsync(dir) == 0;
    int saved = errno;
    ::close(dir);
    errno = saved;
    return synced ? true : fail(error, "cannot flush folder " + folder.string());
}

}  // namespace platform
