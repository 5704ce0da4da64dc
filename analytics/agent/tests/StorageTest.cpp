// Persistent maps, the keychain wrapper, stored flags and the agent-wide settings, each test in a
// fresh data folder with fresh shared objects.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <thread>

#include "analytics/agent/Tally.h"
#include "analytics/agent/TallyGlobalPersistentManager.h"
#include "analytics/agent/TallyGlobalVariableStorage.h"
#include "analytics/agent/TallyKeychainWrapper.h"
#include "analytics/agent/TallyPulseSettings.h"
#include "analytics/agent/TallySessionBuilder.h"
#include "analytics/agent/TallySessionInfo.h"
#include "analytics/agent/TallyUtil.h"
#include "platform/base/AtomicFile.h"
#include "platform/base/DeviceFacts.h"
#include "platform/base/Digests.h"
#include "platform/base/Directories.h"
#include "platform/base/KeyedArchive.h"
#include "platform/base/NoteSet.h"
#include "platform/base/NotificationCenter.h"
#include "platform/base/SdkLoop.h"
#include "testing/TestPaths.h"

using M = TallyGlobalPersistentManager;

namespace {

class AgentStore : public ::testing::Test {
protected:
    void SetUp() override {
        platform::Directories::setRootOverride(dir.path());
        platform::DeviceFacts::setBundleInfo(Value::Dict{{"CFBundleIdentifier", Value("org.zelv.test")}});
        TallyPulseSettings::registerArchiveClass();
        fresh();
    }
    void TearDown() override {
        // A started session is ended while the folder is still the test's own.
        Tally::reset();
        TallyGlobalPersistentManager::cleanup();
        TallyGlobalVariableStorage::cleanup();
        platform::Directories::setRootOverride(std::nullopt);
        platform::DeviceFacts::setBundleInfo(std::nullopt);
    }
    // As after a restart: the maps are loaded from the files again.
    void fresh() {
        TallyGlobalPersistentManager::cleanup();
        TallyGlobalVariableStorage::cleanup();
    }
    std::shared_ptr<M> maps() { return M::sharedInstance(); }
    std::shared_ptr<TallyGlobalVariableStorage> settings() { return TallyGlobalVariableStorage::sharedInstance(); }
    Value::Dict read(M::Map m) {
        Value::Dict out;
        maps()->readSync(m, [&](Value::Dict const& d) { out = d; });
        return out;
    }
    std::filesystem::path tallyFiles() { return dir / "data" / "zelv" / "TallyFiles"; }

    testing_support::TempDir dir;
};

}  // namespace

TEST_F(AgentStore, NoFilesGiveFiveEmptyMapsAndFilesACorruptFileEmptiesOnlyItsMap) {
    for (int m = 0; m < M::kMapCount; ++m) EXPECT_TRUE(read(M::Map(m)).empty());
    std::vector<std::string> names;
    for (auto const& e : std::filesystem::directory_iterator(tallyFiles())) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{".tallyCkData0_189.archive", ".tallyPersistenPulsePrepUrlsData0_189.archive",
                                               ".tallyPersistenPulseUrlsData0_189.archive",
                                               ".tallyPersistentUrlsData0_189.archive", ".tallyPropertiesData0_189.archive"}));
    for (auto const& n : names) {
        auto v = TallyUtil::safeUnarchiveObjectWithFile(tallyFiles() / n);
        ASSERT_TRUE(v && v->dict()) << n;
        EXPECT_TRUE(v->dict()->empty());
    }

    for (int m = 0; m < M::kMapCount; ++m)
        maps()->write(M::Map(m), [m](Value::Dict& d) { d["map"] = Value(int64_t{m}); });
    settings()->savePersistentGlobalsToDisk();
    maps()->waitUntilIdle();
    std::ofstream(tallyFiles() / ".tallyCkData0_189.archive", std::ios::trunc) << "\x01garbage";
    fresh();
    EXPECT_TRUE(read(M::Cookies).empty());
    for (M::Map m : {M::Globals, M::Urls, M::PulseUrls, M::PulsePrepUrls})
        EXPECT_EQ(read(m), (Value::Dict{{"map", Value(int64_t{m})}})) << m;
}

TEST_F(AgentStore, WritesAreSeenBySyncReadsAndSavesNeverGoBackInTime) {
    maps()->processWriteOperationForPersistentGlobalsMap([](Value::Dict& d) { d["a"] = Value(int64_t{1}); });
    Value seen;
    maps()->processReadOperationForPersistentGlobalsMapSync([&](Value::Dict const& d) { seen = d.at("a"); });
    EXPECT_EQ(seen, Value(int64_t{1}));

    // Saves and writes racing from several threads: the file ends with the last state.
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 25; ++i) {
                maps()->processWriteOperationForPersistentGlobalsMap(
                    [](Value::Dict& d) { d["n"] = Value(d["n"].toInt64().value_or(0) + 1); });
                if (i % 3 == t % 3) settings()->savePersistentGlobalsToDisk();
            }
        });
    for (auto& t : threads) t.join();
    settings()->savePersistentGlobalsToDisk();
    maps()->waitUntilIdle();
    fresh();
    EXPECT_EQ(read(M::Globals)["n"], Value(int64_t{100}));
}

