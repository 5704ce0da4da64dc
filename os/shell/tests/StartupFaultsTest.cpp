// The real executable started the ways that used to go wrong: options on the command line, a
// missing or damaged pak0.pak, no display, a hang-up signal, a full cache disk and a small screen.
// Each run has its own throwaway home.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <functional>
#include <fstream>
#include <future>
#include <random>

#include "os/MemoryMappedZipFile.h"
#include "os/shell/tests/ZelvProcess.h"
#include "os/tests/ZipWriter.h"
#include "platform/PreferencesFile.h"
#include "testing/TestPaths.h"

namespace {

namespace fs = std::filesystem;

// The marker that launching is over and frames are running.
constexpr char kLaunched[] = "Reachability";

void writeBytes(fs::path const& path, std::string const& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), std::streamsize(bytes.size()));
}

std::string readBytes(fs::path const& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

using zelv_run::executableIn;

// A run in `home` that is signalled once frames are running.
zelv_run::Options untilLaunched(fs::path const& home, int signal = SIGTERM) {
    zelv_run::Options o;
    o.home = home;
    o.signalAfter = kLaunched;
    o.signal = signal;
    return o;
}

TEST(StartupFaults, OptionsPrintTheUsageAndExitTwo) {
    testing_support::TempDir home;
    for (std::string option : {"--help", "-h", "--fullscreen", "-"}) {
        zelv_run::Options o;
        o.home = home.path();
        o.args = {option, "zelv://level/3"};
        o.deadline = std::chrono::seconds(20);
        auto r = zelv_run::run(o);
        ASSERT_TRUE(r.exited) << option << r.describe();
        EXPECT_EQ(r.status, 2) << option << r.describe();
        std::string const& usageStream = option.starts_with("-h") || option == "--help" ? r.out : r.err;
        EXPECT_NE(usageStream.find("usage: zelv"), std::string::npos) << option << r.describe();
        // Nothing was started: no window, no download.
        EXPECT_EQ(r.err.find(kLaunched), std::string::npos) << option << r.describe();
        EXPECT_FALSE(fs::exists(home / "cache" / "zelv")) << option;
    }
    zelv_run::Options o;
    o.home = home.path();
    o.args = {"--level", ""};
    auto r = zelv_run::run(o);
    EXPECT_TRUE(r.exited && r.status == 2 && r.err.starts_with("zelv: --level needs a level file\nusage: zelv"))
        << r.describe();
}

TEST(StartupFaults, Pak0MissingOrUnreadableStopsWithItsNameAndWhy) {
    testing_support::TempDir home;
    fs::path const exe = executableIn(home / "game");
    fs::path const pak0 = home / "game" / "pak0.pak";
    std::string const good = readBytes(testing_support::binaryDir() / "pak0.pak");
    ASSERT_GT(good.size(), 1000u);
    std::mt19937 rng(5);
    std::string random(200000, '\0');
    for (char& c : random) c = char(rng());

    struct Case {
        char const* name;
        std::function<void()> make;
        char const* why;
    };
    std::vector<Case> const cases = {
        {"missing", [] {}, "No such file"},
        {"folder", [&] { fs::create_directories(pak0); }, "folder"},
        {"pipe", [&] { ASSERT_EQ(mkfifo(pak0.c_str(), 0600), 0); }, "not a regular file"},
        {"empty", [&] { writeBytes(pak0, ""); }, "empty"},
        {"random", [&] { writeBytes(pak0, random); }, "not a zip"},
        {"truncated", [&] { writeBytes(pak0, good.substr(0, good.size() * 2 / 3)); }, "not a zip"},
    };
    for (auto const& c : cases) {
        std::error_code ec;
        fs::remove_all(pak0, ec);
        c.make();
        zelv_run::Options o;
        o.executable = exe;
        o.home = home.path();
        o.deadline = std::chrono::seconds(30);
        auto r = zelv_run::run(o);
        ASSERT_TRUE(r.exited) << c.name << r.describe();
        EXPECT_NE(r.status, 0) << c.name << r.describe();
        EXPECT_NE(r.err.find("cannot read the data archive " + pak0.string() + ": "), std::string::npos)
            << c.name << r.describe();
        EXPECT_NE(r.err.find(c.why), std::string::npos) << c.name << r.describe();
        // It stops before the window: no cascade of shader and font errors.
        EXPECT_EQ(r.countInErr("\n"), 1u) << c.name << r.describe();
    }
    // The archive whole again: the same copy starts.
    fs::remove_all(pak0);
    writeBytes(pak0, good);
    zelv_run::Options o = untilLaunched(home.path());
    o.executable = exe;
    auto r = zelv_run::run(o);
    EXPECT_TRUE(r.exited && r.status == 0) << r.describe();
}

TEST(StartupFaults, NoDisplayIsAnErrorUnlessOffscreenIsAskedForByName) {
    testing_support::TempDir home;
    zelv_run::Options o;
    o.home = home.path();
    o.env = {{"SDL_VIDEODRIVER", std::nullopt}, {"DISPLAY", std::nullopt}, {"WAYLAND_DISPLAY", std::nullopt}};
    o.deadline = std::chrono::seconds(30);
    auto r = zelv_run::run(o);
    ASSERT_TRUE(r.exited) << r.describe();
    EXPECT_NE(r.status, 0) << r.describe();
    // An SDL without a fallback driver fails to start video at all; one with it is stopped by us.
    bool const noVideo = r.err.find("cannot start SDL video") != std::string::npos;
    if (!noVideo) {
        EXPECT_NE(r.err.find("no display"), std::string::npos) << r.describe();
        EXPECT_NE(r.err.find("SDL_VIDEODRIVER=offscreen"), std::string::npos) << r.describe();
    }

    // Asked for in a list of drivers, the offscreen one runs.
    o.env = {{"SDL_VIDEODRIVER", "x11,offscreen"}, {"DISPLAY", std::nullopt}, {"WAYLAND_DISPLAY", std::nullopt}};
    o.signalAfter = kLaunched;
    o.signal = SIGTERM;
    r = zelv_run::run(o);
    EXPECT_TRUE(r.exited && r.status == 0) << r.describe();
    EXPECT_GT(r.frames(), 0) << r.describe();
}

TEST(StartupFaults, Pak1FromAnEndlessSourceOrDamagedInTheCacheIsNeverMounted) {
    testing_support::TempDir home;
    zelv_run::Options o;
    o.home = home.path();
    o.env = {{"ZELV_PAK1_URL", "file:///dev/zero"}};
    o.signalAfter = "Download of file:///dev/zero failed";
    o.settle = std::chrono::milliseconds(200);
    o.signal = SIGTERM;
    auto r = zelv_run::run(o);
    EXPECT_TRUE(r.exited && r.status == 0) << r.describe();
    EXPECT_NE(r.err.find("larger than"), std::string::npos) << r.describe();
    EXPECT_FALSE(fs::exists(home / "cache" / "zelv" / "pak1.pak.part"));
    EXPECT_FALSE(fs::exists(home / "cache" / "zelv" / "pak1.pak"));

    // A cached copy cut short, dated after the source so its age alone would keep it.
    std::string const pak1 = readBytes(testing_support::binaryDir() / "pak1.pak");
    fs::path const cached = home / "cache" / "zelv" / "pak1.pak";
    writeBytes(cached, pak1.substr(0, pak1.size() - 100));
    fs::last_write_time(cached, fs::file_time_type::clock::now() + std::chrono::hours(24));
    o.env.clear();
    o.signalAfter = kLaunched;
    o.settle = std::chrono::milliseconds(1500);
    r = zelv_run::run(o);
    EXPECT_TRUE(r.exited && r.status == 0) << r.describe();
    EXPECT_NE(r.err.find("is damaged"), std::string::npos) << r.describe();
    EXPECT_EQ(readBytes(cached), pak1);

    // A folder in the copy's place is not blamed on the source: it goes, and the copy is fetched.
    fs::remove(cached);
    fs::create_directories(cached / "inside");
    o.signalAfter.clear();
    o.signalWhen = [&] { return fs::is_regular_file(cached); };
    r = zelv_run::run(o);
    EXPECT_TRUE(r.exited && r.status == 0 && r.err.find(" is not a file; it is removed") != std::string::npos);
    EXPECT_TRUE(fs::is_regular_file(cached) && readBytes(cached) == pak1) << r.describe();
}

// Stale temp files of a killed save go at start; a hang-up ends with the clean shutdown of
// terminate.
TEST(StartupFaults, StaleSaveTempsGoAtStartAndAHangUpShutsDownCleanly) {
    testing_support::TempDir home;
    fs::path const saves = home / "data" / "zelv";
    fs::create_directories(saves / "cloud");
    std::vector<fs::path> const stale = {saves / ".roamingData.00112233445566ff.0.tmp",
                                         saves / "cloud" / ".roamingData.00112233445566ff.1.tmp"};
    fs::path const other = saves / ".roamingData.notours.tmp";
    for (auto const& p : {stale[0], stale[1], other}) {
        writeBytes(p, "half a save");
        fs::last_write_time(p, fs::file_time_type::clock::now() - std::chrono::hours(2));
    }
    auto r = zelv_run::run(untilLaunched(home.path(), SIGHUP));
    ASSERT_TRUE(r.exited) << r.describe();
    EXPECT_EQ(r.status, 0) << r.describe();
    EXPECT_GT(r.frames(), 0) << r.describe();
    for (auto const& p : stale) EXPECT_FALSE(fs::exists(p)) << p << r.describe();
    EXPECT_TRUE(fs::exists(other));
}

TEST(StartupFaults, AMissingShaderIsReportedOnceNotForEveryVariant) {
    testing_support::TempDir home;
    fs::path const exe = executableIn(home / "game");
    // pak0.pak as built, less one shader file.
    MemoryMappedZipFile const pak0((testing_support::binaryDir() / "pak0.pak").string());
    std::vector<ziptest::Entry> entries;
    for (auto const& [name, where] : pak0.entries()) {
        if (name == "shaders/standard.frag") continue;
        auto file = pak0.open(name);
        entries.emplace_back(name, std::string(reinterpret_cast<char const*>(file->data()), file->size()));
    }
    ASSERT_EQ(entries.size() + 1, pak0.entries().size());
    ziptest::writeFile(home / "game" / "pak0.pak", ziptest::build(entries));
    zelv_run::Options o = untilLaunched(home.path());
    o.executable = exe;
    auto r = zelv_run::run(o);
    EXPECT_TRUE(r.exited && r.status == 0) << r.describe();
    EXPECT_GT(r.frames(), 0) << r.describe();  // the first frame built the shaders
    EXPECT_EQ(r.countInErr("is missing"), 1u) << r.describe();
    // Once for the sprite shader's variants; the main menu's backdrop (another program over the
    // same fragment file) may say so too if the run reaches it.
    EXPECT_LE(r.countInErr("standard.vert + shaders/standard.frag does not compile"), 1u) << r.describe();
}

// --level with a relative path is the file in the folder the player typed it in (the game works
// in its own folder), and a path is printed with its control characters made harmless.
TEST(StartupFaults, RelativeLevelPathIsTheTypedFolderAndPrintedSafely) {
    testing_support::TempDir home;
    fs::path const typedIn = home / "mine";
    fs::create_directories(typedIn);
    MemoryMappedZipFile const pak0((testing_support::binaryDir() / "pak0.pak").string());
    auto level = pak0.open("levels/level01.pxl");
    ASSERT_TRUE(level && level->size() > 0);
    writeBytes(typedIn / "my.pxl", std::string(reinterpret_cast<char const*>(level->data()), level->size()));

    zelv_run::Options o = untilLaunched(home.path());
    o.cwd = typedIn;
    o.args = {"--level", "my.pxl"};
    o.signalAfter = "zelv: screen GameViewController";
    o.settle = std::chrono::milliseconds(500);
    auto r = zelv_run::run(o);
    EXPECT_TRUE(r.exited && r.status == 0) << r.describe();
    EXPECT_EQ(r.err.find("no level file"), std::string::npos) << r.describe();

    o.args = {"--level", "gone\x1b[2J.pxl"};
    o.signalAfter = "zelv: screen ConfirmationBox\n";  // what does not load is said in the window too
    r = zelv_run::run(o);
    EXPECT_TRUE(r.exited && r.status == 0) << r.describe();
    EXPECT_NE(r.err.find("zelv: no level file gone?[2J.pxl"), std::string::npos) << r.describe();
    EXPECT_EQ(r.err.find('\x1b'), std::string::npos) << r.describe();
    EXPECT_EQ(r.countInErr(o.signalAfter), 1u) << r.describe();
    fs::create_directories(typedIn / "folder.pxl");
    o.args = {"--level", "folder.pxl"};
    r = zelv_run::run(o);
    EXPECT_NE(r.err.find("level " + (typedIn / "folder.pxl").string() + ": it is a folder"), std::string::npos);
    EXPECT_EQ(r.countInErr(o.signalAfter), 1u) << r.describe();
}

// A tmpfs of a few pages, filled up or read-only; needs root (mount), else the test says why it
// skips.
class SmallDisk {
public:
    enum Kind { Full, ReadOnly };
    SmallDisk(fs::path where, Kind kind) : where_(std::move(where)) {
        fs::create_directories(where_);
        if (geteuid() != 0) {
            why_ = "not root: cannot mount a small tmpfs";
            return;
        }
        if (mount("tmpfs", where_.c_str(), "tmpfs", kind == ReadOnly ? MS_RDONLY : 0, "size=64k") != 0) {
            why_ = std::string("cannot mount a tmpfs: ") + std::strerror(errno);
            return;
        }
        mounted_ = true;
        if (kind == ReadOnly) return;
        std::ofstream fill(where_ / "fill", std::ios::binary);
        std::string const block(4096, 'x');
        for (int i = 0; i < 64 && fill.write(block.data(), std::streamsize(block.size())); ++i) {
        }
    }
    ~SmallDisk() {
        if (mounted_) umount2(where_.c_str(), MNT_DETACH);
    }
    std::string const& skipReason() const { return why_; }

private:
    fs::path where_;
    bool mounted_ = false;
    std::string why_;
};

TEST(StartupFaults, FullCacheDiskRunsWithoutTheShaderCache) {
    testing_support::TempDir home;
    SmallDisk disk(home / "cache", SmallDisk::Full);
    if (!disk.skipReason().empty()) GTEST_SKIP() << disk.skipReason();
    zelv_run::Options o = untilLaunched(home.path());
    o.settle = std::chrono::milliseconds(4000);  // past the first frame's shader builds
    auto r = zelv_run::run(o);
    ASSERT_TRUE(r.exited) << r.describe();
    EXPECT_EQ(r.status, 0) << r.describe();
    EXPECT_GT(r.frames(), 0) << r.describe();
    EXPECT_FALSE(fs::exists(home / "cache" / "mesa_shader_cache")) << r.describe();
}

// What cannot be written there is reported with the disk's own reason, not as a missing file.
TEST(StartupFaults, ReadOnlyConfigAndCacheFoldersAreReportedAsSuch) {
    testing_support::TempDir home;
    SmallDisk disk(home / "readonly", SmallDisk::ReadOnly);
    if (!disk.skipReason().empty()) GTEST_SKIP() << disk.skipReason();
    zelv_run::Options o = untilLaunched(home.path());
    o.env = {{"XDG_CACHE_HOME", (home / "readonly" / "cache").string()},
             {"XDG_CONFIG_HOME", (home / "readonly" / "config").string()}};
    auto r = zelv_run::run(o);
    EXPECT_TRUE(r.exited && r.status == 0) << r.describe();
    for (char const* who : {"Download: cannot write", "Preferences: cannot write"}) {
        size_t const at = r.err.find(who);
        ASSERT_NE(at, std::string::npos) << who << r.describe();
        std::string const line = r.err.substr(at, r.err.find('\n', at) - at);
        EXPECT_NE(line.find("Read-only file system"), std::string::npos) << line;
        EXPECT_EQ(line.find("No such file"), std::string::npos) << line;
    }
}

// Without HOME every folder is under the account's home (a folder of the test's, mounted over it
// in the run's own mount namespace), where the cloud folder is found. An account without a home
// says so and writes into no shared folder.
TEST(StartupFaults, WithoutHomeEveryFolderIsUnderTheAccountsHome) {
    passwd const* pw = getpwuid(getuid());
    if (geteuid() != 0 || !pw) GTEST_SKIP() << "not root: cannot mount over the account's home";
    std::string const account = pw->pw_dir;
    testing_support::TempDir home, typed;
    fs::create_directories(home / ".local/share/zelv/cloud/roamingData");  // read at the main menu
    std::map<std::string, std::optional<std::string>> const noHome = {
        {"HOME", std::nullopt}, {"XDG_CACHE_HOME", std::nullopt}, {"XDG_CONFIG_HOME", std::nullopt},
        {"XDG_DATA_HOME", std::nullopt}};
    zelv_run::Options o;
    o.home = home.path();
    o.env = noHome;
    o.signalAfter = "roamingData: not a regular file";
    o.markerWait = std::chrono::seconds(120);
    o.signal = SIGTERM;
    o.deadline = std::chrono::seconds(180);
    o.inChild = [&] {
        return unshare(CLONE_NEWNS) == 0 && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
               mount(home.path().c_str(), account.c_str(), nullptr, MS_BIND, nullptr) == 0;
    };
    auto r = zelv_run::run(o);
    EXPECT_TRUE(r.exited && r.status == 0 && r.err.find(account + "/.local/share/zelv/cloud/roamingData: not") !=
                                                 std::string::npos)
        << r.describe();
    EXPECT_TRUE(fs::exists(home / ".config/zelv/preferences") && fs::exists(home / ".cache/zelv/pak1.pak"));

    uid_t nobody = 54321;
    while (getpwuid(nobody)) ++nobody;
    fs::permissions(typed.path(), fs::perms::all);
    o = untilLaunched(typed.path());
    o.cwd = typed.path();
    o.env = noHome;
    o.inChild = [nobody] { return setgroups(0, nullptr) == 0 && setgid(nobody) == 0 && setuid(nobody) == 0; };
    r = zelv_run::run(o);
    EXPECT_TRUE(r.exited && r.status == 0 && r.countInErr("no home folder") == 1) << r.describe();
    EXPECT_TRUE(fs::is_empty(typed.path()));
}

TEST(StartupFaults, SmallScreenGetsAWindowInsideItsUsableAreaAtSixteenByNine) {
    if (access("/usr/bin/xvfb-run", X_OK) != 0) GTEST_SKIP() << "xvfb-run is not installed";
    testing_support::TempDir home;
    zelv_run::Options o = untilLaunched(home.path());
    o.executable = "/usr/bin/xvfb-run";
    o.args = {"-a", "-s", "-screen 0 1024x600x24", (testing_support::binaryDir() / "zelv").string()};
    o.env = {{"SDL_VIDEODRIVER", "x11"}};
    o.group = true;
    auto r = zelv_run::run(o);
    EXPECT_FALSE(r.timedOut) << r.describe();
    EXPECT_NE(r.err.find("usable area is 1024x600; the window is 1024x576"), std::string::npos) << r.describe();
}

// Two copies started at the same instant on one home each count their start for the rating
// prompt: neither writes the settings file over the other's count.
TEST(StartupFaults, TwoCopiesStartedAtOnceBothCountTheirStart) {
    testing_support::TempDir home;
    fs::path const prefs = home / "config" / "zelv" / "preferences";
    auto uses = [&] {
        auto const entries = platform::PreferencesFile::parse(readBytes(prefs));
        auto it = entries.find("kRatingPromptUseCount");
        return it == entries.end() ? 0 : std::stoll(it->second);
    };
    for (int round = 1; round <= 3; ++round) {
        long long const before = uses();
        // Each child says it is ready and waits until the other is too: the go pipe is closed.
        int ready[2], go[2];
        ASSERT_EQ(pipe2(ready, O_CLOEXEC), 0);
        ASSERT_EQ(pipe2(go, O_CLOEXEC), 0);
        zelv_run::Options o = untilLaunched(home.path());
        o.inChild = [ready, go] {
            char c = 'r';
            close(go[1]);
            return write(ready[1], &c, 1) == 1 && read(go[0], &c, 1) == 0;
        };
        auto first = std::async(std::launch::async, [o] { return zelv_run::run(o); });
        auto second = std::async(std::launch::async, [o] { return zelv_run::run(o); });
        int readied = 0;
        pollfd p{ready[0], POLLIN, 0};
        for (char c; readied < 2 && poll(&p, 1, 60000) == 1 && read(ready[0], &c, 1) == 1;) ++readied;
        close(go[1]);
        auto const a = first.get(), b = second.get();
        for (int fd : {go[0], ready[0], ready[1]}) close(fd);
        ASSERT_EQ(readied, 2) << a.describe() << b.describe();
        ASSERT_TRUE(a.exited && a.status == 0) << a.describe();
        ASSERT_TRUE(b.exited && b.status == 0) << b.describe();
        EXPECT_EQ(uses(), before + 2) << "round " << round << a.describe() << b.describe();
    }
}

}  // namespace
