#pragma once
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace testing_support {

// Built for the thread checker, which cannot follow a forked process that starts threads.
#if defined(__SANITIZE_THREAD__)
constexpr bool kThreadChecked = true;
#elif defined(__has_feature)
constexpr bool kThreadChecked = __has_feature(thread_sanitizer);
#else
constexpr bool kThreadChecked = false;
#endif

// The repository root and the build folder (where pak0.pak and pak1.pak are made).
std::filesystem::path sourceDir();
std::filesystem::path binaryDir();

// A fresh, empty folder under the system temporary folder, removed when the object dies.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(TempDir const&) = delete;
    TempDir& operator=(TempDir const&) = delete;
    std::filesystem::path const& path() const { return path_; }
    std::filesystem::path operator/(std::string const& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

// Runs body(i) in n forked processes released at the same moment and waits for them all; true
// when every one returned true.
bool inProcessesAtOnce(int n, std::function<bool(int)> const& body);

// Runs body in a forked process beside a second one, forked before it, that waits: when body calls
// meanwhile(), `other` runs in the second process, and meanwhile() returns once it has (true when
// it returned true). True when body and other, if it ran, returned true.
bool inProcessWithAnother(std::function<bool()> const& other,
                          std::function<bool(std::function<bool()> const& meanwhile)> const& body);

// How far the process's peak resident size grew past what it was as `body` began (the kernel's
// peak is reset first), in bytes.
size_t peakResidentGrowth(std::function<void()> const& body);

// n copies of a store's note whose name holds its 20-digit stamp from `stampAt` on, named as made
// one nanosecond apart after it.
std::vector<std::filesystem::path> noteCopies(std::filesystem::path const& note, size_t stampAt, int n);

// Files as another account leaves them (a copy once run with sudo, say): this process cannot read
// them, also as root. The files lose their read bits; while the object lives, a process running
// as root acts as `nobody` on every thread, with `folder` made nobody's but for the files.
class AnotherAccountsFiles {
public:
    AnotherAccountsFiles(std::filesystem::path const& folder, std::vector<std::filesystem::path> const& files);
    ~AnotherAccountsFiles();
    AnotherAccountsFiles(AnotherAccountsFiles const&) = delete;
    AnotherAccountsFiles& operator=(AnotherAccountsFiles const&) = delete;
    bool ok() const { return ok_; }
    // In a child about to start a program as root: takes away what lets root read every file, so
    // that files without read bits are unreadable to it too. False when it cannot.
    static bool unreadableToChild();

private:
    bool ok_ = true, switched_ = false;
};

// Renames the files in folder that `wanted` picks and whose names hold an id (20 digits of
// nanoseconds, '-', 16 hex digits, '-', a process id), the time made time(old time): what a copy
// whose clock read otherwise would have named them. Returns how many were renamed.
size_t restampNotes(std::filesystem::path const& folder, std::function<bool(std::string const&)> const& wanted,
                    std::function<std::string(std::string const& time)> const& time);
// For restampNotes: a clock that far ahead.
std::function<std::string(std::string const&)> clockAhead(std::chrono::nanoseconds by);
// The first time that leaves no room for a later stamp, in nanoseconds (late March 2262).
inline constexpr uint64_t kStampsEnd = (uint64_t(1) << 63) - (uint64_t(1) << 50);
// For restampNotes: what a copy whose clock read past 2262 named its notes before stamps left
// room at their end: kStampsEnd, every one.
std::function<std::string(std::string const&)> clockAtTheEnd();
// The copies' clocks the clock cases go through: 5 s ahead, an hour ahead, and at the end of
// stamps, whose notes are damaged.
struct CopyClock {
    char const* name;
    std::function<std::string(std::string const&)> time;
    bool damaged = false;
};
std::vector<CopyClock> copyClocks();
// Times no clock gives in signed 64-bit nanoseconds: twenty nines, the starts of the years 2500
// and 2600, and kStampsEnd.
inline constexpr char const* kTimesNoClockGives[] = {"99999999999999999999", "16725225600000000000", "19880899200000000000",
                                                     "09222246136947933184"};

// Keeps Mesa's DRI and EGL libraries loaded for the life of the process, so LeakSanitizer
// does not see the driver's allocations as leaks once the driver would have unloaded.
void pinGlDriver();

}  // namespace testing_support
