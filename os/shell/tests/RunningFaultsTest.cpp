// The real executable meeting faults once it runs: the cache disk filling up, its log pipe
// closing, too little address space or too few threads, and termination signals before its window
// exists. None of them may end it by a signal. Each test has its own throwaway home; under Xvfb.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fstream>
#include <future>
#include <set>

#include "os/shell/tests/ZelvProcess.h"
#include "testing/GameWindow.h"
#include "testing/TestPaths.h"
#include "testing/XInput.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ZELV_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define ZELV_SANITIZED 1
#endif
#endif

namespace {

namespace fs = std::filesystem;

constexpr char kFirstScreen[] = "zelv: screen ";

// A run in its own home that gets SIGTERM `settle` after the error stream shows `marker` (or
// after markerWait without it), and is killed past the deadline.
zelv_run::Options sigtermAfter(fs::path const& home, std::string marker, std::chrono::seconds markerWait,
                               std::chrono::milliseconds settle, std::chrono::seconds deadline) {
    zelv_run::Options o;
    o.home = home;
    o.signalAfter = std::move(marker);
    o.markerWait = markerWait;
    o.settle = settle;
    o.signal = SIGTERM;
    o.deadline = deadline;
    return o;
}

// A tmpfs of its own at `where`, with room at start; needs root (mount).
class RoomyDisk {
public:
    explicit RoomyDisk(fs::path where) : where_(std::move(where)) {
        fs::create_directories(where_);
        if (geteuid() != 0) {
            why_ = "not root: cannot mount a tmpfs to fill";
            return;
        }
        if (mount("tmpfs", where_.c_str(), "tmpfs", 0, "size=16m") != 0) {
            why_ = std::string("cannot mount a tmpfs: ") + std::strerror(errno);
            return;
        }
        mounted_ = true;
    }
    ~RoomyDisk() {
        if (mounted_) umount2(where_.c_str(), MNT_DETACH);
    }
    std::string const& skipReason() const { return why_; }
    // Writes until the disk has no block left.
    void fill() const {
        std::ofstream out(where_ / "fill", std::ios::binary);
        std::string const block(64 * 1024, 'x');
        while (out.write(block.data(), std::streamsize(block.size())) && out.flush()) {
        }
    }

private:
    fs::path where_;
    bool mounted_ = false;
    std::string why_;
};

// Roomy at start, full from the first screen on: shaders compiled after that must not need the
// disk. A player who asks for the driver's shader cache gets it.
TEST(RunningFaults, CacheDiskFilledAfterStartLeavesTheGameRunning) {
    testing_support::TempDir home;
    RoomyDisk disk(home / "cache");
    if (!disk.skipReason().empty()) GTEST_SKIP() << disk.skipReason();
    // The intro level's own screen builds its shaders with the disk full.
    zelv_run::Options o = sigtermAfter(home.path(), "zelv: screen GameViewController", std::chrono::seconds(90),
                                       std::chrono::milliseconds(3000), std::chrono::seconds(150));
    o.actAfter = kFirstScreen;
    o.act = [&] { disk.fill(); };
    auto r = zelv_run::run(o);
    ASSERT_TRUE(r.exited) << r.describe();
    EXPECT_EQ(r.status, 0) << r.describe();
    EXPECT_GT(r.frames(), 0) << r.describe();
    EXPECT_FALSE(fs::exists(home / "cache" / "mesa_shader_cache")) << r.describe();

    testing_support::TempDir asked;
    o = {};
    o.home = asked.path();
    o.env = {{"MESA_SHADER_CACHE_DISABLE", "false"}};
    o.signalAfter = kFirstScreen;
    o.signal = SIGTERM;
    r = zelv_run::run(o);
    EXPECT_TRUE(r.exited && r.status == 0) << r.describe();
    EXPECT_TRUE(fs::exists(asked / "cache" / "mesa_shader_cache")) << r.describe();
}

// pak0.pak cut short in place while the intro's music streams: the track was copied out of the
// archive, so the stream's reads cannot fault.
TEST(RunningFaults, Pak0CutShortWhileTheMusicPlays) {
    testing_support::TempDir home;
    fs::path const exe = zelv_run::executableIn(home / "game");
    fs::path const pak0 = home / "game" / "pak0.pak";
    fs::copy_file(testing_support::binaryDir() / "pak0.pak", pak0);
    zelv_run::Options o = sigtermAfter(home.path(), "zelv: screen GameViewController", std::chrono::seconds(60),
                                       std::chrono::milliseconds(5000), std::chrono::seconds(120));
    o.executable = exe;
    o.env = {{"ALSOFT_DRIVERS", "null"}};  // a sound device, so that the music plays
    o.actAfter = o.signalAfter;
    o.act = [&] { fs::resize_file(pak0, fs::file_size(pak0) / 4); };
    auto r = zelv_run::run(o);
    ASSERT_TRUE(r.exited) << r.describe();
    EXPECT_EQ(r.status, 0) << r.describe();
}

// A damaged save and a cloud copy that is a folder: each is reported once, however long the main
// menu's start page stays up (it used to read the save every frame).
TEST(RunningFaults, DamagedSaveIsReportedOnceWhileTheStartPageIsUp) {
    testing_support::TempDir home;
    fs::path const saves = home / "data" / "zelv";
    fs::create_directories(saves / "cloud" / "roamingData");
    std::string damaged(3000, '\0');
    for (size_t i = 0; i < damaged.size(); ++i) damaged[i] = char(i * 131 + 7);
    std::ofstream(saves / "roamingData", std::ios::binary).write(damaged.data(), std::streamsize(damaged.size()));
    zelv_run::Options o = sigtermAfter(home.path(), "zelv: screen MainMenuStartMenu", std::chrono::seconds(120),
                                       std::chrono::milliseconds(3000), std::chrono::seconds(180));
    auto r = zelv_run::run(o);
    ASSERT_TRUE(r.exited) << r.describe();
    EXPECT_EQ(r.status, 0) << r.describe();
    ASSERT_NE(r.err.find("zelv: screen MainMenuStartMenu"), std::string::npos) << r.describe();
    EXPECT_EQ(r.countInErr("roamingData is damaged"), 1u) << r.describe();
    EXPECT_LE(r.countInErr("cloud/roamingData: not a regular file"), 1u) << r.describe();
}

// zelv 2>&1 | head -0: the log is lost, the game is not. In a window on a small screen the game
// logs the window's size before the GL driver (which blocks SIGPIPE in its threads) is loaded.
TEST(RunningFaults, ClosedLogPipeDoesNotEndTheGame) {
#ifdef ZELV_SANITIZED
    GTEST_SKIP() << "under the sanitizers xvfb-run's own shell meets the closed pipe first";
#endif
    if (access("/usr/bin/xvfb-run", X_OK) != 0) GTEST_SKIP() << "xvfb-run is not installed";
    testing_support::TempDir home;
    zelv_run::Options o;
    o.home = home.path();
    o.executable = "/usr/bin/xvfb-run";
    o.args = {"-a", "-s", "-screen 0 1024x600x24", (testing_support::binaryDir() / "zelv").string()};
    o.env = {{"SDL_VIDEODRIVER", "x11"}};
    o.group = true;
    o.signalOnly = testing_support::binaryDir() / "zelv";
    o.closeErrAfterLines = 0;
    o.settle = std::chrono::milliseconds(6000);
    o.signal = SIGTERM;
    auto r = zelv_run::run(o);
    // xvfb-run hands on the game's status (128 + the signal had one ended it).
    ASSERT_TRUE(r.exited) << r.describe();
    EXPECT_EQ(r.status, 0) << r.describe();
}

// The moment main has its handlers in place, a SIGTERM or a hang-up ends the game cleanly: the
// run loop sees it before the first frame.
TEST(RunningFaults, TerminationSignalsAsSoonAsMainRunsEndTheGameCleanly) {
    for (int signal : {SIGTERM, SIGHUP}) {
        testing_support::TempDir home;
        zelv_run::Options o;
        o.home = home.path();
        o.signalWhenCaught = true;
        o.signal = signal;
        o.deadline = std::chrono::seconds(60);
        auto r = zelv_run::run(o);
        ASSERT_TRUE(r.exited) << strsignal(signal) << r.describe();
        EXPECT_EQ(r.status, 0) << strsignal(signal) << r.describe();
        EXPECT_EQ(r.frames(), 0) << strsignal(signal) << r.describe();
    }
}

// The rating question (its counts met at start) is drawn by the game: SIGTERM ends the game
// cleanly while it waits for an answer.
TEST(RunningFaults, SigtermWhileTheRatingQuestionIsUpEndsTheGameCleanly) {
    testing_support::TempDir home;
    fs::create_directories(home / "config" / "zelv");
    std::ofstream(home / "config" / "zelv" / "preferences")
        << "kRatingPromptUseCount=7\nkRatingPromptSignificantEventCount=7\n";
    zelv_run::Options o = sigtermAfter(home.path(), "zelv: screen RatingPrompt", std::chrono::seconds(60),
                                       std::chrono::milliseconds(2000), std::chrono::seconds(120));
    // On the display, where a box of the desktop's own would hold the frame loop.
    o.env = {{"SDL_VIDEODRIVER", "x11"}};
    auto r = zelv_run::run(o);
    ASSERT_TRUE(r.exited) << r.describe();
    EXPECT_EQ(r.status, 0) << r.describe();
    if (r.err.find("zelv: screen RatingPrompt") == std::string::npos)
        GTEST_SKIP() << "the question was not asked (no network interface?)";
    EXPECT_GT(r.frames(), 0) << r.describe();
}

// Under an address-space limit the game stops with a message and status 1, or runs; a thread
// that cannot start or a driver that runs out never ends it by a signal.
TEST(RunningFaults, AddressSpaceLimitsEndWithAMessageNotASignal) {
#ifdef ZELV_SANITIZED
    GTEST_SKIP() << "sanitizers reserve more address space than any of these limits";
#endif
    for (uint64_t megabytes : {300, 400, 600}) {
        testing_support::TempDir home;
        zelv_run::Options o;
        o.home = home.path();
        o.addressSpace = megabytes * 1000 * 1000;
        o.signalAfter = kFirstScreen;
        o.markerWait = std::chrono::seconds(30);
        o.signal = SIGTERM;
        o.deadline = std::chrono::seconds(90);
        auto r = zelv_run::run(o);
        ASSERT_TRUE(r.exited) << megabytes << " MB: " << r.describe();
        if (r.status == 0) continue;
        EXPECT_EQ(r.status, 1) << megabytes << " MB: " << r.describe();
        // The last line says why, in the game's own words.
        std::string err = r.err;
        while (!err.empty() && err.back() == '\n') err.pop_back();
        std::string const last = err.substr(err.rfind('\n') == std::string::npos ? 0 : err.rfind('\n') + 1);
        EXPECT_EQ(last.rfind("zelv: ", 0), 0u) << megabytes << " MB: " << r.describe();
    }
}

// Under a limit on the account's threads (it binds only an account other than root: each run gets
// one of its own) the game runs, or stops naming the thread it could not start; it never hangs, at
// start or at exit, and SIGTERM ends it. Eight rasteriser threads, as on an eight-thread machine.
TEST(RunningFaults, ThreadLimitsNeverHangTheGameAndNameWhatCouldNotStart) {
    if (geteuid() != 0) GTEST_SKIP() << "not root: cannot run the game as an account of its own";
    uid_t const account = 1000000 + uid_t(getpid());
    testing_support::TempDir home;
    ASSERT_EQ(chown(home.path().c_str(), account, account), 0);
    for (rlim_t limit : {16, 18, 20, 22, 24, 27, 30, 36, 1000}) {
        zelv_run::Options o = sigtermAfter(home.path(), kFirstScreen, std::chrono::seconds(30),
                                           std::chrono::milliseconds(1000), std::chrono::seconds(60));
        o.env = {{"LP_NUM_THREADS", "8"}};
        o.inChild = [account, threads = rlimit{limit, limit}] {
            return setrlimit(RLIMIT_NPROC, &threads) == 0 && setgroups(0, nullptr) == 0 && setgid(account) == 0 &&
                   setuid(account) == 0;
        };
        if (limit == 1000) {  // as good as none, on the same home: a kill in exit, a start, two copies at once
            zelv_run::run([o]() mutable { o.killAfter = "zelv: ended after"; return o; }());  // killed in exit
            std::set<fs::path> held;  // another copy's writes under way, its temps locked
            for (char const* folder : {"data/zelv/TallyFiles", "data/zelv", "config/zelv"})
                ASSERT_EQ(flock(open(held.insert(home / folder / ".save.0123456789abcdef.7.tmp").first->c_str(),
                                     O_RDONLY | O_CREAT | O_CLOEXEC, 0644), LOCK_EX), 0);
            for (int copies : {1, 2}) {
                std::vector<std::future<zelv_run::Result>> runs;
                for (int i = 0; i < copies; ++i) runs.push_back(std::async(std::launch::async, zelv_run::run, o));
                for (auto& run : runs) {
                    auto const r = run.get();
                    EXPECT_TRUE(r.exited && r.status == 0 && !r.countInErr("cannot rename") &&
                                !r.countInErr("not saved")) << r.describe();
                }
                std::set<fs::path> temps(fs::recursive_directory_iterator(home.path()), {});
                std::erase_if(temps, [](fs::path const& p) { return p.extension() != ".tmp"; });
                EXPECT_EQ(temps, held);
            }
            break;
        }
        auto r = zelv_run::run(o);
        ASSERT_TRUE(r.exited && (r.status == 0 || r.status == 1)) << limit << " threads: " << r.describe();
        EXPECT_TRUE(r.status == 1 || r.countInErr("cannot start")) << limit << " threads: " << r.describe();
        std::string const stop = r.err.substr(std::min(r.err.find("zelv: stopped by an error: "), r.err.size()));
        EXPECT_TRUE(r.status == 0 || (stop.find("thread") < stop.find('\n') && stop.find("start") < stop.find('\n')))
            << limit << " threads: " << r.describe();
    }
}

// zelv >&- 2>&- in a window (the display's socket became the log and hung it), and a file-size
// limit (the download's write must fail as on a full disk, not by SIGXFSZ).
TEST(RunningFaults, ClosedOutputStreamsOrAFileSizeLimitNeverHangOrKillTheGame) {
    testing_support::TempDir closed, limited;
    fs::path const zelv = testing_support::binaryDir() / "zelv";
    zelv_run::Options o;
    o.executable = "/bin/sh";
    o.args = {"-c", "exec \"$0\" >&- 2>&-", zelv};
    o.home = closed.path();
    o.env = {{"SDL_VIDEODRIVER", "x11"}};
    o.signalWhen = [&] { return fs::exists(closed / "config" / "zelv" / "preferences"); };  // the window is up
    o.markerWait = std::chrono::seconds(60);
    o.signal = SIGTERM;
    auto r = zelv_run::run(o);
    EXPECT_TRUE(r.exited && r.status == 0 && !r.timedOut) << r.describe();
    zelv_run::Options f;
    f.home = limited.path();
    f.signalAfter = "pak1.pak.part: File too large";
    f.signal = SIGTERM;
    f.inChild = [] {
        rlimit const limit{2000, 2000};
        return setrlimit(RLIMIT_FSIZE, &limit) == 0;
    };
    r = zelv_run::run(f);
    EXPECT_TRUE(r.exited && r.status == 0 && r.err.find("Download: cannot write") != std::string::npos) << r.describe();
}

// Pipes as the preferences (read before the first frame) and the scores file (read as a level
// ends) and an endless device as the controller mappings: level01 plays to its board, and each
// pipe is kept aside as "<name>.bad" when a plain file takes its place.
TEST(RunningFaults, SettingsFilesThatArePipesLeaveALevelToBePlayedToItsBoard) {
    testing_support::TempDir home;
    fs::path const config = home / "config" / "zelv", data = home / "data" / "zelv";
    fs::create_directories(config), fs::create_directories(data);
    fs::create_symlink("/dev/zero", config / "gamecontrollerdb.txt");
    for (fs::path const& p : {config / "preferences", data / "gameservices"}) ASSERT_EQ(mkfifo(p.c_str(), 0600), 0);
    game_window::GameWindow::Options o;
    o.home = home.path();
    o.args = {"--level", "levels/level01.pxl"};
    game_window::GameWindow game(o);
    ASSERT_TRUE(game.waitForScreen("GameViewController", game_window::Ms(60000))) << game.describe();
    game.keyDown("Right");
    game.keyDown("space");
    EXPECT_TRUE(game.waitForScreen("ResultsMenu", game_window::Ms(150000))) << game.describe();
    EXPECT_TRUE(game.waitUntil([&] { return fs::is_regular_file(data / "gameservices"); }, game_window::Ms(10000)));
    EXPECT_TRUE(game.stop()) << game.describe();
    for (fs::path const& p : {config / "preferences", data / "gameservices"})
        EXPECT_TRUE(fs::is_regular_file(p) && fs::is_fifo(p.string() + ".bad")) << p;
    EXPECT_NE(game.log().find("Controllers: cannot read " + (config / "gamecontrollerdb.txt").string() +
                              ": not a regular file"),
              std::string::npos);
}

}  // namespace

int main(int argc, char** argv) { return testing_support::runTestsUnderXvfb(argc, argv); }
