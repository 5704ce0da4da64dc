// Settings files: values round-trip through the file, damaged lines are skipped without losing
// the good ones, changes that would break the line format are refused, and writers in several
// processes keep each other's changes, none of this process's waiting on another behind a writer
// that waits for it.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <thread>
#include <vector>

#include "platform/AtomicFile.h"
#include "platform/PreferencesFile.h"
#include "platform/base/Directories.h"
#include "platform/base/Keychain.h"
#include "platform/base/NoteSet.h"
#include "testing/TestPaths.h"

namespace {

std::map<std::string, std::string> onDisk(std::filesystem::path const& path) {
    std::ifstream in(path, std::ios::binary);
    return platform::PreferencesFile::parse(std::string(std::istreambuf_iterator<char>(in), {}));
}

TEST(PreferencesFile, ValuesRoundTripThroughTheFile) {
    testing_support::TempDir dir;
    auto path = dir / "sub" / "prefs";
    {
        platform::PreferencesFile p(path);
        EXPECT_EQ(p.integer("missing"), 0);
        EXPECT_FALSE(p.boolean("missing"));
        EXPECT_TRUE(p.set("version", "1.0 (7)"));
        EXPECT_TRUE(p.setInteger("count", -42));
        EXPECT_TRUE(p.setReal("date", 1754000000.125));
        EXPECT_TRUE(p.setBoolean("rated", true));
        EXPECT_TRUE(p.set("empty", ""));
        EXPECT_FALSE(p.set("bad=key", "x"));
        EXPECT_FALSE(p.set("", "x"));
        EXPECT_FALSE(p.set("key", "two\nlines"));
        ASSERT_TRUE(p.synchronize());
    }
    platform::PreferencesFile q(path);
    EXPECT_EQ(q.string("version"), "1.0 (7)");
    EXPECT_EQ(q.integer("count"), -42);
    EXPECT_DOUBLE_EQ(q.real("date"), 1754000000.125);
    EXPECT_TRUE(q.boolean("rated"));
    EXPECT_EQ(q.string("empty"), "");
    EXPECT_EQ(q.entries().size(), 5u);
}

TEST(PreferencesFile, DamagedLinesAreSkipped) {
    auto e = platform::PreferencesFile::parse("a=1\r\nno equals\n=novalue\nb=x=y\n\n\xff\xfe=\x01\nc=3");
    EXPECT_EQ(e.size(), 4u);
    EXPECT_EQ(e["a"], "1");
    EXPECT_EQ(e["b"], "x=y");
    EXPECT_EQ(e["c"], "3");
    testing_support::TempDir dir;
    std::ofstream(dir / "p") << "count=notanumber\nreal=1e400\n";
    platform::PreferencesFile p(dir / "p");
    EXPECT_EQ(p.integer("count"), 0);
    EXPECT_EQ(p.real("real"), 0);
}

TEST(PreferencesFile, UnwritableFolderFailsWithoutTouchingMemory) {
    platform::PreferencesFile p("/proc/zelv-no-such/prefs");
    EXPECT_TRUE(p.setInteger("a", 1));
    EXPECT_FALSE(p.synchronize());
    EXPECT_EQ(p.integer("a"), 1);
}

// A pipe, an endless device, a 10 GB sparse file or a folder is no settings file: it is read as
// empty and kept aside as "<name>.bad" by the first write (a folder cannot be, and stays).
TEST(PreferencesFile, WhatIsNoSettingsFileIsReadAsEmptyAndKeptAsideBeforeItIsReplaced) {
    testing_support::TempDir dir;
    ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0600), 0);
    std::filesystem::create_symlink("/dev/zero", dir / "zero");
    std::ofstream(dir / "sparse") << "a=1\n";
    std::filesystem::resize_file(dir / "sparse", 10'000'000'000);
    std::filesystem::create_directory(dir / "folder");
    for (std::string const name : {"pipe", "zero", "sparse", "folder"}) {
        platform::PreferencesFile p(dir / name);
        EXPECT_TRUE(p.damaged() && p.entries().empty()) << name;
        p.setInteger("count", 3);
        bool const kept = name != "folder";
        EXPECT_EQ(p.synchronize(), kept) << name;
        EXPECT_EQ(platform::PreferencesFile(dir / name).integer("count"), kept ? 3 : 0) << name;
        EXPECT_EQ(std::filesystem::exists(dir / (name + ".bad")), kept) << name;
    }

    // Nor is a file larger than a reader takes written: a value just over it, or one that fits
    // alone but not beside another, is refused with a line, with the lock free and in a note while
    // it is held. The file and the other settings stay, and the other changes are written.
    for (bool const held : {false, true}) {
        auto const large = dir / (held ? "noted" : "large");
        platform::PreferencesFile p(large);
        int const holder = ::open((dir / ("." + large.filename().string() + ".lock")).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        ASSERT_EQ(::flock(holder, held ? LOCK_EX : LOCK_UN), 0);
        std::string const half(platform::PreferencesFile::kMaxSize / 2 + 100'000, 'h');
        int count = 0;
        for (auto const& [key, value] : {std::pair{"over", std::string(platform::PreferencesFile::kMaxSize - 4, 'o')},
                                         std::pair{"half", half}, std::pair{"other half", half}}) {
            p.set(key, value);
            p.addInteger("count", 1);
            bool const fits = key == std::string("half");
            testing::internal::CaptureStderr();
            EXPECT_EQ(p.synchronize(), fits) << key;
            std::string const log = testing::internal::GetCapturedStderr();
            size_t const line = log.find("not written");
            EXPECT_EQ(line == std::string::npos ? 0 : line == log.rfind("not written") ? 1 : 2, fits ? 0 : 1) << key;
            EXPECT_EQ(p.string(key).value_or("").size(), fits ? value.size() : 0u) << key;
            EXPECT_EQ(p.integer("count"), ++count);
        }
        // Far past it (40 MiB, 9 MiB): refused before it is copied, the process's peak growing by
        // little beyond the value held, and told by the next write.
        for (size_t const mib : {40u, 9u}) {
            std::string const huge(mib << 20, 'z');
            testing::internal::CaptureStderr();
            size_t const grown = testing_support::peakResidentGrowth([&] {
                EXPECT_FALSE(p.set("huge", huge));
                EXPECT_FALSE(p.synchronize());
            });
            std::string const log = testing::internal::GetCapturedStderr();
            EXPECT_LT(grown, 16u << 20) << mib;
            EXPECT_NE(log.find("huge not written"), std::string::npos) << log;
            EXPECT_FALSE(p.string("huge")) << mib;
            EXPECT_TRUE(p.synchronize()) << "told once";
        }
        ::close(holder);
        platform::PreferencesFile const after(large);
        EXPECT_FALSE(after.damaged() || std::filesystem::exists(large.string() + ".bad"));
        EXPECT_EQ(after.integer("count"), 3);
        EXPECT_EQ(after.string("half").value_or("").size(), half.size());
    }

    // The lock held elsewhere: a change is refused beside every note there, however large the notes
    // a view's round passes over. What copies that wrote at once were told was kept is folded in
    // past kMaxSize and read whole after; a file over its limit takes a change that makes it
    // smaller. Only notes that would take it past what a reader takes wait, kept beside it
    // unfolded, until there is room.
    auto const shared = dir / "shared";
    auto const setInAt = [&](std::filesystem::path const& path, std::string const& key, size_t size) {
        platform::PreferencesFile p(path);
        p.set(key, std::string(size, key[0]));
        return p.synchronize();
    };
    auto const setIn = [&](std::string const& key, size_t size) { return setInAt(shared, key, size); };
    auto const sharedNotes = [&] {
        return platform::regularFilesIn(dir.path(), [](auto const& n) { return n.starts_with(".shared.") && n.ends_with(".pending"); });
    };
    auto const sizeOf = [&](platform::PreferencesFile const& p, std::string const& key) { return p.string(key).value_or("").size(); };
    ASSERT_TRUE(setIn("K1", 400'000));
    int const holder = ::open((dir / ".shared.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);
    EXPECT_TRUE(setIn("K2", 400'000));
    testing::internal::CaptureStderr();
    EXPECT_FALSE(setIn("K3", 400'000));
    EXPECT_NE(testing::internal::GetCapturedStderr().find("K3 not written"), std::string::npos);
    // A copy that wrote K3 at once with K2's: it did not see that note.
    auto const k2 = sharedNotes();
    ASSERT_EQ(k2.size(), 1u);
    std::filesystem::rename(k2[0], dir / "aside");
    EXPECT_TRUE(setIn("K3", 400'000));
    std::filesystem::rename(dir / "aside", k2[0]);
    ::close(holder);
    testing::internal::CaptureStderr();
    {
        platform::PreferencesFile folded(shared);
        EXPECT_TRUE(sharedNotes().empty());
        EXPECT_GT(std::filesystem::file_size(shared), platform::PreferencesFile::kMaxSize);
        folded.set("new", "x");
        EXPECT_FALSE(folded.synchronize());
        folded.set("K1", "smaller");
        EXPECT_TRUE(folded.synchronize());
    }
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(log.find("removed"), std::string::npos) << log;
    {
        platform::PreferencesFile const read(shared);
        EXPECT_FALSE(read.damaged());
        EXPECT_EQ(sizeOf(read, "K1") + sizeOf(read, "K2") + sizeOf(read, "K3") + sizeOf(read, "new"), 7u + 800'000u);
    }
    // Far past it: the notes of eleven copies of 800 KB each, older than every change here.
    constexpr int kFar = 11;
    for (int i = 0; i < kFar; ++i) {
        char name[96];
        std::snprintf(name, sizeof name, ".shared.%020llu-0123456789abcdef-1.pending", 1'700'000'000'000'000'000ull + i);
        std::ofstream(dir / name) << "set W" + std::to_string(i) + "=" + std::string(800'000, 'w') + "\n";
    }
    testing::internal::CaptureStderr();
    size_t waiting = 0;
    {
        platform::PreferencesFile folded(shared);
        waiting = sharedNotes().size();
        EXPECT_GE(waiting, 1u);
        EXPECT_LE(waiting, 3u);
        EXPECT_LE(std::filesystem::file_size(shared), platform::PreferencesFile::kMaxReadSize);
        for (int i = 0; i < kFar - int(waiting); ++i) EXPECT_EQ(sizeOf(folded, "W" + std::to_string(i)), 800'000u) << i;
        for (int i = 0; i < 3; ++i) folded.set("W" + std::to_string(i), "");
        EXPECT_TRUE(folded.synchronize());
    }
    log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find(std::to_string(waiting) + " note(s) .shared.*.pending in " + dir.path().string() + " kept unfolded"),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find("removed"), std::string::npos) << log;
    platform::PreferencesFile const roomMade(shared);
    EXPECT_TRUE(sharedNotes().empty());
    for (int i = 3; i < kFar; ++i) EXPECT_EQ(sizeOf(roomMade, "W" + std::to_string(i)), 800'000u) << i;
    EXPECT_EQ(roomMade.string("W0"), "");

    // A new object's view takes the notes in order whatever their size: a note larger than a
    // round at the head of the pile hides neither itself nor the notes after it.
    for (size_t const head : {300'000u, 900'000u}) {
        auto const headed = dir / ("headed" + std::to_string(head));
        ASSERT_TRUE(setInAt(headed, "one", 1));
        int const holder = ::open((dir / ("." + headed.filename().string() + ".lock")).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        ASSERT_EQ(::flock(holder, LOCK_EX), 0);
        EXPECT_TRUE(setInAt(headed, "N1", head));
        EXPECT_TRUE(setInAt(headed, "S1", 10));
        platform::PreferencesFile const fresh(headed);
        EXPECT_EQ(sizeOf(fresh, "N1"), head);
        EXPECT_EQ(sizeOf(fresh, "S1"), 10u);
        EXPECT_EQ(fresh.string("one"), "o");
        ::close(holder);
    }
    // However many large notes come before it while the lock is held elsewhere, more than a view
    // keeps: ten of 900 KB setting one key, then a small one, each told kept. A new object sees
    // the last of each, and so does one once the lock is free and the notes are folded.
    auto const piled = dir / "piled";
    ASSERT_TRUE(setInAt(piled, "one", 1));
    int const pileHolder = ::open((dir / ".piled.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_EQ(::flock(pileHolder, LOCK_EX), 0);
    std::string const ninety(900'000, 'k');
    for (char last = '0'; last <= '9'; ++last) {
        platform::PreferencesFile p(piled);
        EXPECT_TRUE(p.set("K", last + ninety));
        EXPECT_TRUE(p.synchronize()) << last;
    }
    EXPECT_TRUE(setInAt(piled, "S1", 10));
    for (bool const held : {true, false}) {
        if (!held) ::close(pileHolder);
        platform::PreferencesFile const fresh(piled);
        EXPECT_EQ(fresh.string("K").value_or("-").substr(0, 1), "9") << held;
        EXPECT_EQ(sizeOf(fresh, "K"), ninety.size() + 1) << held;
        EXPECT_EQ(sizeOf(fresh, "S1"), 10u) << held;
        EXPECT_EQ(fresh.string("one"), "o") << held;
    }
    EXPECT_TRUE(platform::regularFilesIn(dir.path(), [](auto const& n) { return n.starts_with(".piled.") && n.ends_with(".pending"); }).empty());
    EXPECT_EQ(onDisk(piled)["S1"], std::string(10, 'S'));
}

// Once another thread of this process waits for the lock file's turn; false if none came in a
// minute (a hang, not a slow machine).
bool waiterThere(std::filesystem::path const& lockFile) {
    for (auto const end = std::chrono::steady_clock::now() + std::chrono::minutes(1); platform::FileLock::waitingFor(lockFile) == 0;) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    return true;
}

// Copies of the game on one home write the same file: each write applies its own changes to what
// the file holds then, so no copy's change is lost, also while another holds the lock.
TEST(PreferencesFile, WritersOnOnePathKeepEachOthersChanges) {
    testing_support::TempDir dir;
    auto const path = dir / "prefs";
    {
        platform::PreferencesFile a(path), b(path);
        EXPECT_EQ(a.addInteger("uses", 1), 1);
        EXPECT_EQ(b.addInteger("uses", 1), 1);
        b.set("b", "2");
        // A set after an addition wins; an addition after a set counts from it.
        a.addInteger("n", 5);
        a.setInteger("n", 10);
        a.addInteger("n", 1);
        ASSERT_TRUE(a.synchronize() && b.synchronize());
        EXPECT_EQ(b.entries(), (std::map<std::string, std::string>{{"b", "2"}, {"n", "11"}, {"uses", "2"}}));
        EXPECT_EQ(b.entries(), onDisk(path));
    }

    // Processes racing, some finding the lock held.
    constexpr int kProcesses = 6, kRounds = 15;
    ASSERT_TRUE(testing_support::inProcessesAtOnce(kProcesses, [&](int process) {
        for (int round = 0; round < kRounds; ++round) {
            platform::PreferencesFile p(path);
            p.addInteger("uses", 1);
            p.setInteger("last." + std::to_string(process), round);
            p.synchronize();
            p.addInteger("uses", 1);
            p.synchronize(std::chrono::minutes(1));  // a bound a loaded machine keeps to
        }
        return true;
    }));
    auto entries = onDisk(path);
    EXPECT_EQ(entries["uses"], std::to_string(2 + 2 * kProcesses * kRounds));
    for (int process = 0; process < kProcesses; ++process)
        EXPECT_EQ(entries["last." + std::to_string(process)], std::to_string(kRounds - 1));

    // The lock held elsewhere (a copy stopped in a debugger): nothing waits, the change is seen
    // here at once and is on disk, in a note, when synchronize() returns. The next object sees it
    // at once and writes it, over what the holder wrote, with the lock free; a note of an earlier
    // version is taken too, and a damaged one gives its good lines.
    std::ofstream(path, std::ios::trunc) << "uses=1\n";
    int const held = ::open((dir / ".prefs.lock").c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    auto notes = [&] { return platform::regularFilesIn(dir.path(), [](auto const& n) { return n.ends_with(".pending"); }).size(); };
    {
        platform::PreferencesFile p(path);
        EXPECT_EQ(p.addInteger("uses", 2), 3);
        p.set("name", "a=b c");
        EXPECT_TRUE(p.synchronize());
        EXPECT_EQ(onDisk(path), (std::map<std::string, std::string>{{"uses", "1"}}));
        EXPECT_EQ(notes(), 1u);
    }
    std::ofstream(path, std::ios::trunc) << "uses=5\n";
    std::ofstream(dir / ".prefs.0123456789abcdef.1.pending") << "add uses=3\nadd uses=x\nbogus\n\xff\nset cut=1";
    ASSERT_EQ(notes(), 2u);
    {
        platform::PreferencesFile r(path);
        EXPECT_EQ(r.integer("uses"), 10);
        ::close(held);
        r.addInteger("uses", 1);
        ASSERT_TRUE(r.synchronize());
    }
    EXPECT_EQ(onDisk(path), (std::map<std::string, std::string>{{"name", "a=b c"}, {"uses", "11"}}));
    EXPECT_EQ(notes(), 0u);

    // A write that may wait for the holder lets this process's other writes by: they return, their
    // changes kept for later, while it still waits. With the lock free, threads of this process take
    // turns on it, and none is told that another process holds it.
    int const holder = ::open((dir / ".prefs.lock").c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);
    std::atomic<bool> waiting{false}, waited{false};
    std::thread background([&] {
        platform::PreferencesFile counted(path);
        counted.addInteger("uses", 1);
        waiting = true;
        EXPECT_TRUE(counted.synchronize(std::chrono::hours(1)));  // past the writes below however slow
        waited = true;
    });
    while (!waiting) std::this_thread::yield();
    {
        platform::PreferencesFile answered(path);
        for (int i = 0; i < 20; ++i) {
            answered.addInteger("uses", 1);
            EXPECT_TRUE(answered.synchronize());
            std::this_thread::sleep_for(std::chrono::milliseconds(2));  // the background one is surely waiting
        }
        EXPECT_FALSE(waited);
        ::close(holder);
        background.join();
        EXPECT_TRUE(answered.synchronize());
    }
    EXPECT_EQ(onDisk(path)["uses"], "32");
    std::atomic<int> inside{0};
    std::vector<std::thread> lockers;
    for (int t = 0; t < 4; ++t)
        lockers.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                platform::FileLock lock(dir / ".prefs.lock", std::chrono::milliseconds(t % 2 ? 0 : 50));
                EXPECT_TRUE(lock.held() && !lock.busy()) << lock.error();
                EXPECT_EQ(++inside, 1);
                --inside;
            }
        });
    for (auto& t : lockers) t.join();
    // A thread that lets the lock go and asks for it again at once lets one waiting for it go first,
    // however late that one is given the CPU.
    for (int i = 0; i < 20; ++i) {
        std::atomic<int> taken{0};
        int waiterTook = 0;
        std::optional<platform::FileLock> lock(std::in_place, dir / ".prefs.lock");
        std::thread waiter([&] {
            platform::FileLock mine(dir / ".prefs.lock", std::chrono::minutes(1));
            waiterTook = ++taken;
        });
        EXPECT_TRUE(waiterThere(dir / ".prefs.lock")) << i;
        lock.reset();
        lock.emplace(dir / ".prefs.lock", std::chrono::minutes(1));
        int const againTook = ++taken;
        lock.reset();
        waiter.join();
        EXPECT_EQ(waiterTook, 1) << "the turn went straight back, " << i;
        EXPECT_EQ(againTook, 2);
    }

    // Changes whose write failed wait for the next; a dangling link as the lock file is not followed.
    std::ofstream(dir / "blocker") << "a file where the folder goes";
    platform::PreferencesFile p(dir / "blocker" / "prefs");
    p.addInteger("uses", 1);
    EXPECT_FALSE(p.synchronize());
    p.addInteger("uses", 1);
    std::filesystem::remove(dir / "blocker");
    std::filesystem::create_directory(dir / "blocker");
    std::filesystem::create_symlink(dir / "made-through-link", dir / "blocker" / ".prefs.lock");
    EXPECT_TRUE(p.synchronize());
    EXPECT_EQ(onDisk(p.path())["uses"], "2");
    EXPECT_FALSE(std::filesystem::exists(dir / "made-through-link"));

    // A folder that can be written but not listed (as its owner, not as root): a file renamed into
    // place is written, though the folder cannot be flushed after (false, and a line); its changes
    // are not made again. A note there would never be folded: refused, the changes kept for later.
    testing_support::TempDir unlisted;
    {
        testing_support::AnotherAccountsFiles as(unlisted.path(), {});
        ASSERT_TRUE(as.ok());
        ASSERT_EQ(::chmod(unlisted.path().c_str(), 0300), 0);
        platform::PreferencesFile w(unlisted / "prefs");
        testing::internal::CaptureStderr();
        for (int i = 0; i < 2; ++i) {
            w.addInteger("uses", 1);
            EXPECT_FALSE(w.synchronize());
            EXPECT_EQ(w.integer("uses"), i + 1);
        }
        int const holder = ::open((unlisted / ".prefs.lock").c_str(), O_RDWR | O_CLOEXEC);
        ASSERT_EQ(::flock(holder, LOCK_EX), 0);
        w.addInteger("uses", 1);
        EXPECT_FALSE(w.synchronize());
        ::close(holder);
        EXPECT_FALSE(w.synchronize());
        std::string const log = testing::internal::GetCapturedStderr();
        EXPECT_NE(log.find("written, but cannot open folder"), std::string::npos) << log;
        EXPECT_NE(log.find("cannot list"), std::string::npos) << log;
        EXPECT_EQ(w.integer("uses"), 3);
        ASSERT_EQ(::chmod(unlisted.path().c_str(), 0700), 0);
    }
    EXPECT_EQ(onDisk(unlisted / "prefs")["uses"], "3");
    EXPECT_EQ(platform::PreferencesFile(unlisted / "prefs").integer("uses"), 3);
}

// Notes are folded in exactly once, whatever step of the fold a kill strikes: counts come out
// exact. A value set in a note never goes over one set after it, be the note met again after a
// kill or made while the later value was being written by a copy that had not seen it (an old best
// score coming back).
TEST(PreferencesFile, NotesFoldExactlyOnceAndNeverOverANewerChangeWhereverAKillStrikes) {
    constexpr int kNotes = 20;
    for (int kill = 1;; ++kill) {
        ASSERT_LT(kill, 100);
        testing_support::TempDir dir;
        auto const path = dir / "prefs";
        std::ofstream(path) << "uses=1\nbest=100\n";
        int held = ::open((dir / ".prefs.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        ASSERT_EQ(::flock(held, LOCK_EX), 0);
        for (int i = 0; i < kNotes; ++i) {
            platform::PreferencesFile p(path);
            p.addInteger("uses", 1000);
            if (i == 0) p.set("best", "90");
            ASSERT_TRUE(p.synchronize());
        }
        platform::PreferencesFile later(path);  // made with the lock held: nothing folded yet
        ::close(held);
        // Once the notes are read, another copy makes one more while this one holds the lock.
        bool const finished = testing_support::inProcessWithAnother(
            [&] {
                platform::PreferencesFile other(path);
                other.set("best", "70");
                other.addInteger("uses", 5);
                return other.synchronize();
            },
            [&](auto const& meanwhile) {
                int step = 0;
                platform::NoteSet::setFaultHook([&](std::string const& notes) {
                    if (notes != (dir / ".prefs.").string()) return;
                    if (++step == kill) ::raise(SIGKILL);
                    if (step == 2 && !meanwhile()) ::_exit(1);
                });
                later.set("best", "80");
                later.addInteger("uses", 1);
                return later.synchronize();
            });
        // The third step comes once the file is written.
        bool const written = kill >= 3;
        EXPECT_EQ(finished, kill > kNotes + 3) << kill;
        auto const expected = std::map<std::string, std::string>{{"best", written ? "80" : "90"},
                                                                 {"uses", std::to_string(1 + kNotes * 1000 + (written ? 6 : 0))}};
        // What a reader sees with the lock held (nothing folded) and what a fold leaves are the same.
        held = ::open((dir / ".prefs.lock").c_str(), O_RDWR | O_CLOEXEC);
        ASSERT_EQ(::flock(held, LOCK_EX), 0);
        EXPECT_EQ(platform::PreferencesFile(path).entries(), expected) << kill;
        ::close(held);
        EXPECT_EQ(platform::PreferencesFile(path).entries(), expected) << kill;
        EXPECT_EQ(onDisk(path), expected) << kill;
        EXPECT_TRUE(platform::regularFilesIn(dir.path(), [](auto const& n) { return n.ends_with(".pending"); }).empty()) << kill;
        if (finished) break;
    }

    // Whatever the clocks did: a value set after one its writer read wins, and an addition after it
    // counts, though that one's copy had its clock 5 s or an hour ahead (its note named so, or
    // folded into the file with that stamp by another process), whether the writer
    // opened the settings before that copy wrote or after, and in the writer's next read too. A
    // copy that named its note where stamps end left a damaged one: removed, never applied.
    using namespace std::chrono_literals;
    auto const isNote = [](std::string const& n) { return n.ends_with(".pending"); };
    for (auto const& clock : testing_support::copyClocks())
        for (bool const folded : {false, true})
            for (bool const openedBefore : {false, true}) {
                std::string const what = std::string(clock.name) + (folded ? ", folded" : "") + (openedBefore ? ", opened before" : "");
                testing_support::TempDir dir;
                auto const path = dir / "prefs";
                int const held = ::open((dir / ".prefs.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
                ASSERT_EQ(::flock(held, LOCK_EX), 0);
                std::optional<platform::PreferencesFile> later;
                if (openedBefore) later.emplace(path);
                ASSERT_TRUE(testing_support::inProcessesAtOnce(1, [&](int) {
                    platform::PreferencesFile fast(path);
                    return fast.set("k", "A") && fast.setInteger("n", 10) && fast.synchronize();
                }));
                ASSERT_EQ(testing_support::restampNotes(dir.path(), isNote, clock.time), 1u);
                // Folded in by a start of another process with the lock free: none of its stamps
                // passes through this one.
                if (folded) {
                    ASSERT_EQ(::flock(held, LOCK_UN), 0);
                    ASSERT_TRUE(testing_support::inProcessesAtOnce(1, [&](int) {
                        return platform::PreferencesFile(path).entries().size() == (clock.damaged ? 0u : 2u);
                    }));
                    ASSERT_EQ(::flock(held, LOCK_EX), 0);
                }
                if (!openedBefore) {
                    later.emplace(path);
                    EXPECT_EQ(later->string("k"), clock.damaged ? std::nullopt : std::optional<std::string>("A")) << what;
                }
                later->set("k", "B");
                later->addInteger("n", 1);
                EXPECT_TRUE(later->synchronize());
                auto const expected = std::map<std::string, std::string>{{"k", "B"}, {"n", clock.damaged ? "1" : "11"}};
                EXPECT_EQ(platform::PreferencesFile(path).entries(), expected) << what;
                ::close(held);
                EXPECT_EQ(platform::PreferencesFile(path).entries(), expected) << what;
                EXPECT_EQ(onDisk(path), expected) << what;
            }

    // Named where stamps end or past it, a note is damaged: removed with a line, never applied;
    // such a stamp in the file holds its key for nobody, though later than any this process
    // makes. Files named otherwise (a stamp of 19, 21 or 2 digits) are no notes: left alone.
    testing_support::TempDir dir;
    auto const path = dir / "prefs";
    std::ofstream(path) << "k=old\n=set 99999999999999999999-0123456789abcdef-1 k\n";
    int const held = ::open((dir / ".prefs.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    for (char const* time : testing_support::kTimesNoClockGives)
        std::ofstream(dir / (std::string(".prefs.") + time + "-0123456789abcdef-1.pending")) << "set k=" << time << "\n";
    std::vector<std::string> const others = {".prefs.1700000000000000000-0123456789abcdef-1.pending",
                                             ".prefs.017000000000000000000-0123456789abcdef-1.pending",
                                             ".prefs.17-0123456789abcdef-1.pending"};
    for (auto const& name : others) std::ofstream(dir / name) << "set k=" << name << "\n";
    platform::PreferencesFile noted(path);
    EXPECT_EQ(noted.string("k"), "old");
    noted.set("k", "noted");
    EXPECT_TRUE(noted.synchronize());
    EXPECT_EQ(platform::PreferencesFile(path).string("k"), "noted");
    ::close(held);
    testing::internal::CaptureStderr();
    EXPECT_EQ(platform::PreferencesFile(path).string("k"), "noted");
    std::string const log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("removed 4 damaged note(s)"), std::string::npos) << log;
    EXPECT_EQ(log.find("removed", log.find("removed") + 1), std::string::npos) << log;
    EXPECT_EQ(onDisk(path)["k"], "noted");
    std::vector<std::string> left;
    for (auto const& file : platform::regularFilesIn(dir.path(), isNote)) left.push_back(file.filename().string());
    EXPECT_EQ(left, (std::vector<std::string>{others[1], others[2], others[0]}));
    for (char const* time : testing_support::kTimesNoClockGives) {
        std::ofstream(path, std::ios::trunc) << "k=old\n=set " << time << "-ffffffffffffffff-1 k\n";
        platform::PreferencesFile locked(path);
        locked.set("k", "locked");
        EXPECT_TRUE(locked.synchronize());
        EXPECT_EQ(onDisk(path)["k"], "locked") << time;
    }

    // A stamp short of the end leaves room for as many changes as there are nanoseconds left, each
    // note named apart; a change past them is refused with a line, noted or written. The process
    // goes on stamping the changes of its other stores.
    auto const end = [](uint64_t before) {
        char stamp[64];
        std::snprintf(stamp, sizeof stamp, "%020llu-ffffffffffffffff-1", static_cast<unsigned long long>(testing_support::kStampsEnd - before));
        return std::string(stamp);
    };
    testing_support::TempDir other;
    ASSERT_TRUE(testing_support::inProcessesAtOnce(1, [&](int) {
        std::ofstream(path, std::ios::trunc) << "k=old\n=set " << end(3) << " k\n";
        int const held = ::open((dir / ".prefs.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        bool ok = ::flock(held, LOCK_EX) == 0;
        platform::PreferencesFile near(path);
        testing::internal::CaptureStderr();
        for (int i = 0; i < 4; ++i) {
            near.set("k", std::to_string(i));
            ok = near.synchronize() == (i < 2) && ok;
        }
        std::string const log = testing::internal::GetCapturedStderr();
        ok = ok && log.find("refused") != std::string::npos && log.find("refused", log.find("refused") + 1) != std::string::npos;
        ok = ok && platform::regularFilesIn(dir.path(), isNote).size() == others.size() + 2;
        ::close(held);
        ok = ok && platform::PreferencesFile(path).string("k") == "1" && onDisk(path)["k"] == "1";
        std::ofstream(path, std::ios::trunc) << "k=old\n=set " << end(1) << " k\n";
        platform::PreferencesFile written(path);
        written.set("k", "written");
        ok = !written.synchronize() && onDisk(path)["k"] == "old" && written.string("k") == "old" && ok;
        platform::PreferencesFile elsewhere(other / "prefs");
        elsewhere.set("k", "elsewhere");
        return elsewhere.synchronize() && onDisk(other / "prefs")["k"] == "elsewhere" && ok;
    }));
}

// Notes another account left (unreadable here) are passed over: a start's fold goes on to the
// notes after them, says so once, and ends whatever the folder holds. A pile folds a round a write,
// a round ending after its few milliseconds (a write held up past them folds the fewest notes a
// round takes) or once it read what a round may, whatever the count; each write sees what the
// file holds, at most a round more of the pile, and its own changes, noted or not.
TEST(PreferencesFile, NotesThatCannotBeReadArePassedOverAndAPileFoldsARoundAWrite) {
    testing_support::TempDir dir;
    auto const path = dir / "prefs";
    auto const pending = [&] {
        return platform::regularFilesIn(dir.path(), [](auto const& n) { return n.ends_with(".pending"); }).size();
    };
    uint64_t stamp = 1'700'000'000'000'000'000;
    auto const note = [&](std::string const& text) {
        char name[96];
        std::snprintf(name, sizeof name, ".prefs.%020llu-0123456789abcdef-1.pending", static_cast<unsigned long long>(++stamp));
        std::ofstream(dir / name) << text;
        return dir / name;
    };
    for (int i = 0; i < 5; ++i) note("add uses=1\n");
    std::vector<std::filesystem::path> theirs;
    for (int i = 0; i < 1001; ++i) theirs.push_back(note("add uses=1000\n"));
    for (int i = 0; i < 5; ++i) note("add uses=1\nset last=" + std::to_string(i) + "\n");
    testing::internal::CaptureStderr();
    {
        testing_support::AnotherAccountsFiles as(dir.path(), theirs);
        ASSERT_TRUE(as.ok());
        platform::PreferencesFile p(path);
        EXPECT_EQ(pending(), theirs.size());
        EXPECT_EQ(onDisk(path), (std::map<std::string, std::string>{{"last", "4"}, {"uses", "10"}}));
        // Passes after it pass them over again, without another line.
        for (size_t i = 0; i < 2 * (1001 / platform::NoteSet::kMinFold + 1); ++i) EXPECT_TRUE(p.synchronize());
        EXPECT_EQ(p.integer("uses"), 10);
        EXPECT_EQ(pending(), theirs.size());
    }
    std::string const err = testing::internal::GetCapturedStderr();
    size_t lines = 0;
    for (size_t at = 0; (at = err.find("cannot be read now", at)) != std::string::npos; ++at) ++lines;
    EXPECT_EQ(lines, 1u) << err;
    for (auto const& file : theirs) std::filesystem::remove(file);

    // Each write held up at the start of its round (a loaded machine) past the round's time.
    static std::atomic<bool> holdUp{false};
    platform::NoteSet::setFaultHook([](std::string const&) {
        if (holdUp.exchange(false)) std::this_thread::sleep_for(std::chrono::milliseconds(2 * platform::NoteSet::kRoundMicroseconds / 1000));
    });
    platform::PreferencesFile q(path);
    constexpr int kPile = 2500;
    for (int i = 0; i < kPile; ++i) note("add pile=1\n");
    int held = ::open((dir / ".prefs.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    q.addInteger("mine", 1);
    ASSERT_TRUE(q.synchronize());  // in a note, after the pile
    ::close(held);
    size_t left = pending();
    for (int64_t writes = 1; left > 1; ++writes) {
        ASSERT_LT(writes, kPile / platform::NoteSet::kMinFold + 3);
        q.setInteger("write", writes);
        holdUp = true;
        ASSERT_TRUE(q.synchronize());
        size_t const now = pending();
        EXPECT_LE(left - now, platform::NoteSet::kMinFold) << "a round went on past its time";
        left = now;
        int64_t const folded = std::stoll(onDisk(path)["pile"]);
        EXPECT_GE(q.integer("pile"), folded);
        EXPECT_LE(q.integer("pile"), std::min<int64_t>(kPile, folded + platform::NoteSet::kMaxFold));
        EXPECT_EQ(q.integer("write"), writes);
        EXPECT_EQ(q.integer("mine"), 1) << "its own note is not seen beside the pile";
    }
    ASSERT_TRUE(q.synchronize());
    EXPECT_EQ(pending(), 0u);
    EXPECT_EQ(onDisk(path)["pile"], std::to_string(kPile));
    EXPECT_EQ(onDisk(path)["mine"], "1");

    // A pile folded by a thread of its own, each removal held up (a slow disk): once a round has
    // shown what removing costs, rounds take the fewest notes a round takes; and another thread's
    // write that comes in a round waits for none of it: it is done, in a note, seen at once, while
    // that thread is held inside its round, the pile not through.
    constexpr int kSlowPile = 600;
    for (int i = 0; i < kSlowPile; ++i) note("add slow=1\n");
    static std::atomic<bool> roundBegins{false}, wanted{false}, go{false}, written{false};
    static std::atomic<std::thread::id> writer{};
    static std::atomic<int> writerSteps{0};
    platform::NoteSet::setFaultHook([](std::string const&) {
        if (std::this_thread::get_id() == writer.load()) {
            ++writerSteps;
        } else if (roundBegins.exchange(false) && wanted.exchange(false)) {
            go = true;
            // A minute tells a write that waits for this round from one that ends.
            for (auto const end = std::chrono::steady_clock::now() + std::chrono::minutes(1); !written.exchange(false);)
                if (std::chrono::steady_clock::now() > end) {
                    ADD_FAILURE() << "the write waited for the round";
                    break;
                }
        }
        std::this_thread::sleep_for(std::chrono::microseconds(300));
    });
    std::atomic<bool> stop{false}, through{false};
    std::atomic<int> rounds{0};
    std::vector<size_t> removed;  // by each round of the folding thread
    writer = std::this_thread::get_id();
    std::thread folding([&] {
        for (size_t before = pending(); !stop && before > 0; ++rounds) {
            roundBegins = true;
            EXPECT_TRUE(q.synchronize());
            size_t const after = pending();
            removed.push_back(before - after);
            before = after;
        }
        through = true;
    });
    auto const until = [](auto const& done) {
        for (auto const end = std::chrono::steady_clock::now() + std::chrono::minutes(1); !done();) {
            if (std::chrono::steady_clock::now() > end) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    };
    // Not stopped here before the thread is joined.
    EXPECT_TRUE(until([&] { return rounds > 0 || through; }));
    int w = 0;
    for (; w < 3; ++w) {
        wanted = true;
        EXPECT_TRUE(until([&] { return go || through; }));
        if (!go) break;  // through already
        go = false;
        q.setInteger("during", w);
        writerSteps = 0;
        EXPECT_TRUE(q.synchronize());
        written = true;
        EXPECT_EQ(writerSteps, 0) << "a write beside another thread's round folded one of its own";
        EXPECT_EQ(q.integer("during"), w);
        EXPECT_GT(pending(), 0u);
    }
    EXPECT_EQ(w, 3) << "the pile was through in " << rounds << " rounds";
    stop = true;
    folding.join();
    writer = std::thread::id();
    platform::NoteSet::setFaultHook({});
    for (size_t i = 1; i < removed.size(); ++i) EXPECT_LE(removed[i], platform::NoteSet::kMinFold) << "round " << i;
    for (int writes = 0; pending() > 0; ++writes) {
        ASSERT_LT(writes, kSlowPile);
        ASSERT_TRUE(q.synchronize());
    }
    EXPECT_EQ(onDisk(path)["slow"], std::to_string(kSlowPile));
    EXPECT_EQ(onDisk(path)["during"], "2");

    // Large notes take a fold's round each, and a view reads them whatever their size: the latest
    // shows at once, also while another process holds the lock.
    std::string const large(platform::NoteSet::kRoundBytes, 'x');
    for (int i = 0; i < 4; ++i) note("set large=" + std::to_string(i) + large + "\n");
    ASSERT_EQ(::flock(held = ::open((dir / ".prefs.lock").c_str(), O_RDWR | O_CLOEXEC), LOCK_EX), 0);
    EXPECT_EQ(platform::PreferencesFile(path).string("large").value_or("-").substr(0, 1), "3");
    ::close(held);
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(q.synchronize());
        EXPECT_EQ(pending(), size_t(3 - i));
        EXPECT_EQ(q.string("large").value_or("-").substr(0, 1), "3");
    }
    platform::NoteSet::setFaultHook({});

    // Beside a pile a change is stamped later than every note there all the same: a note that a
    // copy whose clock runs an hour ahead leaves after the pile was first listed, also once the
    // folder, or the one it is in, was moved aside and a copy put in its place, as a restore does
    // (the kernel's notices follow the folder moved aside).
    auto const folder = dir / "home" / "settings";
    std::filesystem::create_directories(folder);
    for (int i = 0; i < 5000; ++i) {
        char name[96];
        std::snprintf(name, sizeof name, ".prefs.%020llu-0123456789abcdef-1.pending", static_cast<unsigned long long>(++stamp));
        std::ofstream(folder / name) << "add big=1\n";
    }
    auto const lockThere = [&] {
        int const fd = ::open((folder / ".prefs.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        EXPECT_EQ(::flock(fd, LOCK_EX), 0);
        return fd;
    };
    held = lockThere();
    platform::PreferencesFile r(folder / "prefs");
    for (int i = 0; i < 3; ++i) {
        r.setInteger("ahead", i);
        ASSERT_TRUE(r.synchronize());
    }
    auto const now = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch());
    std::vector<std::string> const restores{"", "folder", "parent"};
    for (size_t i = 0; i < restores.size(); ++i) {
        if (!restores[i].empty()) {
            auto const moved = restores[i] == "folder" ? folder : folder.parent_path();
            std::filesystem::rename(moved, moved.string() + "." + restores[i]);
            std::filesystem::copy(moved.string() + "." + restores[i], moved, std::filesystem::copy_options::recursive);
            ::close(held);
            held = lockThere();
        }
        // Each copy ahead of this object's change before it.
        char ahead[96];
        std::snprintf(ahead, sizeof ahead, ".prefs.%020lld-0123456789abcdef-1.pending",
                      static_cast<long long>((now + std::chrono::hours(i + 1)).count()));
        std::ofstream(folder / "copy.tmp") << "set ahead" + restores[i] + "=theirs\n";
        std::filesystem::rename(folder / "copy.tmp", folder / ahead);
        r.set("ahead" + restores[i], "mine");
        ASSERT_TRUE(r.synchronize());
    }
    ::close(held);
    platform::PreferencesFile const afterPile(folder / "prefs");
    EXPECT_TRUE(platform::regularFilesIn(folder, [](auto const& n) { return n.ends_with(".pending"); }).empty());
    auto folded = onDisk(folder / "prefs");
    for (auto const& restored : restores) EXPECT_EQ(folded["ahead" + restored], "mine") << restored;
    EXPECT_EQ(folded["big"], "5000");
}

// One thread of a fresh process makes its first store id, settings write or keychain change while
// another forks, at offsets across the first call: the child, which uses the same store itself and
// then ends or starts a program, always ends, and what it was told was kept is. A fork handler that
// waited on something the first thread was making, or for a lock the other thread was taking, or a
// lock the child finds taken by a thread it does not have, would keep it (or the fork) there for
// good. Each trial is a process of its own, started afresh from this program.
TEST(StoresBesideAFork, ChildrenEndBesideAFirstIdSettingsWriteOrKeychainChangeAndTakeLocksTheirParentLetGo) {
    using namespace std::chrono;
    using Clock = steady_clock;
    struct Kind {
        char const* name;
        int spanMicroseconds;  // the forks' offsets from the first call's start go up to it
        std::function<void(std::filesystem::path const&)> prepare, first;
        // The child's own use, and the parent's look at what it kept once both are done.
        std::function<bool(std::filesystem::path const&)> inChild, kept;
    };
    std::optional<platform::PreferencesFile> settings;
    auto const keychainAdd = [](uint8_t account) {
        platform::Data const d{account};
        return platform::Keychain::add("svc", d, d, d, platform::Keychain::Accessibility::WhenUnlocked);
    };
    std::vector<Kind> const kinds = {
        {"store id", 40, {}, [](auto const&) { (void)platform::NoteSet::newId(); },
         [](auto const&) { return platform::NoteSet::newId().has_value(); }, [](auto const&) { return true; }},
        {"settings write", 250,
         [&](auto const& folder) {
             settings.emplace(folder / "prefs");
             settings->set("k", "v");
         },
         [&](auto const&) { settings->synchronize(); },
         [](auto const& folder) {
             platform::PreferencesFile p(folder / "prefs");
             p.set("child", "1");
             return p.synchronize();
         },
         [](auto const& folder) { return platform::PreferencesFile(folder / "prefs").string("child") == "1"; }},
        {"keychain change", 100, [](auto const&) { std::filesystem::create_directories(platform::Keychain::directory()); },
         [&](auto const&) { keychainAdd('a'); }, [&](auto const&) { return keychainAdd('c') == platform::Keychain::kSuccess; },
         [](auto const&) {
             platform::Data value;
             return platform::Keychain::copyMatching("svc", platform::Data{'c'}, value) == platform::Keychain::kSuccess &&
                    value == platform::Data{'c'};
         }},
    };
#if defined(__SANITIZE_ADDRESS__)
    constexpr bool kAddressChecked = true;
#elif defined(__has_feature)
    constexpr bool kAddressChecked = __has_feature(address_sanitizer);
#else
    constexpr bool kAddressChecked = false;
#endif
#if defined(__SANITIZE_THREAD__)
    constexpr bool kSanitized = true;
#elif defined(__has_feature)
    constexpr bool kSanitized = kAddressChecked || __has_feature(thread_sanitizer);
#else
    constexpr bool kSanitized = kAddressChecked;
#endif
    // A sanitizer's process takes a tenth of a second to start, and its calls run slower.
    constexpr int kTrials = kSanitized ? 50 : 200, kSlower = kSanitized ? 3 : 1;
    // Far past what a child's write takes on a loaded machine: one that is not done by then hangs.
    constexpr auto kChildBound = seconds(30), kTrialBound = seconds(90);
    // False when it had to be killed.
    auto const endsWithin = [](pid_t child, Clock::duration bound, int& status) {
        for (auto const deadline = Clock::now() + bound; ::waitpid(child, &status, WNOHANG) == 0;) {
            if (Clock::now() > deadline) {
                ::kill(child, SIGKILL);
                ::waitpid(child, &status, 0);
                return false;
            }
            std::this_thread::sleep_for(milliseconds(1));
        }
        return true;
    };
    // Its child ended within the bound and its change was kept (0), hung (1), ended otherwise or
    // lost its change (2). The first call runs on a thread made before the offset is counted, so
    // the fork meets it at a known distance.
    auto const trial = [&](Kind const& kind, int n, std::filesystem::path const& folder) {
        std::filesystem::create_directories(folder);
        platform::Directories::setRootOverride(folder);
        std::atomic<bool> go{false}, forked{false};
        std::thread first([&] {
            if (kind.prepare) kind.prepare(folder);
            go = true;
            kind.first(folder);
            // Alive until the fork: the thread checker's child reports a thread ended unjoined.
            while (!forked) std::this_thread::sleep_for(microseconds(100));
        });
        while (!go) {
        }
        auto const at = Clock::now() + microseconds(kSlower * kind.spanMicroseconds * (n / 2 % 20) / 20);
        while (Clock::now() < at) {
        }
        pid_t const child = ::fork();
        if (child == 0) {
            // The address checker's allocator keeps a lock a parent's thread may hold as the fork
            // strikes: its children end without allocating.
            if (!kAddressChecked && !kind.inChild(folder)) ::_exit(3);
            if (n % 2) ::execl("/bin/true", "true", nullptr);
            ::_exit(0);
        }
        forked = true;
        int status = -1;
        bool const ended = child < 0 || endsWithin(child, kChildBound, status);
        first.join();
        return !ended ? 1 : child > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0 && (kAddressChecked || kind.kept(folder)) ? 0 : 2;
    };

    if (char const* asked = std::getenv("ZELV_TEST_TRIAL")) {  // "<kind> <trial> <folder>": this process is one
        char* rest = nullptr;
        size_t const k = std::strtoul(asked, &rest, 10);
        int const n = int(std::strtol(rest, &rest, 10));
        ::_exit(k < kinds.size() ? trial(kinds[k], n, std::filesystem::path(rest + 1)) : 2);
    }
    testing_support::TempDir dir;
    // A lock file another thread holds as the fork strikes is its parent's alone: once that thread
    // lets it go, the child takes it, the thread's turn on it not kept.
    {
        std::atomic<int> step{0};
        std::thread holder([&] {
            platform::FileLock lock(dir / "lock");
            step = lock.held() ? 1 : -1;
            while (step == 1) std::this_thread::sleep_for(milliseconds(1));
        });
        while (step == 0) std::this_thread::sleep_for(milliseconds(1));
        int let[2] = {-1, -1};
        pid_t child = -1;
        if (step == 1 && ::pipe2(let, O_CLOEXEC) == 0 && (child = ::fork()) == 0) {
            char c;
            ::_exit(::read(let[0], &c, 1) == 1 && platform::FileLock(dir / "lock", seconds(5)).held() ? 0 : 1);
        }
        step = 2;
        holder.join();
        EXPECT_GT(child, 0);
        if (child > 0) {
            EXPECT_EQ(::write(let[1], "x", 1), 1);
            int status = -1;
            EXPECT_TRUE(endsWithin(child, seconds(30), status) && WIFEXITED(status) && WEXITSTATUS(status) == 0)
                << "the child took no lock its parent let go: " << status;
        }
        for (int fd : let)
            if (fd >= 0) ::close(fd);
    }

    // Each trial a new process from this program, a few at once.
    std::string filter = std::string("--gtest_filter=StoresBesideAFork.") + testing::UnitTest::GetInstance()->current_test_info()->name();
    char* argv[] = {filter.data(), filter.data(), nullptr};
    std::vector<std::string> environment;
    bool tsanOptions = false;
    for (char** e = environ; *e; ++e) {
        environment.emplace_back(*e);
        // The thread checker ends a forked child that starts a thread; these children may.
        if (environment.back().starts_with("TSAN_OPTIONS=")) environment.back() += " die_after_fork=0", tsanOptions = true;
    }
    if (!tsanOptions) environment.emplace_back("TSAN_OPTIONS=die_after_fork=0");
    environment.emplace_back();
    std::map<pid_t, std::pair<size_t, Clock::time_point>> running;
    std::vector<int> hung(kinds.size()), failed(kinds.size());
    auto const reap = [&](size_t atMost) {
        while (running.size() > atMost) {
            int status = -1;
            pid_t const done = ::waitpid(-1, &status, WNOHANG);
            if (auto const it = running.find(done); it != running.end()) {
                size_t const k = it->second.first;
                running.erase(it);
                if (!WIFEXITED(status) || WEXITSTATUS(status) == 1)
                    ++hung[k];
                else if (WEXITSTATUS(status) != 0)
                    ++failed[k];
                continue;
            }
            for (auto const& [pid, started] : running)
                if (Clock::now() - started.second > kTrialBound) ::kill(pid, SIGKILL);  // its fork never returned
            std::this_thread::sleep_for(milliseconds(1));
        }
    };
    for (size_t k = 0; k < kinds.size(); ++k)
        for (int n = 0; n < kTrials; ++n) {
            reap(3);
            environment.back() = "ZELV_TEST_TRIAL=" + std::to_string(k) + " " + std::to_string(n) + " " +
                                 (dir / (std::to_string(k) + "-" + std::to_string(n))).string();
            std::vector<char*> envp;
            for (auto& e : environment) envp.push_back(e.data());
            envp.push_back(nullptr);
            pid_t pid = -1;
            ASSERT_EQ(::posix_spawn(&pid, "/proc/self/exe", nullptr, nullptr, argv, envp.data()), 0);
            running[pid] = {k, Clock::now()};
        }
    reap(0);
    for (size_t k = 0; k < kinds.size(); ++k) {
        EXPECT_EQ(hung[k], 0) << kinds[k].name << ": " << hung[k] << " of " << kTrials << " hung";
        EXPECT_EQ(failed[k], 0) << kinds[k].name << ": " << failed[k] << " of " << kTrials << " ended otherwise";
    }
}

}  // namespace
