// Stored sessions, the binary report and sending, in a fresh data folder on a set clock.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <csignal>
#include <functional>

#include "analytics/agent/TallyAutoIncrement.h"
#include "analytics/agent/TallyClock.h"
#include "analytics/agent/TallyGlobalPersistentManager.h"
#include "analytics/agent/TallyGlobalVariableStorage.h"
#include "analytics/agent/TallyKeychainWrapper.h"
#include "analytics/agent/TallyPulseSettings.h"
#include "analytics/agent/TallySession.h"
#include "analytics/agent/TallySessionInfo.h"
#include "analytics/agent/TallyUtil.h"
#include "analytics/agent/TallyiOSUtil.h"
#include "analytics/agent/tests/SessionBlockReader.h"
#include "analytics/delivery/TallyDataSender.h"
#include "analytics/delivery/TallyDataSenderIndex.h"
#include "analytics/delivery/TallyDeliveryAgent.h"
#include "platform/base/AtomicFile.h"
#include "platform/base/DeviceFacts.h"
#include "platform/base/NoteSet.h"
#include "platform/base/Directories.h"
#include "platform/base/KeyedArchive.h"
#include "platform/base/WorkQueue.h"
#include "testing/TestPaths.h"

namespace {

// Writes any fields under the session's class name, as another build or a damaged file might.
class Forged : public platform::Archivable {
public:
    explicit Forged(Value::Dict f) : fields(std::move(f)) {}
    std::string className() const override { return TallySession::kClassName; }
    void encodeWith(platform::ArchiveEncoder& e) const override {
        for (auto const& [k, v] : fields) e.encode(k, v);
    }
    Value::Dict fields;
};

Value::Dict fieldsOf(TallySession const& s) {
    platform::ArchiveEncoder e;
    return s.encodeWith(e), e.fields();
}

std::shared_ptr<TallySession> reread(Value::Dict fields) {
    TallyUtil::registerArchiveClasses();
    auto v = platform::KeyedArchive::decode(platform::KeyedArchive::encode(Value(std::make_shared<Forged>(fields))));
    return v ? v->objectAs<TallySession>() : nullptr;
}

uint32_t crc(Data const& d, size_t n) { return uint32_t(::crc32(0L, d.data(), uInt(n))); }

class Store : public ::testing::Test {
protected:
    void SetUp() override {
        platform::Directories::setRootOverride(dir.path());
        TallyClock::setSource([this] { return platform::Date{now}; });
        TallyAutoIncrement::instance()->resetAll();
        TallyGlobalVariableStorage::sharedInstance()->setApiKey("KEY");
    }
    void TearDown() override {
        TallyDataSender::cleanup();
        TallySession::resetStoreForTesting();
        TallySessionInfo::setMaxSessions(50);
        TallyGlobalPersistentManager::cleanup();
        TallyGlobalVariableStorage::cleanup();
        platform::DeviceFacts::setSystemVersion(std::nullopt);
        TallyiOSUtil::resetSystemVersionCache();
        TallyClock::setSource(nullptr);
        platform::Directories::setRootOverride(std::nullopt);
    }
    std::shared_ptr<TallySession> start() {
        TallyPreCacheEventManager::PreCacheLog none;
        return TallySession::sessionWithApiKey("KEY", platform::Date{now}, none);
    }
    testing_support::TempDir dir;
    double now = 1700000000.0;
};

}  // namespace

