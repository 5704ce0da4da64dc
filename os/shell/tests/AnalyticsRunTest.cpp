// A headless run of the real executable that opens a level: what the game logged reaches the
// analytics agent's stored sessions (saved blocks, the current session, the sender's blocks).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <functional>
#include <set>

#include "analytics/agent/tests/StoredEvents.h"
#include "os/shell/tests/ZelvProcess.h"
#include "platform/base/AtomicFile.h"
#include "save/RoamingDataFile.h"
#include "testing/TestPaths.h"

namespace {

std::vector<std::string> loggedEvents(std::filesystem::path const& folder) {
    std::vector<std::string> names;
    for (auto const& e : block_reader::storedEvents(folder)) names.push_back(e.name);
    return names;
}

size_t countOf(std::vector<std::string> const& names, std::string const& name) {
    return size_t(std::count(names.begin(), names.end(), name));
}

std::string readAll(std::filesystem::path const& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The level start of each run lands in the stored sessions, also while another process holds
// every lock file the game keeps (stopped inside a change, say): that run starts, draws and quits
// without waiting for it, its count of the start is on disk at once, and the next start with the
// locks free lists what it kept aside, clears a pile of damaged keychain notes and passes over
// notes another account left.
TEST(Shell, AHeadlessRunsLevelStartLandsInTheStoredSessions) {
    testing_support::TempDir home;
    // A save in which the first level is open, so the run can start it from its address.
    std::filesystem::path const documents = home.path() / "documents";
    std::filesystem::create_directories(documents);
    setenv("ZELV_DOCUMENTS_DIR", documents.c_str(), 1);
    {
        RoamingDataFile save("roamingData");
        save.data.levelEntry(0);
    }
    std::function<bool()> inChild;
    auto run = [&](std::vector<std::string> args) {
        zelv_run::Options o;
        o.inChild = inChild;
        o.home = home.path();
        o.env["ZELV_DOCUMENTS_DIR"] = documents.string();
        o.args = std::move(args);
        o.signalAfter = "Reachability";
        o.settle = std::chrono::milliseconds(3000);
        o.signal = SIGTERM;
        o.deadline = std::chrono::seconds(90);
        return zelv_run::run(o);
    };
    std::filesystem::path const files = home.path() / "data" / "zelv" / "TallyFiles";
    std::string const started = "STARTED_LEVEL_WITH_PATH: levels/level01.pxl";
    auto r = run({"0"});
    ASSERT_TRUE(r.exited && r.status == 0) << r.describe();
    EXPECT_EQ(countOf(loggedEvents(files), started), 1u) << r.describe();

    // Every lock file there is, and the saved sessions' one, which only a start that finds a
    // previous session makes.
    std::vector<int> held;
    std::set<std::filesystem::path> locks;
    for (auto const& e : std::filesystem::recursive_directory_iterator(home.path())) {
        std::string const name = e.path().filename().string();
        if (e.path().extension() == ".lock") locks.insert(e.path());
        if (name.starts_with(".tallyStored-") && name.ends_with(".archive")) locks.insert(e.path().string() + ".lock");
    }
    for (auto const& path : locks) {
        held.push_back(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
        ASSERT_EQ(::flock(held.back(), LOCK_EX), 0) << path;
    }
    ASSERT_EQ(locks.size(), 4u);  // the report index, the saved sessions, the keychain, the settings
    std::filesystem::path const config = home.path() / "config" / "zelv";
    bool counted = false;
    auto locked = [&] {
        zelv_run::Options o;
        o.home = home.path();
        o.env["ZELV_DOCUMENTS_DIR"] = documents.string();
        o.args = {"0"};
        o.signalAfter = "Reachability";
        o.settle = std::chrono::milliseconds(3000);
        o.signal = SIGTERM;
        o.deadline = std::chrono::seconds(90);
        // While the game runs, the count of its start is in a note already.
        o.actAfter = "the changes are in a note";
        o.act = [&] {
            for (auto const& note : platform::regularFilesIn(config, [](auto const& n) { return n.starts_with(".preferences.") && n.ends_with(".pending"); }))
                counted = counted || readAll(note).find("add kRatingPromptUseCount=1\n") != std::string::npos;
        };
        return zelv_run::run(o);
    };
    r = locked();
    for (int fd : held) ::close(fd);
    EXPECT_TRUE(counted) << r.describe();
    ASSERT_TRUE(r.exited && r.status == 0 && !r.timedOut) << r.describe();
    EXPECT_GT(r.frames(), 0) << r.describe();

    // With the index's lock file a dangling link, the link is not followed. Damaged keychain notes,
    // named as this version and an earlier one name them, go.
    std::filesystem::remove(files / ".TallySenderIndex.info.lock");
    std::filesystem::create_symlink(home.path() / "made-through-link", files / ".TallySenderIndex.info.lock");
    std::filesystem::path const keychain = home.path() / "data" / "zelv" / "keychain";
    auto keychainNotes = [&] { return platform::regularFilesIn(keychain, [](auto const& n) { return n.ends_with(".pending"); }).size(); };
    size_t const kept = keychainNotes();
    for (int i = 0; i < 2000; ++i) {
        char name[128];
        std::snprintf(name, sizeof name, i % 2 ? ".%040d.%020d-0123456789abcdef-%d.pending" : ".%040d.0123456789abcdef.%d.%010d.pending", i % 7, i + 3000, i);
        std::ofstream(keychain / name) << "damaged " << i;
    }
    // Notes another account left beside the keychain and the settings (a copy once run with sudo)
    // cannot be read: the start passes over them, says so once for each, and folds those after.
    auto settingsNotes = [&] { return platform::regularFilesIn(config, [](auto const& n) { return n.starts_with(".preferences.") && n.ends_with(".pending"); }).size(); };
    for (int i = 1; i <= 1001; ++i) {
        char name[128];
        std::snprintf(name, sizeof name, ".%040d.%020d-0123456789abcdef-1.pending", 0, i);
        std::ofstream(keychain / name) << "theirs";
        ::chmod((keychain / name).c_str(), 0);
        std::snprintf(name, sizeof name, ".preferences.%020d-0123456789abcdef-1.pending", i);
        std::ofstream(config / name) << "add kRatingPromptUseCount=1000\n";
        ::chmod((config / name).c_str(), 0);
    }
    std::ofstream(config / ".preferences.00000000000000002000-0123456789abcdef-1.pending") << "add kRatingPromptUseCount=10\n";
    inChild = testing_support::AnotherAccountsFiles::unreadableToChild;
    r = run({});
    ASSERT_TRUE(r.exited && r.status == 0) << r.describe();
    EXPECT_EQ(keychainNotes(), 1001u) << kept << " of the locked run's own";
    EXPECT_EQ(settingsNotes(), 1001u);
    EXPECT_EQ(r.countInErr("cannot be read now"), 2u) << r.describe();
    EXPECT_FALSE(std::filesystem::exists(home.path() / "made-through-link"));
    EXPECT_EQ(countOf(loggedEvents(files), started), 2u) << r.describe();
    // Each run counted its start, the locked one through a note beside the settings, with the 10
    // a note after the unreadable ones added.
    std::string const settings = readAll(home.path() / "config" / "zelv" / "preferences");
    EXPECT_NE(settings.find("kRatingPromptUseCount=13\n"), std::string::npos) << settings;
    std::string const index = readAll(files / "TallySenderIndex.info");
    for (auto const& e : std::filesystem::directory_iterator(files)) {
        std::string const name = e.path().filename().string();
        EXPECT_FALSE(name.ends_with(".added") || name.find(".held") != std::string::npos) << name << " left";
        if (name.size() == 36 && name[8] == '-') {
            EXPECT_NE(index.find(name), std::string::npos) << name << " not listed";
        }
    }
}

}  // namespace