TEST_F(AgentStore, StartSweepsLeftTempFilesButNotHeldOnesAndTerminateFinishesQueuedSaves) {
    std::filesystem::path const temps[] = {dir / "data/zelv/keychain/.a.0123456789abcdef.0.tmp",
        tallyFiles() / ".b.0123456789abcdef.3.tmp", tallyFiles() / ".c.0123456789abcdef.4.tmp"};  // the last held
    for (auto const& p : temps) create_directories(p.parent_path()), std::ofstream(p) << "cut short";
    platform::FileLock const writer(temps[2]);
    Tally::startSession("key");
    EXPECT_TRUE(!exists(temps[0]) && !exists(temps[1]) && exists(temps[2]));
    for (int64_t n = 0; n < 20; ++n)
        maps()->write(M::Globals, [n](auto& d) { d["last"] = Value(n); }), settings()->savePersistentGlobalsToDisk();
    platform::NotificationCenter::shared().post(Tally::kWillTerminate);
    auto const v = platform::KeyedArchive::readFromFile(TallyGlobalVariableStorage::persistentGlobalsFilePath());
    EXPECT_TRUE(v.value.dict() && v.value.dict()->at("last") == Value(int64_t{19}));
}

TEST_F(AgentStore, KeychainItemsUpdateKeepAccessibilityAndRemoveByService) {
    EXPECT_FALSE(TallyKeychainWrapper::keychainWrapperWithIdentifier(""));
    auto k = TallyKeychainWrapper::keychainWrapperWithIdentifier(TallyKeychainWrapper::kAnalyticsIdentifier);
    ASSERT_TRUE(k);
    EXPECT_EQ(k->identifier(), "org.zelv.testcom.tally.analytics");

    EXPECT_TRUE(k->setString("first", "TallySessionInstallIDKey"));
    EXPECT_TRUE(k->setThisDeviceString("second", "TallySessionInstallIDKey"));  // duplicate: an update
    EXPECT_EQ(k->stringForKey("TallySessionInstallIDKey"), "second");
    EXPECT_EQ(platform::Keychain::accessibility(k->identifier(), Data{'T', 'a', 'l', 'l', 'y', 'S', 'e', 's', 's', 'i',
                                                                       'o', 'n', 'I', 'n', 's', 't', 'a', 'l', 'l', 'I',
                                                                       'D', 'K', 'e', 'y'}),
              platform::Keychain::Accessibility::WhenUnlocked);

    EXPECT_FALSE(k->setObject(Value(), "TallyAPIKey"));
    EXPECT_FALSE(k->objectForKey("TallyAPIKey"));
    EXPECT_TRUE(k->setObject(Value(platform::Date{12.5}), "TallySessionTimestampKey"));
    EXPECT_EQ(k->objectForKey("TallySessionTimestampKey"), Value(platform::Date{12.5}));
    Data const binary{0xff, 0xfe};
    EXPECT_TRUE(k->setData(&binary, "raw"));
    EXPECT_FALSE(k->stringForKey("raw"));  // not UTF-8
    EXPECT_FALSE(k->setData(&binary, ""));

    auto other = TallyKeychainWrapper::keychainWrapperWithIdentifier("other");
    EXPECT_TRUE(other->setString("x", "k"));
    k->removeObjectForKey("");  // the whole service
    EXPECT_FALSE(k->dataForKey("raw"));
    EXPECT_FALSE(k->stringForKey("TallySessionInstallIDKey"));
    EXPECT_EQ(other->stringForKey("k"), "x");

    struct stat st {};
    ASSERT_EQ(::stat(platform::Keychain::directory().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    // Two instances on one home adding different items at once, one through the wrapper and one
    // straight into the keychain, keep them all.
    auto key = [](int round, int process, int n) { return std::to_string(round * 1000 + process * 100 + n); };
    for (int round = 0; round < 3; ++round) {
        EXPECT_TRUE(testing_support::inProcessesAtOnce(2, [&](int process) {
            for (int n = 0; n < 40; ++n) {
                std::string const s = key(round, process, n);
                Data const d(s.begin(), s.end());
                if (process) platform::Keychain::add(k->identifier(), d, d, d, {});
                else k->setString(s, s);
            }
            return true;  // each add on disk once it returned, in a note when it found the lock held
        }));
        for (int process = 0; process < 2; ++process)
            for (int n = 0; n < 40; ++n) EXPECT_EQ(k->stringForKey(key(round, process, n)), key(round, process, n));
    }
    // What found the lock held is folded in by a start with the lock free.
    EXPECT_TRUE(platform::Keychain::foldNotes());
    EXPECT_TRUE(platform::regularFilesIn(platform::Keychain::directory(), [](auto const& n) { return n.ends_with(".pending"); }).empty());
    EXPECT_EQ(k->stringForKey(key(2, 1, 39)), key(2, 1, 39));

    // A change while another process holds the lock neither waits nor fails: it is in a note at
    // once, seen by every process, also once its process ended without a word. The next change with
    // the lock free folds them in, and a damaged note goes.
    {
        int const held = ::open((platform::Keychain::directory() / "keychain.lock").c_str(), O_RDWR | O_CLOEXEC);
        ASSERT_EQ(::flock(held, LOCK_EX), 0);
        EXPECT_TRUE(k->setString("while held", "held"));
        EXPECT_EQ(k->stringForKey("held"), "while held");
        EXPECT_TRUE(testing_support::inProcessesAtOnce(1, [&](int) {
            Data const d{'q'};
            return platform::Keychain::add(k->identifier(), d, d, d, {}) == platform::Keychain::kSuccess;
        }));
        auto notes = [] {
            return platform::regularFilesIn(platform::Keychain::directory(), [](auto const& n) { return n.ends_with(".pending"); });
        };
        ASSERT_EQ(notes().size(), 2u);  // this process's and the child's
        std::string const name = notes()[0].filename().string();
        std::ofstream(platform::Keychain::directory() / (name.substr(0, 42) + "00000000000000000001-0123456789abcdef-1.pending"))
            << "damaged";
        Data value;
        EXPECT_EQ(platform::Keychain::copyMatching(k->identifier(), Data{'q'}, value), platform::Keychain::kSuccess);
        EXPECT_FALSE(platform::Keychain::foldNotes());
        ::close(held);
        EXPECT_TRUE(k->setString("after", "next"));
        EXPECT_TRUE(notes().empty());
        EXPECT_EQ(platform::Keychain::copyMatching(k->identifier(), Data{'q'}, value), platform::Keychain::kSuccess);
        EXPECT_EQ(k->stringForKey("held"), "while held");
    }
    // A service's items stay small: a change that would take them past the limit is refused, the
    // lock held or free, and what was there stays.
    {
        using platform::Keychain;
        Data const big(Keychain::kMaxItemsSize, 'b'), half(Keychain::kMaxItemsSize / 2, 'h'), more(half.size() + 999, 'm');
        EXPECT_EQ(Keychain::add("sizes", Data{'a'}, {}, big, {}), Keychain::kIoError);
        ASSERT_EQ(Keychain::add("sizes", Data{'a'}, {}, half, {}), Keychain::kSuccess);
        int const held = ::open((Keychain::directory() / "keychain.lock").c_str(), O_RDWR | O_CLOEXEC);
        ASSERT_EQ(::flock(held, LOCK_EX), 0);
        EXPECT_EQ(Keychain::add("sizes", Data{'b'}, {}, half, {}), Keychain::kIoError);
        EXPECT_EQ(Keychain::update("sizes", Data{'a'}, more), Keychain::kSuccess);
        ::close(held);
        EXPECT_EQ(Keychain::add("sizes", Data{'b'}, {}, half, {}), Keychain::kIoError);
        Data value;
        EXPECT_EQ(Keychain::copyMatching("sizes", Data{'a'}, value), Keychain::kSuccess);
        EXPECT_EQ(value, more);
        EXPECT_EQ(Keychain::copyMatching("sizes", Data{'b'}, value), Keychain::kItemNotFound);

        // Copies that find the lock held, each in a process of its own: a change is refused beside
        // every note there, however large the notes a view's round passes over. What copies that
        // changed items at once were told was kept is folded in, past the limit, and then a change
        // that makes the items smaller is taken, one that makes them larger is not.
        Data const third(Keychain::kMaxItemsSize / 3 + 1000, 't');
        auto const addIn = [&](char account) {
            return testing_support::inProcessesAtOnce(1, [&](int) {
                return Keychain::add("copies", Data{uint8_t(account)}, {}, third, {}) == Keychain::kSuccess;
            });
        };
        auto const notes = [] { return platform::regularFilesIn(Keychain::directory(), [](auto const& n) { return n.ends_with(".pending"); }); };
        int const holder = ::open((Keychain::directory() / "keychain.lock").c_str(), O_RDWR | O_CLOEXEC);
        ASSERT_EQ(::flock(holder, LOCK_EX), 0);
        EXPECT_TRUE(addIn('a'));
        EXPECT_TRUE(addIn('b'));
        EXPECT_FALSE(addIn('c'));
        // One that added 'c' at once with those: it saw neither note.
        std::filesystem::path const aside = dir / "aside";
        std::filesystem::create_directory(aside);
        for (auto const& note : notes()) std::filesystem::rename(note, aside / note.filename());
        EXPECT_TRUE(addIn('c'));
        for (auto const& note : std::filesystem::directory_iterator(aside))
            std::filesystem::rename(note.path(), Keychain::directory() / note.path().filename());
        // A process started meanwhile reads every item told kept, each note larger than a round.
        EXPECT_TRUE(testing_support::inProcessesAtOnce(1, [&](int) {
            Data read;
            for (char account : {'a', 'b', 'c'})
                if (Keychain::copyMatching("copies", Data{uint8_t(account)}, read) != Keychain::kSuccess || read != third) return false;
            return true;
        }));
        ::close(holder);
        EXPECT_TRUE(Keychain::foldNotes());
        EXPECT_TRUE(notes().empty());
        for (char account : {'a', 'b', 'c'}) {
            EXPECT_EQ(Keychain::copyMatching("copies", Data{uint8_t(account)}, value), Keychain::kSuccess) << account;
            EXPECT_EQ(value, third);
        }
        EXPECT_EQ(Keychain::add("copies", Data{'d'}, {}, Data{'d'}, {}), Keychain::kIoError);
        EXPECT_EQ(Keychain::update("copies", Data{'a'}, Data(third.size() - 1, 's')), Keychain::kSuccess);
        EXPECT_EQ(Keychain::remove("copies", Data{'b'}), Keychain::kSuccess);
        EXPECT_EQ(Keychain::add("copies", Data{'d'}, {}, Data{'d'}, {}), Keychain::kSuccess);

        // An item far past the limit (33 MiB) is refused before it is copied, the lock free or
        // held: the process's peak grows by little beyond the value held.
        Data const huge(33u << 20, 'z');
        for (bool const held : {false, true}) {
            int const fd = ::open((Keychain::directory() / "keychain.lock").c_str(), O_RDWR | O_CLOEXEC);
            ASSERT_EQ(::flock(fd, held ? LOCK_EX : LOCK_UN), 0);
            size_t const grown = testing_support::peakResidentGrowth([&] {
                EXPECT_EQ(Keychain::add("copies", Data{'h'}, {}, huge, {}), Keychain::kIoError);
                EXPECT_EQ(Keychain::update("copies", Data{'d'}, huge), Keychain::kIoError);
                EXPECT_FALSE(k->setData(&huge, "huge"));
            });
            EXPECT_LT(grown, 16u << 20) << held;
            ::close(fd);
        }
        EXPECT_EQ(Keychain::copyMatching("copies", Data{'h'}, value), Keychain::kItemNotFound);
        EXPECT_EQ(Keychain::copyMatching("copies", Data{'d'}, value), Keychain::kSuccess);
        EXPECT_EQ(value, Data{'d'});

        // However many large notes come before it while another process holds the lock, more than
        // a view keeps: 45 updates of 700 KB, then an add, each a success. A new process reads the
        // latest value and finds the add, and so does one once the lock is free and they are folded.
        ASSERT_EQ(Keychain::add("large", Data{'a'}, {}, Data{'0'}, {}), Keychain::kSuccess);
        int const largeHolder = ::open((Keychain::directory() / "keychain.lock").c_str(), O_RDWR | O_CLOEXEC);
        ASSERT_EQ(::flock(largeHolder, LOCK_EX), 0);
        constexpr int kUpdates = 45;
        auto const valueOf = [](int update) {
            Data v(700'000, uint8_t('v'));
            v[0] = uint8_t(update);
            return v;
        };
        for (int update = 1; update <= kUpdates; ++update)
            ASSERT_EQ(Keychain::update("large", Data{'a'}, valueOf(update)), Keychain::kSuccess) << update;
        EXPECT_EQ(Keychain::add("large", Data{'b'}, {}, Data{'b'}, {}), Keychain::kSuccess);
        auto const newReaderSees = [&] {
            return testing_support::inProcessesAtOnce(1, [&](int) {
                Data read;
                return Keychain::copyMatching("large", Data{'a'}, read) == Keychain::kSuccess && read == valueOf(kUpdates) &&
                       Keychain::copyMatching("large", Data{'b'}, read) == Keychain::kSuccess && read == Data{'b'};
            });
        };
        EXPECT_TRUE(newReaderSees());
        ::close(largeHolder);
        EXPECT_TRUE(Keychain::foldNotes());
        EXPECT_TRUE(notes().empty());
        EXPECT_TRUE(newReaderSees());
    }
    // A lock file that is a dangling link is not followed: nothing is made at its far end.
    std::filesystem::remove(platform::Keychain::directory() / "keychain.lock");
    std::filesystem::create_symlink(platform::Keychain::directory() / "elsewhere", platform::Keychain::directory() / "keychain.lock");
    EXPECT_TRUE(k->setString("v", "after link"));
    EXPECT_FALSE(std::filesystem::exists(platform::Keychain::directory() / "elsewhere"));
    std::filesystem::remove(platform::Keychain::directory() / "keychain.lock");

    // Opt-out lives in the keychain, apart from the agent's files.
    EXPECT_FALSE(TallyUtil::hasUserOptedOut());
    TallyUtil::setTallyOptOut(true);
    EXPECT_TRUE(TallyUtil::hasUserOptedOut());
    TallyUtil::setTallyOptOut(false);
    EXPECT_FALSE(TallyUtil::hasUserOptedOut());
}

// Keychain notes are folded in exactly once, whatever step of a fold a kill strikes, and never over
// a newer change: an update written after a note keeps its value, be the note met again after the
// kill or made while the update was being written by a process that had not seen it.
TEST_F(AgentStore, KeychainNotesFoldOnceAndNeverOverANewerChangeWhereverAKillStrikes) {
    using platform::Keychain;
    auto bytes = [](std::string const& s) { return Data(s.begin(), s.end()); };
    auto items = [&](std::string const& service) {
        std::map<std::string, std::string> out;
        for (std::string const account : {"a", "new", "gone", "meanwhile"})
            if (Data v; Keychain::copyMatching(service, bytes(account), v) == Keychain::kSuccess) out[account] = std::string(v.begin(), v.end());
        return out;
    };
    auto notes = [] { return platform::regularFilesIn(Keychain::directory(), [](auto const& n) { return n.ends_with(".pending"); }); };
    auto const lockFile = Keychain::directory() / "keychain.lock";
    for (int kill = 1;; ++kill) {
        ASSERT_LT(kill, 50);
        std::string const service = "service " + std::to_string(kill);
        ASSERT_EQ(Keychain::add(service, bytes("a"), {}, bytes("v0"), {}), Keychain::kSuccess);
        ASSERT_EQ(Keychain::add(service, bytes("gone"), {}, bytes("x"), {}), Keychain::kSuccess);
        int held = ::open(lockFile.c_str(), O_RDWR | O_CLOEXEC);
        ASSERT_EQ(::flock(held, LOCK_EX), 0);
        ASSERT_TRUE(testing_support::inProcessesAtOnce(1, [&](int) {
            return Keychain::update(service, bytes("a"), bytes("v1")) == Keychain::kSuccess &&
                   Keychain::add(service, bytes("new"), {}, bytes("n"), {}) == Keychain::kSuccess &&
                   Keychain::remove(service, bytes("gone")) == Keychain::kSuccess;
        }));
        ASSERT_EQ(notes().size(), 3u);
        ::close(held);
        // Once the notes are read, another process notes a change while this one holds the lock.
        bool const finished = testing_support::inProcessWithAnother(
            [&] {
                return Keychain::update(service, bytes("a"), bytes("v1 meanwhile")) == Keychain::kSuccess &&
                       Keychain::add(service, bytes("meanwhile"), {}, bytes("m"), {}) == Keychain::kSuccess;
            },
            [&](auto const& meanwhile) {
                int step = 0;
                platform::NoteSet::setFaultHook([&](std::string const& notes) {
                    if (!notes.starts_with(Keychain::directory().string())) return;
                    if (++step == kill) ::raise(SIGKILL);
                    if (step == 2 && !meanwhile()) ::_exit(1);
                });
                return Keychain::update(service, bytes("a"), bytes("v2")) == Keychain::kSuccess;
            });
        // The third step comes once the file is written.
        bool const written = kill >= 3;
        EXPECT_EQ(finished, kill > 6) << kill;
        auto expected = std::map<std::string, std::string>{{"a", written ? "v2" : "v1"}, {"new", "n"}};
        if (written) expected["meanwhile"] = "m";
        // What a reader sees with the lock held (nothing folded) and what a fold leaves are the same.
        held = ::open(lockFile.c_str(), O_RDWR | O_CLOEXEC);
        ASSERT_EQ(::flock(held, LOCK_EX), 0);
        EXPECT_EQ(items(service), expected) << kill;
        ::close(held);
        EXPECT_TRUE(Keychain::foldNotes());
        EXPECT_EQ(items(service), expected) << kill;
        EXPECT_TRUE(notes().empty()) << kill;
        if (finished) break;
    }

    // Whatever the clocks did: an update made after reading v1 keeps v2, in this process's next
    // read too, though v1's copy had its clock 5 s or an hour ahead (its note named so, or folded
    // into the file with that stamp). A copy that named its note where stamps end left a damaged
    // one: removed, never applied. A stamp no clock gives in the file (as an older version may have
    // written, or a copy whose clock read past 2262) holds the item for nobody: the next change
    // wins, noted or written. One made by hand just short of the end refuses the change after it.
    using namespace std::chrono_literals;
    auto const lockHeld = [&] {
        int const held = ::open(lockFile.c_str(), O_RDWR | O_CLOEXEC);
        EXPECT_EQ(::flock(held, LOCK_EX), 0);
        return held;
    };
    auto const isNote = [](auto const& n) { return n.ends_with(".pending"); };
    for (auto const& clock : testing_support::copyClocks())
        for (bool const folded : {false, true}) {
            std::string const service = std::string("clock ") + clock.name + (folded ? " folded" : "");
            ASSERT_EQ(Keychain::add(service, bytes("a"), {}, bytes("v0"), {}), Keychain::kSuccess);
            int const held = lockHeld();
            ASSERT_TRUE(testing_support::inProcessesAtOnce(1, [&](int) {
                return Keychain::update(service, bytes("a"), bytes("v1")) == Keychain::kSuccess;
            }));
            ASSERT_EQ(testing_support::restampNotes(Keychain::directory(), isNote, clock.time), 1u);
            ASSERT_TRUE(!folded || (!::flock(held, LOCK_UN) && Keychain::foldNotes() && !::flock(held, LOCK_EX)));
            EXPECT_EQ(items(service)["a"], clock.damaged ? "v0" : "v1") << service;
            EXPECT_EQ(Keychain::update(service, bytes("a"), bytes("v2")), Keychain::kSuccess);
            EXPECT_EQ(items(service)["a"], "v2") << service;
            ::close(held);
            EXPECT_TRUE(Keychain::foldNotes());
            EXPECT_EQ(items(service)["a"], "v2") << service;
            EXPECT_TRUE(platform::regularFilesIn(Keychain::directory(), isNote).empty()) << service;

            auto const file = Keychain::directory() / (platform::hexString(platform::sha1(reinterpret_cast<uint8_t const*>(service.data()), service.size())) + ".item");
            auto const stampFile = [&](std::string const& stamp) {
                auto stored = platform::KeyedArchive::readFromFile(file);
                ASSERT_EQ(stored.status, platform::KeyedArchive::ReadResult::Read);
                for (auto& [account, id] : *(*stored.value.dict())["changed"].map()) id = platform::Value(stamp);
                Data const archive = platform::KeyedArchive::encode(stored.value);
                ASSERT_TRUE(platform::writeFileAtomically(file, archive.data(), archive.size(), nullptr, 0600));
            };
            int version = 3;
            for (char const* time : {testing_support::kTimesNoClockGives[0], testing_support::kTimesNoClockGives[3]}) {
                stampFile(std::string(time) + "-ffffffffffffffff-1");
                int const again = folded ? -1 : lockHeld();
                std::string const value = "v" + std::to_string(version++);
                EXPECT_EQ(Keychain::update(service, bytes("a"), bytes(value)), Keychain::kSuccess);
                if (again >= 0) ::close(again);
                EXPECT_TRUE(Keychain::foldNotes());
                EXPECT_EQ(items(service)["a"], value) << service << " " << time;
            }
            stampFile(std::to_string(testing_support::kStampsEnd - 1).insert(0, 1, '0') + "-ffffffffffffffff-1");
            int const again = folded ? -1 : lockHeld();
            testing::internal::CaptureStderr();
            EXPECT_EQ(Keychain::update(service, bytes("a"), bytes("refused")), Keychain::kIoError);
            EXPECT_NE(testing::internal::GetCapturedStderr().find("leave no room"), std::string::npos);
            if (again >= 0) ::close(again);
            EXPECT_TRUE(Keychain::foldNotes());
            EXPECT_EQ(items(service)["a"], "v4") << service;
        }
}

// Keychain notes another account left (unreadable here) are passed over: a fold ends, folds the
// notes after them and says so once. A pile folds in rounds, and a caller, a fork and the SDK's
// loop each get in between them.
TEST_F(AgentStore, KeychainNotesThatCannotBeReadArePassedOverAndOthersGoBetweenTheRoundsOfAPile) {
    using platform::Keychain;
    auto bytes = [](std::string const& s) { return Data(s.begin(), s.end()); };
    auto notes = [] { return platform::regularFilesIn(Keychain::directory(), [](auto const& n) { return n.ends_with(".pending"); }); };
    auto value = [&](std::string const& account) {
        Data v;
        return Keychain::copyMatching("service", bytes(account), v) == Keychain::kSuccess ? std::string(v.begin(), v.end()) : "";
    };
    // Set once, before any fold of this test, since folds of other threads read it: while
    // watching, counts the steps of a fold (a note folded is one) and holds the first round of a
    // pile until a caller comes.
    static std::atomic<bool> watching{false}, folding{false}, calling{false};
    static std::atomic<size_t> steps{0};
    static std::string watched;  // written only while not watching
    static bool const hooked = (platform::NoteSet::setFaultHook([](std::string const& at) {
        if (!watching || !at.starts_with(watched)) return;
        ++steps;
        if (folding.exchange(true)) return;
        for (int i = 0; i < 10'000 && !calling; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));  // the caller waits for the lock
    }), true);
    ASSERT_TRUE(hooked);
    watched = Keychain::directory().string();
    folding = calling = false;
    // A retry runs only when the test moves the loop's clock: a pile's fold has one thread. One an
    // earlier case left runs first (for its own folder).
    platform::SdkLoop::shared().setVirtualClock(true);
    platform::SdkLoop::shared().advance(1000);
    struct RealClockAfter {
        ~RealClockAfter() { platform::SdkLoop::shared().setVirtualClock(false); }
    } const realClockAfter;
    ASSERT_EQ(Keychain::add("service", bytes("a"), {}, bytes("v0"), {}), Keychain::kSuccess);
    int const held = ::open((Keychain::directory() / "keychain.lock").c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    // Copies of the latest note, ".<stem>.<20 digits>-<tag>-<pid>.pending".
    auto copies = [&](int n) { return testing_support::noteCopies(notes().back(), 42, n); };
    ASSERT_EQ(Keychain::add("service", bytes("before"), {}, bytes("b"), {}), Keychain::kSuccess);
    auto const theirs = copies(1001);
    testing::internal::CaptureStderr();
    {
        testing_support::AnotherAccountsFiles as(dir.path(), theirs);
        ASSERT_TRUE(as.ok());
        ASSERT_EQ(Keychain::add("service", bytes("after"), {}, bytes("c"), {}), Keychain::kSuccess);
        ::close(held);
        EXPECT_TRUE(Keychain::foldNotes());
        EXPECT_EQ(notes().size(), theirs.size());
        EXPECT_TRUE(Keychain::foldNotes());
        EXPECT_EQ(value("before") + value("after"), "bc");

        // A start's fold of a pile lets a caller and a fork in after the round under way.
        watching = true;
        int lock = ::open((Keychain::directory() / "keychain.lock").c_str(), O_RDWR | O_CLOEXEC);
        ASSERT_EQ(::flock(lock, LOCK_EX), 0);
        ASSERT_EQ(Keychain::update("service", bytes("a"), bytes("pile")), Keychain::kSuccess);
        auto pile = copies(8000);
        ::close(lock);
        std::thread start([] { EXPECT_TRUE(Keychain::foldNotes()); });
        while (!folding) std::this_thread::yield();
        calling = true;
        EXPECT_EQ(value("a"), "pile");
        EXPECT_GT(notes().size(), theirs.size()) << "the caller waited for the whole pile";
        pid_t child = ::fork();
        if (child == 0) ::_exit(0);
        EXPECT_GT(notes().size(), theirs.size()) << "the fork waited for the whole pile";
        ASSERT_GT(child, 0);
        ::waitpid(child, nullptr, 0);
        start.join();
        EXPECT_EQ(notes().size(), theirs.size());

        // A fork long after any call waits for the round under way and perhaps the next, however
        // many are left: the child tells how many notes were folded since the fork was asked for.
        // Notes of some 40 KB make rounds of a few.
        ASSERT_EQ(::flock(lock = ::open((Keychain::directory() / "keychain.lock").c_str(), O_RDWR | O_CLOEXEC), LOCK_EX), 0);
        ASSERT_EQ(Keychain::update("service", bytes("a"), bytes(std::string(30'000, 'f'))), Keychain::kSuccess);
        pile = copies(1000);
        ::close(lock);
        size_t const round = platform::NoteSet::kRoundBytes / std::filesystem::file_size(pile.front()) + 1 + 3;  // its steps
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        size_t const before = steps;
        start = std::thread([] { EXPECT_TRUE(Keychain::foldNotes()); });
        while (steps == before) std::this_thread::yield();
        for (int i = 0; i < 20; ++i) {
            size_t const asked = steps;
            child = ::fork();
            if (child == 0) ::_exit(int(std::min<size_t>(steps - asked, 255)));
            ASSERT_GT(child, 0);
            int status = 0;
            ASSERT_EQ(::waitpid(child, &status, 0), child);
            EXPECT_LE(size_t(WEXITSTATUS(status)), 3 * round) << "the fork waited for more rounds";
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        start.join();
        EXPECT_EQ(notes().size(), theirs.size());
        EXPECT_EQ(value("a"), std::string(30'000, 'f'));

        // A retry on the SDK's loop folds a round there, and the loop goes on with its jobs.
        watching = false;
        ASSERT_EQ(::flock(lock = ::open((Keychain::directory() / "keychain.lock").c_str(), O_RDWR | O_CLOEXEC), LOCK_EX), 0);
        ASSERT_EQ(Keychain::update("service", bytes("a"), bytes("retried")), Keychain::kSuccess);
        pile = copies(10'000);
        ::close(lock);
        size_t seen = 0;  // by a job due with the retry, after it
        platform::SdkLoop::shared().after(1000, [&] { seen = notes().size(); });
        platform::SdkLoop::shared().advance(1000);
        EXPECT_GT(seen, theirs.size() + 5000) << "the loop's job waited for the whole pile";
        for (int i = 0; i < 6000 && notes().size() > theirs.size(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_EQ(notes().size(), theirs.size());
        EXPECT_EQ(value("a"), "retried");
        platform::SdkLoop::shared().setVirtualClock(false);
    }
    std::string const err = testing::internal::GetCapturedStderr();
    size_t lines = 0;
    for (size_t at = 0; (at = err.find("cannot be read now", at)) != std::string::npos; ++at) ++lines;
    EXPECT_EQ(lines, 1u) << err;
}

TEST_F(AgentStore, CookiesChangeOnlyWhenTheyDifferUpToTheCap) {
    Data const v1{1}, v2{2}, empty;
    EXPECT_TRUE(TallyUtil::updateIfChangedCookieValue(&v1, "session"));
    EXPECT_FALSE(TallyUtil::updateIfChangedCookieValue(&v1, "session"));
    EXPECT_TRUE(TallyUtil::updateIfChangedCookieValue(&v2, "session"));
    EXPECT_TRUE(TallyUtil::updateIfChangedCookieValue(&empty, "session"));
    EXPECT_TRUE(TallyUtil::updateIfChangedCookieValue(nullptr, "never-there"));
    EXPECT_TRUE(read(M::Cookies).empty());

    maps()->processWriteOperationForPersistentCookiesMapSync([](Value::Dict& d) {
        for (int i = 0; i < 1000; ++i) d["c" + std::to_string(i)] = Value(Data{0});
    });
    EXPECT_FALSE(TallyUtil::updateIfChangedCookieValue(&v1, "new"));
    EXPECT_TRUE(TallyUtil::updateIfChangedCookieValue(&v1, "c5"));
    EXPECT_EQ(read(M::Cookies).size(), 1000u);
}

TEST_F(AgentStore, SettingsKeysAndPersistentValues) {
    EXPECT_EQ(TallyGlobalVariableStorage::apiKeyHash(), 0);
    settings()->setApiKey(" AB CD\tEF ");
    EXPECT_EQ(settings()->apiKey(), "ABCD\tEF");
    settings()->setApiKey("abc");
    EXPECT_EQ(TallyGlobalVariableStorage::apiKeyHash(), 0x352441C2);
    EXPECT_EQ(TallyGlobalVariableStorage::persistentGlobalsFilePath().filename(),
              ".tallyPropertiesData891568578_189.archive");

    EXPECT_EQ(settings()->maxBitRateKbps(), 500);
    for (int32_t stored : {0, -4}) {
        settings()->setMaxBitRateKbps(stored);
        EXPECT_EQ(settings()->maxBitRateKbps(), 500);
    }
    settings()->setMaxBitRateKbps(64);
    EXPECT_EQ(settings()->maxBitRateKbps(), 64);
    EXPECT_TRUE(settings()->lastAdTrackingEnabledSetting());
    EXPECT_EQ(read(M::Globals)["isAdTrackingEnabled"], Value(true));  // the first read stores it
    settings()->setGuidAsIDForSessionReports(Value("guid"));
    EXPECT_EQ(settings()->guidAsIDForSessionReports(), Value("guid"));
    settings()->setGuidAsIDForSessionReports(std::nullopt);
    EXPECT_FALSE(settings()->guidAsIDForSessionReports());
    EXPECT_FALSE(settings()->analyticsEnabled());
    EXPECT_EQ(settings()->logLevel(), 0);
}

TEST_F(AgentStore, SessionPropertiesAndOrigins) {
    auto props = [](int n, std::string const& prefix = "p") {
        Value::Dict d;
        for (int i = 0; i < n; ++i) d[prefix + std::to_string(i)] = Value(int64_t{i});
        return d;
    };
    settings()->recordSessionProperties(props(20));
    EXPECT_FALSE(settings()->sessionParameters());
    settings()->recordSessionProperties(props(19));
    EXPECT_EQ(settings()->sessionParameters()->size(), 19u);
    settings()->recordSessionProperties(std::nullopt);
    EXPECT_FALSE(settings()->sessionParameters());

    // One entry is replaced; two or more are merged, up to the limit.
    settings()->recordSessionProperties(props(1, "a"));
    settings()->recordSessionProperties(props(2, "b"));
    EXPECT_EQ(*settings()->sessionParameters(), props(2, "b"));
    settings()->recordSessionProperties(props(3, "c"));
    EXPECT_EQ(settings()->sessionParameters()->size(), 5u);
    // The merge stops after the entry that reaches the limit and keeps it: 20 entries.
    settings()->recordSessionProperties(props(18, "d"));
    EXPECT_EQ(settings()->sessionParameters()->size(), 20u);

    // A stored configuration without "max_session_properties" refuses everything.
    auto pulse = std::make_shared<TallyPulseSettings>();
    maps()->processWriteOperationForPersistentGlobalsMap([&](Value::Dict& d) { d["pulseSettings"] = Value(pulse); });
    settings()->recordSessionProperties(std::nullopt);
    settings()->recordSessionProperties(props(1));
    EXPECT_FALSE(settings()->sessionParameters());
    pulse->setAnalytics({{"max_session_properties", Value(int64_t{3})}});
    settings()->recordSessionProperties(props(2));
    EXPECT_EQ(settings()->sessionParameters()->size(), 2u);

    settings()->recordOrigin("one", "1", Value::Dict{{"x", Value("y")}});
    settings()->recordOrigin("two", "1", std::nullopt);
    settings()->recordOrigin("one", "2", Value::Dict{{"tallyOriginVersion", Value("override")}});
    settings()->recordOrigin("big", "1", props(10));  // the version entry makes 11
    settings()->recordOrigin("", "1", std::nullopt);
    auto const sets = settings()->originSets();
    ASSERT_EQ(sets.size(), 2u);
    EXPECT_EQ(*sets[0].find("originName")->string(), "two");
    EXPECT_EQ(*sets[1].find("parameters"), Value(Value::Dict{{"tallyOriginVersion", Value("override")}}));
    EXPECT_FALSE(settings()->isPartnerIntegration());
    settings()->recordOrigin("Tally_Partner_iOS", "1", std::nullopt);
    EXPECT_TRUE(settings()->isPartnerIntegration());
}

TEST_F(AgentStore, BuilderAppliesItsFieldsThroughTheSetters) {
    TallySessionBuilder fresh;
    TallyUtil::setLogLevel(2);
    TallyUtil::setShowErrorInLogEnabled(true);
    settings()->setCrashReportingEnabled(true);
    fresh.build();
    EXPECT_EQ(TallyUtil::logLevel(), 1);
    EXPECT_FALSE(TallyUtil::showErrorInLogEnabled());
    EXPECT_FALSE(settings()->crashReportingEnabled());
    EXPECT_EQ(Tally::sessionContinueSeconds(), 10);

    TallySessionBuilder b;
    b.withAppVersion("2.0").withSessionContinueSeconds(0).withLogLevel(2).withCrashReporting(true);
    b.build();
    EXPECT_EQ(Tally::sessionContinueSeconds(), 0);
    EXPECT_EQ(settings()->appVersion(), "2.0");
    EXPECT_TRUE(settings()->crashReportingEnabled());
    TallyUtil::setLogLevel(1);

    Tally::startSession("key");
    TallySessionBuilder late;
    late.withAppVersion("3.0").build();  // after start: refused
    EXPECT_EQ(settings()->appVersion(), "2.0");

    Tally::setMaxSessionsSaved(5);
    EXPECT_EQ(TallySessionInfo::maxSessions(), 5);
    TallySessionInfo::setMaxSessions(50);
}