TEST_F(Store, ArchiveRoundTripVersionsAndLimits) {
    auto s = start();
    s->recordEvent(std::string("a"), Value::Dict{{"k", Value("v")}});
    s->recordEvent(std::string("b"), std::nullopt, true);
    s->recordError(std::string("e"), std::string("m"), std::string("x"), 2, std::nullopt);
    s->setUserID(std::string("user"));
    s->saveToDisk();
    auto back = TallySession::unarchiveCurrentSession();
    ASSERT_TRUE(back);
    EXPECT_EQ(back->publishedEventLogCount(), 2u);
    s->data();  // tracked marks settle at "unchanged"
    EXPECT_EQ(*back->data(), *s->data());  // every reported field came back

    Value::Dict f = fieldsOf(*s);
    for (int version : {0, 9}) {
        f["serializationVersion"] = Value(version);
        auto r = reread(f);
        ASSERT_TRUE(r) << version;
        EXPECT_EQ(r->serializationVersion(), version);
        EXPECT_EQ(block_reader::readBlock(*r->data()).version, version);  // 0 until saved again
    }
    f.erase("serializationVersion");
    EXPECT_TRUE(reread(f));
    for (int version : {8, 10}) {
        f["serializationVersion"] = Value(version);
        EXPECT_FALSE(reread(f)) << version;
    }
    f["serializationVersion"] = Value(9);
    f.erase("startTime");
    EXPECT_FALSE(reread(f));

    // Over the limits the archive is refused whole; at them it is taken.
    auto over = [&](char const* key, int n, bool errors) {
        Value::Dict g = fieldsOf(*s), counts;
        Value::Array a;
        for (int i = 0; i < n; ++i) {
            counts["n" + std::to_string(i)] = Value(1);
            a.push_back(errors ? Value(TallyError::errorWithString("e", "m", "x", 2, {}))
                               : Value(std::make_shared<TallyEvent>("e")));
        }
        g[key] = std::string(key) == "eventCounts" ? Value(counts) : Value(a);
        return reread(g) != nullptr;
    };
    EXPECT_TRUE(over("eventCounts", 100, false) && over("eventLog", 1000, false) && over("errors", 10, true));
    EXPECT_FALSE(over("eventCounts", 101, false) || over("eventLog", 1001, false) || over("errors", 11, true));

    // A truncated file reads as none and, read whole, is removed; a file of another class too.
    auto path = TallySession::currentSessionFilePath();
    auto bytes = platform::KeyedArchive::encode(Value(s));
    bytes.resize(bytes.size() / 2);
    platform::writeFileAtomically(path, bytes.data(), bytes.size());
    EXPECT_FALSE(TallySession::unarchiveCurrentSession());
    EXPECT_FALSE(std::filesystem::exists(path));
    TallyUtil::archiveObject(Value(Value::Array{}), path);
    EXPECT_FALSE(TallySession::unarchiveCurrentSession());
}

