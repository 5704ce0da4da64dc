#pragma once
// Runs the real `zelv` executable the way a player would start it, with its settings, cache and
// saves in a throwaway home, and collects what it prints and how it ended.
//
// The game's progress is its frames, which its draw record (ZELV_DRAW_RECORD, in a folder of the
// run's own) counts: a loaded machine draws them slower than the wall clock. Lengths of a run that
// the game must have lived through are counted in frames, given as the time they take at 60 a
// second; the wall clock only ends a run that has drawn no new frame for `stall`.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace zelv_run {

struct Options {
    std::filesystem::path executable;  // default: the build's zelv
    std::filesystem::path home;        // HOME; XDG folders are cache/, config/ and data/ inside
    std::vector<std::string> args;
    std::filesystem::path cwd;  // where the player starts it; default: the test's own folder
    // Variables set (a value) or removed (none) over the defaults: SDL_VIDEODRIVER=offscreen,
    // English (LANGUAGE=en, LC_ALL=C.UTF-8), the XDG folders and the draw record, with ZELV_*
    // overrides removed.
    std::map<std::string, std::optional<std::string>> env;
    // When the error stream shows this text, let the game draw `settle` more and send `signal`;
    // empty: never. Without the text after `markerWait` of the game's frames (a machine where it
    // is not printed), the signal is sent `settle` after that.
    std::string signalAfter;
    // Or when this says so (asked while waiting, for runs whose error stream is closed).
    std::function<bool()> signalWhen;
    std::chrono::milliseconds settle{1500};
    std::chrono::milliseconds markerWait{15000};
    int signal = 0;
    // The run gets a process group of its own and signals go to the whole group (for a wrapper
    // such as xvfb-run, which would not pass them on).
    bool group = false;
    // With `group`: the signal goes only to the group's processes running this executable (the
    // game under a wrapper that hands its status on).
    std::filesystem::path signalOnly;
    // Sent the moment the process shows it catches `signal` (its handlers are in place), instead
    // of after a marker.
    bool signalWhenCaught = false;
    // The read end of the error stream is closed once it has shown this many lines (zelv 2>&1 |
    // head -1 closes after one); the signal is then sent `settle` later.
    std::optional<size_t> closeErrAfterLines;
    // Runs once on the test's side when the error stream shows `actAfter`.
    std::string actAfter;
    std::function<void()> act;
    std::string killAfter;  // SIGKILL whenever the error stream shows this text
    // The process's address-space limit (RLIMIT_AS), in bytes.
    std::optional<uint64_t> addressSpace;
    // Runs in the child just before the executable starts (its streams and variables set); the
    // child gives up with status 124 when it returns false.
    std::function<bool()> inChild;
    // The process is killed (and `timedOut` set) when it has drawn more frames than this, or
    // none for `stall` of the wall clock (before its first frame: since it started).
    std::chrono::milliseconds deadline{60000};
    std::chrono::milliseconds stall{60000};
};

struct Result {
    bool exited = false;
    int status = -1;  // exit status when exited, else the signal that ended it
    bool timedOut = false;
    // Wall time from the marker to the signal.
    std::chrono::milliseconds signalledAfter{0};
    // The last frame its draw record showed, -1 for none.
    long lastFrame = -1;
    std::string out, err;
    // The frames the run reported at its end, -1 when it did not say.
    long frames() const;
    // How many times text occurs in the error stream.
    size_t countInErr(std::string const& text) const;
    std::string describe() const;
};

Result run(Options const& options);

// A link (or copy) of the build's executable in a folder of its own, so the data archives beside
// it can be swapped or damaged.
std::filesystem::path executableIn(std::filesystem::path const& folder);

}  // namespace zelv_run
