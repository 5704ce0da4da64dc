#pragma once
// Whole-file writes that a crash, a kill or a full disk can never leave half done: the bytes go
// to a temporary file in the same folder, which is flushed and then renamed over the target, and
// the folder itself is flushed so the rename survives a power loss. Readers see the old file or
// the new one. Writers of one path take turns.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace platform {

// A whole regular file read at once, refused unread when it is larger than a limit. Without
// followLink a symbolic link at path is not followed (Failed).
struct WholeFile {
    enum Status { Read, Missing, TooLarge, Failed } status = Failed;
    std::vector<uint8_t> bytes;  // when Read
    uint64_t size = 0;           // the file's size when Read or TooLarge
    std::string error;           // when Failed
};
WholeFile readWholeFile(std::filesystem::path const& path, uint64_t maxSize, bool followLink = true);

// Returns false (with a reason in *error when given) when any step fails; the target is then
// left as it was and the temporary file is removed, unless *renamed (when given) says the file
// was renamed into place and only the folder could not be flushed after.
// mode: the new file's permissions (before the umask).
bool writeFileAtomically(std::filesystem::path const& path, uint8_t const* data, size_t size,
                         std::string* error = nullptr, unsigned mode = 0644, bool* renamed = nullptr);

// Keeps a damaged file under its name plus suffix ("<name>.bad") before it is replaced: a link,
// so nothing is read or copied; an older file of that name goes. True when it is kept or there
// was nothing to keep.
bool keepFileAside(std::filesystem::path const& path, std::string const& suffix, std::string* error = nullptr);

// Temporary files of this process are named "." + target name + "." + this tag + ".tmp", so a
// folder watcher can tell this process's own renames from other writers'.
std::string atomicWriteTag();

// True when name is a temporary file name made by writeFileAtomically (of any process).
bool isAtomicWriteTemp(std::string const& name);

// Removes the temporary files writeFileAtomically left in folder (a kill mid-write) that were
// last changed at least minAgeSeconds ago and that no writer holds: a write under way, in this
// process or another, keeps its temporary file locked until the rename, so a slow one is never
// taken for a left one. Only names of exactly that form are touched. Returns how many went.
size_t removeStaleAtomicWriteTemps(std::filesystem::path const& folder, int64_t minAgeSeconds);

// The regular files in folder whose names `wanted` takes, in name order; a link is never
// followed. For the notes a process leaves beside a file whose lock another holds.
std::vector<std::filesystem::path> regularFilesIn(std::filesystem::path const& folder,
                                                  std::function<bool(std::string const&)> const& wanted);
// Their names alone.
std::vector<std::string> regularFileNamesIn(std::filesystem::path const& folder,
                                            std::function<bool(std::string const&)> const& wanted);

// An exclusive hold on a lock file, for a read, change and write of files that another process on
// the same home changes too: flock is tried for up to `wait`, each try on a turn that threads of
// this process take on a mutex of the path, since the lock belongs to the open file. A thread
// waiting for another process lets the turn go between tries, so no other thread of this process
// waits on that process through it. Another process may hold the lock for as long as it likes
// (stopped in a debugger, say), so nobody waits on it without a bound: a caller that cannot have
// it in time is busy() and keeps its change for later.
// held() is false, with the reason in error(), when the lock is busy or the lock file cannot be
// opened (it is never followed through a symbolic link). Released when it goes. A thread that
// lets the turn go and asks for it again at once lets a thread of this process that waits for it
// go first (for a short while at most, or as long as it would wait for the lock).
// A caller that must not wait for its own process's work (ThisProcess::NotWaitedFor) is busy()
// and heldHere() at once while another thread of this process holds the lock, as when another
// process does: it waits only for that thread's try, never for its hold.
class FileLock {
public:
    enum class ThisProcess { WaitedFor, NotWaitedFor };
    explicit FileLock(std::filesystem::path const& lockFile,
                      std::chrono::milliseconds wait = std::chrono::milliseconds(0),
                      ThisProcess thisProcess = ThisProcess::WaitedFor);
    ~FileLock();
    FileLock(FileLock const&) = delete;
    FileLock& operator=(FileLock const&) = delete;
    bool held() const { return fd_ >= 0; }
    // Lets it go before the object goes.
    void release();
    // Another process holds it: the lock file itself is fine.
    bool busy() const { return busy_; }
    // Busy because another thread of this process holds it (with ThisProcess::NotWaitedFor).
    bool heldHere() const { return heldHere_; }
    std::string const& error() const { return error_; }
    // This hold did work that threads of this process waiting for it would have done (a fold of
    // notes): told to them once it is let go.
    void markWorkForWaiters();
    // While this one waited for its turn, another thread of this process held the lock and did
    // such work.
    bool waitedForWork() const { return waitedForWork_; }
    // How many threads of this process wait for the lock file's turn now: a caller that hands it
    // on can tell when another is there to take it.
    static int waitingFor(std::filesystem::path const& lockFile);

    struct Turn;

private:
    void close();
    std::unique_lock<std::mutex> turn_;
    Turn* heldTurn_ = nullptr;
    bool worked_ = false, waitedForWork_ = false;
    int fd_ = -1;
    bool busy_ = false, heldHere_ = false;
    std::string error_;
};

}  // namespace platform