TEST_F(Store, SessionBlockFields) {
    auto s = start();
    auto running = block_reader::readBlock(*s->data());
    EXPECT_EQ(running.length, -1);
    EXPECT_EQ(running.start, 1700000000000);
    EXPECT_EQ(running.params.at("device.locale").first, s->locale());

    // A leftover session with crash data and errors 4 and 7: one more error, the crash entry 8.
    Value::Dict f = fieldsOf(*s);
    auto e4 = TallyError::errorWithString("four", "m", "x", 2, {});
    auto e7 = TallyError::errorWithString("seven", "m", "x", 1, Data{9});
    e4->setErrorID(4);
    e7->setErrorID(7);
    f["errors"] = Value(Value::Array{Value(e4), Value(e7)});
    f["totalErrorCount"] = Value(5);
    f["crashReportData"] = Value(Data{0xC0, 0xDE});
    f["endTime"] = Value(platform::Date{1700000002.5});
    auto crashed = reread(f);
    ASSERT_TRUE(crashed);
    auto b = block_reader::readBlock(*crashed->data());
    EXPECT_EQ(b.length, 2500);
    EXPECT_EQ(b.totalErrors, 6);
    ASSERT_EQ(b.errors.size(), 3u);
    EXPECT_EQ(b.errors[0].id, 4);
    EXPECT_EQ(b.errors[1].report, Data{9});
    EXPECT_EQ(b.errors[2].id, 8);
    EXPECT_EQ(b.errors[2].type, 3);
    EXPECT_EQ(b.errors[2].report, (Data{0xC0, 0xDE}));

    // The minimal tail bytes: log complete, totals, the reserved words and no transactions.
    auto bytes = *s->data();
    EXPECT_EQ(Data(bytes.end() - 19, bytes.end()), (Data{1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST_F(Store, ReportHeaderIdentifiersMarksCapsAndChecksum) {
    auto s = start();
    platform::DeviceFacts::setSystemVersion("6.1.0-18-amd64");
    TallyiOSUtil::resetSystemVersionCache();
    auto st = TallyGlobalVariableStorage::sharedInstance();
    Value::Array origins(70000, Value(Value::Dict{{"originName", Value("o")}, {"parameters", Value(Value::Dict{})}}));
    st->setOriginSets(origins);
    TallyGlobalPersistentManager::sharedInstance()->processWriteOperationForPersistentCookiesMapSync([](Value::Dict& m) {
        m["small"] = Value(Data{1, 2});
        m["huge"] = Value(Data(70000, 7));
    });

    Data const block = *s->data();
    auto body = s->dataForSessions(std::vector<std::optional<Data>>{block, std::nullopt, block});
    ASSERT_TRUE(body);
    auto r = block_reader::readReport(*body);
    EXPECT_EQ(r.blocks.size(), 2u);  // the session without a block is not counted
    EXPECT_EQ(r.ids[15], TallySession::installationIDAsBytes());  // stable
    EXPECT_EQ(r.ids[15].size(), 16u);
    EXPECT_EQ(r.installed, 1700000000000);
    EXPECT_EQ(r.cookies.size(), 1u);  // the oversized cookie is skipped, the count says so
    EXPECT_EQ(r.device.at("device.arch").first, platform::DeviceFacts::machine());
    EXPECT_EQ(r.device.at("device.os.version").second, 1);  // first sight
    EXPECT_EQ(r.device.at("bnd.ver").second, 0);            // not tracked
    EXPECT_EQ(r.checksum, crc(*body, r.checksumAt));
    (*body)[20] ^= 1;
    EXPECT_NE(crc(*body, r.checksumAt), r.checksum);

    r = block_reader::readReport(*s->dataForSessions(std::vector<Data>{block}));
    EXPECT_EQ(r.device.at("device.os.version").second, 2);  // unchanged since
    EXPECT_EQ(block_reader::readBlock(*s->data()).params.at("device.locale").second, 2);

    // Above 69999 the installation id is left out and counted out.
    platform::DeviceFacts::setSystemVersion("7.0.0");
    TallyiOSUtil::resetSystemVersionCache();
    r = block_reader::readReport(*s->dataForSessions(std::vector<Data>{block}));
    EXPECT_FALSE(r.ids.count(15));
    EXPECT_EQ(r.ids.count(6), 1u);  // the vendor id is always there
}

TEST_F(Store, SavedSessionsTimestampAndInstallationId) {
    // Trimmed to the maximum, oldest first.
    for (int i = 0; i < 52; ++i) {
        now = 1000.0 + i;
        TallySession::removeCurrentSessionFile();
        TallySession::addToSavedSessions(start());
    }
    auto saved = TallySession::savedSessions();
    ASSERT_EQ(saved.size(), 50u);
    EXPECT_EQ(block_reader::readBlock(saved[0]).start, 1002000);
    EXPECT_EQ(block_reader::readBlock(saved[49]).start, 1051000);
    Data junk{1, '{'};
    platform::writeFileAtomically(TallySession::sessionsFilePath(), junk.data(), junk.size());
    EXPECT_TRUE(TallySession::savedSessions().empty());
    // Two faults: a damaged file that cannot be kept aside (a folder takes ".bad") is left as it is.
    std::filesystem::path const path = TallySession::sessionsFilePath(), bad = path.string() + ".bad", held = path.string() + ".held";
    auto ended = [&] { TallySession::removeCurrentSessionFile(); TallySession::addToSavedSessions(start()); };
    std::filesystem::create_directory(bad);
    ended();
    EXPECT_EQ(platform::readWholeFile(path, 100).bytes, junk);
    EXPECT_EQ(TallySession::savedSessions().size(), 1u);  // the session waits beside it
    std::filesystem::remove(bad);
    ended();
    EXPECT_EQ(platform::readWholeFile(bad, 100).bytes, junk);
    EXPECT_EQ(TallySession::savedSessions().size(), 2u);
    // A file that cannot be read (a folder) and a folder taking ".held": the session is said lost.
    std::filesystem::remove(path);
    for (auto const& p : {path, held}) std::filesystem::create_directory(p);
    std::string log;
    TallyUtil::setLogObserver([&](std::string const& l) { log += l; });
    ended();
    TallyUtil::setLogObserver(nullptr);
    EXPECT_NE(log.find("1 saved session(s) lost"), std::string::npos);
    EXPECT_EQ(log.find("kept beside it"), std::string::npos);

    // The initial timestamp: made from the start once, then from the keychain.
    now = 5000;
    auto s = start();
    EXPECT_EQ(s->initialTimestamp().secondsSince1970, 5000);
    now = 6000;
    EXPECT_EQ(start()->initialTimestamp().secondsSince1970, 5000);
    // A key change makes it anew.
    EXPECT_EQ(TallySession::initialTimestampFor("OTHER", platform::Date{6000}).secondsSince1970, 6000);

    // Legacy: an empty keychain takes the old folder's file, stores it, then deletes it.
    TallyKeychainWrapper::keychainWrapperWithIdentifier("com.tally.analytics")->removeObjectForKey("");
    auto old = TallySession::oldInitialTimestampFilePathUptilAgentVersion109();
    std::filesystem::create_directories(old.parent_path());
    TallyUtil::archiveObject(Value(platform::Date{1234}), old);
    EXPECT_EQ(start()->initialTimestamp().secondsSince1970, 1234);
    EXPECT_FALSE(std::filesystem::exists(old));
    EXPECT_TRUE(std::filesystem::exists(TallySession::initialTimestampFilePath()));
    std::filesystem::remove(TallySession::initialTimestampFilePath());
    EXPECT_EQ(start()->initialTimestamp().secondsSince1970, 1234);  // now from the keychain

    // A keychain item of the wrong type reads as absent and is made anew.
    TallyKeychainWrapper::keychainWrapperWithIdentifier("com.tally.analytics")->setObject(Value(7), "TallySessionTimestampKey");
    EXPECT_EQ(TallySession::initialTimestampFor("KEY", platform::Date{7000}).secondsSince1970, 7000);

    // The installation id: one per install, moved in from the settings when kept there.
    std::string const id = TallySession::installationIDForSessionReport();
    EXPECT_EQ(TallySession::installationIDForSessionReport(), id);
    TallyGlobalVariableStorage::sharedInstance()->setGuidAsIDForSessionReports(Value("11111111-2222-3333-4444-555555555555"));
    EXPECT_EQ(TallySession::installationIDForSessionReport(), "11111111-2222-3333-4444-555555555555");
    EXPECT_FALSE(TallyGlobalVariableStorage::sharedInstance()->guidAsIDForSessionReports());
    TallySession::removeInstallationIDFromKeychain();
    EXPECT_NE(TallySession::installationIDForSessionReport(), "11111111-2222-3333-4444-555555555555");
}

// Sessions kept in notes while another process held the saved sessions' lock are folded in exactly
// once, whatever step of a send a kill strikes (the saved sessions' fold, the sender index's, or
// between the hand-over and the list written back): after the next send each session is in one
// block, none is lost. An opt-out's clear noted with the lock held drops what was saved before it
// and nothing saved after.
TEST_F(Store, NotedSessionsAreSentOnceWhereverAKillStrikesTheFold) {
    if (testing_support::kThreadChecked) GTEST_SKIP() << "the forked copies start threads";
    using Starts = std::vector<int64_t>;
    auto at = [&](double t) { return now = t, TallySession::removeCurrentSessionFile(), start(); };
    auto starts = [](std::vector<Data> const& blocks) {
        Starts out;
        for (auto const& b : blocks) out.push_back(block_reader::readBlock(b).start / 1000);
        std::sort(out.begin(), out.end());
        return out;
    };
    // A send in a process of its own (a forked one has none of this one's threads: its shared
    // objects start again there), killed at the kill-th step of any fold.
    auto send = [&](int kill) {
        TallyGlobalPersistentManager::cleanup();
        TallyGlobalVariableStorage::cleanup();
        bool const finished = testing_support::inProcessesAtOnce(1, [&](int) {
            TallyGlobalVariableStorage::sharedInstance()->setApiKey("KEY");
            int step = 0;
            platform::NoteSet::setFaultHook([&](std::string const&) {
                if (++step == kill) ::raise(SIGKILL);
            });
            auto queue = std::make_shared<platform::WorkQueue>("com.Tally.Analytics.Session");
            TallyDataSender::setupInstanceWithQueue(queue);
            queue->sync([&] { at(4000)->sendSessionsToServerIncludingCurrentSession(false); });
            return true;
        });
        TallyGlobalVariableStorage::sharedInstance()->setApiKey("KEY");
        return finished;
    };
    for (int kill = 1;; ++kill) {
        ASSERT_LT(kill, 80);
        testing_support::TempDir home;
        platform::Directories::setRootOverride(home.path());
        TallySession::addToSavedSessions(at(1000));
        int const held = ::open((TallySession::sessionsFilePath().string() + ".lock").c_str(), O_RDWR | O_CLOEXEC);
        ASSERT_EQ(::flock(held, LOCK_EX), 0);
        TallySession::addToSavedSessions(at(2000));
        TallySession::setSavedSessions({});
        TallySession::addToSavedSessions(at(3000));
        ::close(held);
        EXPECT_EQ(starts(TallySession::savedSessions()), Starts{3000});
        bool const finished = send(kill);
        EXPECT_TRUE(send(0)) << kill;
        // Every block file, listed or left for a later start to take back.
        std::vector<Data> blocks;
        for (auto const& file : platform::regularFilesIn(tally_delivery::filesFolder(), [](std::string const& n) { return n.size() == 36; }))
            blocks.push_back(platform::readWholeFile(file, 1 << 20).bytes);
        EXPECT_EQ(starts(blocks), Starts{3000}) << kill;
        EXPECT_TRUE(TallySession::savedSessions().empty()) << kill;
        // The next change with the lock free finds nothing left to fold.
        TallySession::addToSavedSessions(at(5000));
        EXPECT_EQ(starts(TallySession::savedSessions()), Starts{5000}) << kill;
        auto const isNote = [](std::string const& n) { return n.find(".held.") != std::string::npos; };
        EXPECT_TRUE(platform::regularFilesIn(TallyUtil::filePathDirectory(), isNote).empty()) << kill;
        if (finished) break;
    }

    // Whatever the clocks did: the opt-out's clear, noted with the lock held, drops a session saved
    // before it by a copy whose clock was 5 s or an hour ahead (noted so, or folded into the file
    // with that stamp); a copy that named its note where stamps end left a damaged one, never
    // applied. A session stamped in the file by a time no clock gives (as an older version may
    // have written, or a copy whose clock read past 2262) is cleared all the same, noted or written.
    using namespace std::chrono_literals;
    auto const lockHeld = [] {
        int const held = ::open((TallySession::sessionsFilePath().string() + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        EXPECT_EQ(::flock(held, LOCK_EX), 0);
        return held;
    };
    for (auto const& clock : testing_support::copyClocks())
        for (bool const folded : {false, true}) {
            std::string const what = std::string(clock.name) + (folded ? ", folded" : "");
            testing_support::TempDir home;
            platform::Directories::setRootOverride(home.path());
            int const held = lockHeld();
            ASSERT_TRUE(testing_support::inProcessesAtOnce(1, [&](int) { return TallySession::addToSavedSessions(at(1000)), true; }));
            ASSERT_EQ(testing_support::restampNotes(TallyUtil::filePathDirectory(), [](auto const& n) { return n.find(".held.") != std::string::npos; },
                                                    clock.time), 1u);
            ASSERT_TRUE(!folded || (!::flock(held, LOCK_UN) && (TallySession::addToSavedSessions(at(1500)), !::flock(held, LOCK_EX))));
            Starts saved = folded ? Starts{1000, 1500} : Starts{1000};
            if (clock.damaged) saved.erase(saved.begin());
            EXPECT_EQ(starts(TallySession::savedSessions()), saved) << what;
            TallySession::setSavedSessions({});
            EXPECT_TRUE(TallySession::savedSessions().empty()) << what;
            ::close(held);
            TallySession::addToSavedSessions(at(5000));
            EXPECT_EQ(starts(TallySession::savedSessions()), Starts{5000}) << what;

            int64_t start = 6000;
            for (char const* time : {testing_support::kTimesNoClockGives[0], testing_support::kTimesNoClockGives[3]}) {
                auto stored = platform::KeyedArchive::readFromFile(TallySession::sessionsFilePath());
                ASSERT_EQ(stored.status, platform::KeyedArchive::ReadResult::Read);
                for (auto& stamp : *(*stored.value.array()->back().dict())["stamps"].array())
                    stamp = Value(std::string(time) + "-ffffffffffffffff-1");
                ASSERT_TRUE(platform::KeyedArchive::writeToFile(stored.value, TallySession::sessionsFilePath()));
                int const again = folded ? -1 : lockHeld();
                TallySession::setSavedSessions({});
                if (again >= 0) ::close(again);
                TallySession::addToSavedSessions(at(double(start)));
                EXPECT_EQ(starts(TallySession::savedSessions()), Starts{start}) << what << " " << time;
                start += 1000;
            }
        }
}

// Saved-session notes another account left (unreadable here) are passed over, told once. A send
// folds a pile of notes whole, over rounds, before a saved session goes out: a clear at its end
// drops every session saved before it, unsent.
TEST_F(Store, NotesThatCannotBeReadArePassedOverAndASendFoldsAPileWhole) {
    TallySessionInfo::setMaxSessions(5000);
    auto at = [&](double t) { return now = t, TallySession::removeCurrentSessionFile(), start(); };
    auto const notes = [] {
        return platform::regularFilesIn(TallyUtil::filePathDirectory(), [](std::string const& n) { return n.find(".held.") != std::string::npos; });
    };
    // Copies of the latest note, "<sessions file>.held.<20 digits>-<tag>-<pid>".
    auto const copies = [&](int n) {
        return testing_support::noteCopies(notes().back(), TallySession::sessionsFilePath().filename().string().size() + 6, n);
    };
    int const held = ::open((TallySession::sessionsFilePath().string() + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    TallySession::addToSavedSessions(at(1000));
    auto const theirs = copies(1001);
    testing::internal::CaptureStderr();
    std::vector<int64_t> sent;
    {
        testing_support::AnotherAccountsFiles as(dir.path(), theirs);
        ASSERT_TRUE(as.ok());
        TallySession::addToSavedSessions(at(2000));
        copies(1100);
        TallySession::setSavedSessions({});
        TallySession::addToSavedSessions(at(3000));
        ::close(held);
        auto queue = std::make_shared<platform::WorkQueue>("com.Tally.Analytics.Session");
        TallyDataSender::setupInstanceWithQueue(queue);
        queue->sync([&] { at(4000)->sendSessionsToServerIncludingCurrentSession(false); });
        for (auto const& file : platform::regularFilesIn(tally_delivery::filesFolder(), [](std::string const& n) { return n.size() == 36; }))
            sent.push_back(block_reader::readBlock(platform::readWholeFile(file, 1 << 20).bytes).start / 1000);
        EXPECT_EQ(notes().size(), theirs.size());
        EXPECT_TRUE(TallySession::savedSessions().empty());
    }
    EXPECT_EQ(sent, std::vector<int64_t>{3000});
    std::string const err = testing::internal::GetCapturedStderr();
    size_t lines = 0;
    for (size_t at = 0; (at = err.find("cannot be read now", at)) != std::string::npos; ++at) ++lines;
    EXPECT_EQ(lines, 1u) << err;
}

TEST_F(Store, SendingOptOutPendingSavedResponseAndReset) {
    auto queue = std::make_shared<platform::WorkQueue>("com.Tally.Analytics.Session");
    TallyDataSender::setupInstanceWithQueue(queue);
    auto sender = TallyDataSender::instance();
    auto stored = [&] {
        size_t n = 0;
        queue->sync([&] { n = sender->dataIndex()->notSentBlocksForDataKey(TallyDataSender::dataKey()).size(); });
        return n;
    };
    std::shared_ptr<TallySession> s;
    auto onQueue = [&](std::function<void()> f) { queue->sync(f); };
    onQueue([&] { s = start(), TallySession::addToSavedSessions(s), s->recordEvent(std::string("x"), std::nullopt); });

    // A saved response location: nothing goes out, the saved list stays.
    TallyGlobalVariableStorage::sharedInstance()->setSavedResponseUrl(std::string((dir.path() / "none").string()));
    onQueue([&] { s->sendSessionsToServerIncludingCurrentSession(true); });
    EXPECT_EQ(stored(), 0u);
    EXPECT_EQ(TallySession::savedSessions().size(), 1u);
    TallyGlobalVariableStorage::sharedInstance()->setSavedResponseUrl(std::nullopt);

    // Opted out: the saved sessions are discarded unsent.
    TallyUtil::setTallyOptOut(true);
    onQueue([&] { s->sendSessionsToServerIncludingCurrentSession(true); });
    EXPECT_EQ(stored(), 0u);
    EXPECT_TRUE(TallySession::savedSessions().empty());

    // A pending opt-out session goes out once, and the flag is cleared.
    onQueue([&] { TallySession::addToSavedSessions(s); });
    TallyGlobalVariableStorage::sharedInstance()->setOptOutSessionPending(true);
    onQueue([&] { s->sendSessionsToServerIncludingCurrentSession(false); });
    EXPECT_EQ(stored(), 1u);
    EXPECT_FALSE(TallyGlobalVariableStorage::sharedInstance()->optOutSessionPending());
    onQueue([&] { s->sendSessionsToServerIncludingCurrentSession(false); });
    EXPECT_EQ(stored(), 1u);
    // Logs are reset after a send even when the current session was not included.
    onQueue([&] { EXPECT_TRUE(s->eventLog().empty()); });

    // Remote configuration with "analytics_enabled" false under pulse monitoring opts out too;
    // one without the flag does not.
    TallyUtil::setTallyOptOut(false);
    auto pulse = std::make_shared<TallyPulseSettings>();
    pulse->setAnalytics({{"analytics_enabled", Value(false)}});
    TallyGlobalPersistentManager::sharedInstance()->processWriteOperationForPersistentGlobalsMap(
        [pulse](Value::Dict& m) { m["pulseSettings"] = Value(pulse); });
    TallyGlobalVariableStorage::sharedInstance()->setPulseMonitoringEnabled(true);
    onQueue([&] { s->sendSessionsToServerIncludingCurrentSession(true); });
    EXPECT_EQ(stored(), 1u);
    pulse->setAnalytics({});
    onQueue([&] { s->sendSessionsToServerIncludingCurrentSession(true); });
    EXPECT_EQ(stored(), 2u);
    pulse->setAnalytics({{"analytics_enabled", Value(false)}});
    TallyGlobalVariableStorage::sharedInstance()->setPulseMonitoringEnabled(false);
    onQueue([&] { s->sendSessionsToServerIncludingCurrentSession(true); });
    EXPECT_EQ(stored(), 3u);
    // The sender builds its bodies from the session: a whole report with the stored block.
    auto blocks = sender->dataIndex()->notSentBlocksForDataKey(TallyDataSender::dataKey());
    std::optional<Data> body;
    onQueue([&] { body = s->dataForSending({*blocks.back()->data()}); });
    ASSERT_TRUE(body);
    EXPECT_EQ(block_reader::readReport(*body).blocks.size(), 1u);
    onQueue([&] { s.reset(); });
}
