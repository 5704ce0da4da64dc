// The session's lifecycle and recording on a set clock, in a fresh data folder.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "analytics/agent/TallyAutoIncrement.h"
#include "analytics/agent/TallyClock.h"
#include "analytics/agent/TallyFileCache.h"
#include "analytics/agent/TallyGlobalPersistentManager.h"
#include "analytics/agent/TallyGlobalVariableStorage.h"
#include "analytics/agent/TallyPreCacheEventManager.h"
#include "analytics/agent/TallySession.h"
#include "analytics/agent/TallySessionInfo.h"
#include "analytics/agent/TallyUtil.h"
#include "platform/base/Directories.h"
#include "platform/base/KeyedArchive.h"
#include "platform/base/NotificationCenter.h"
#include "analytics/agent/tests/SessionBlockReader.h"
#include "testing/TestPaths.h"

namespace {

class Purchase : public platform::Archivable {
public:
    std::string className() const override { return "TestPurchase"; }
    void encodeWith(platform::ArchiveEncoder&) const override {}
};

Value::Dict params(int n, std::string const& prefix = "p") {
    Value::Dict d;
    for (int i = 0; i < n; ++i) d[prefix + std::to_string(i)] = Value("v");
    return d;
}

class Session : public ::testing::Test {
protected:
    void SetUp() override {
        platform::Directories::setRootOverride(dir.path());
        TallyClock::setSource([this] { return platform::Date{now.load()}; });
        TallySession::resetStoreForTesting();
        TallyAutoIncrement::instance()->resetAll();
        platform::NotificationCenter::shared().addObserver(this, "TallySessionStarted",
                                                           [this](platform::Notification const& n) {
                                                               if (!n.object) ++started;
                                                           });
    }
    void TearDown() override {
        platform::NotificationCenter::shared().removeObserver(this);
        TallySession::setNeighbours({});
        TallySession::resetStoreForTesting();
        TallySessionInfo::setMaxSessions(50);
        TallyGlobalPersistentManager::cleanup();
        TallyGlobalVariableStorage::cleanup();
        TallyFileCache::cleanup();
        TallyClock::setSource(nullptr);
        platform::Directories::setRootOverride(std::nullopt);
    }
    std::shared_ptr<TallySession> start() {
        TallyPreCacheEventManager::PreCacheLog none;
        return TallySession::sessionWithApiKey("KEY", platform::Date{now.load()}, none);
    }
    void advance(double seconds) { now = now.load() + seconds; }

    testing_support::TempDir dir;
    std::atomic<double> now{1700000000.0};
    int started = 0;
};

}  // namespace

TEST_F(Session, StartTakesInTheLeftoverSessionWithItsCrashAndTheCachedEvents) {
    auto old = start();
    old->recordEvent(std::string("before-crash"), std::nullopt);
    old->saveToDisk();  // the run ends here without ending its session

    int purged = 0;
    TallySession::Neighbours n;
    n.hasPendingCrashReport = [] { return true; };
    n.loadPendingCrashReportData = [](platform::Error*) { return std::optional<Data>(Data{1, 2, 3}); };
    n.purgePendingCrashReport = [&] { ++purged; };
    TallySession::setNeighbours(n);
    TallyGlobalVariableStorage::sharedInstance()->setCrashReportingEnabled(true);

    TallyPreCacheEventManager::PreCacheLog cached{{"first", std::nullopt, false},
                                                  {"second", params(1), true},
                                                  {"third", std::nullopt, false}};
    advance(60);
    auto s = TallySession::sessionWithApiKey("KEY", platform::Date{now.load()}, cached);
    EXPECT_TRUE(cached.empty());
    ASSERT_EQ(s->eventLog().size(), 3u);
    EXPECT_EQ(s->eventLog()[0]->name(), "first");
    EXPECT_TRUE(s->eventLog()[1]->timed());
    EXPECT_EQ(s->eventLog()[2]->name(), "third");
    EXPECT_EQ(purged, 1);
    EXPECT_EQ(started, 2);

    auto saved = TallySession::savedSessions();
    ASSERT_EQ(saved.size(), 1u);
    auto block = block_reader::readBlock(saved[0]);
    ASSERT_EQ(block.errors.size(), 1u);
    EXPECT_EQ(block.errors[0].report, (Data{1, 2, 3}));
    ASSERT_EQ(block.events.size(), 1u);
    EXPECT_EQ(block.events[0].name, "before-crash");
    // The old one is gone, the new one saved.
    EXPECT_EQ(TallySession::unarchiveCurrentSession()->startTime(), s->startTime());

    // A report that cannot be loaded, or is too large, is not attached, and is purged all the same.
    s->saveToDisk();
    n.loadPendingCrashReportData = [](platform::Error* e) {
        e->domain = "TLCrashReporterErrorDomain";
        return std::optional<Data>();
    };
    TallySession::setNeighbours(n);
    start();
    n.loadPendingCrashReportData = [](platform::Error*) {
        return std::optional<Data>(Data(TallySession::kMaxCrashReportBytes + 1));
    };
    TallySession::setNeighbours(n);
    start();
    EXPECT_EQ(purged, 3);
    saved = TallySession::savedSessions();
    ASSERT_EQ(saved.size(), 3u);
    for (size_t i = 1; i < 3; ++i) EXPECT_TRUE(block_reader::readBlock(saved[i]).errors.empty());
}

TEST_F(Session, PauseResumeArchiveAndEndKeepExactTimes) {
    auto s = start();
    EXPECT_EQ(s->sessionLength(), -1);
    s->recordEvent(std::string("timed"), std::nullopt, true);
    advance(2.0);
    s->pauseSession();
    EXPECT_TRUE(s->isPaused());
    EXPECT_EQ(s->sessionLength(), 2000);
    EXPECT_TRUE(s->eventLog()[0]->automaticallyEnded());

    EXPECT_EQ(s->recordEvent(std::string("p1"), std::nullopt), TallySession::kPending);
    advance(0.5);
    EXPECT_EQ(s->recordEvent(std::string("p2"), std::nullopt), TallySession::kPending);
    advance(1.25);
    s->resumeSession();
    EXPECT_EQ(s->totalPauseIntervalMillis(), 1750);
    ASSERT_EQ(s->eventLog().size(), 3u);
    EXPECT_EQ(s->eventLog()[1]->name(), "p1");
    EXPECT_EQ(s->eventLog()[2]->name(), "p2");
    EXPECT_TRUE(s->pendingEventLog().empty());

    // Archiving at a new session keeps pending what started after the resume mark.
    s->pauseSession();
    s->recordEvent(std::string("early"), std::nullopt);
    advance(1);
    s->markSessionAsResuming();
    advance(1);
    s->recordEvent(std::string("late"), std::nullopt);
    s->archiveSession();
    EXPECT_EQ(s->eventLog().back()->name(), "early");
    ASSERT_EQ(s->pendingEventLog().size(), 1u);
    EXPECT_EQ(s->pendingEventLog()[0]->name(), "late");
    EXPECT_FALSE(s->resumeTime());
    auto next = s->sessionWithNewEventsWithApiKey("KEY", platform::Date{now.load() + 10});
    ASSERT_EQ(next->eventLog().size(), 1u);
    EXPECT_EQ(next->eventLog()[0]->name(), "late");
    EXPECT_EQ(next->startTime().secondsSince1970, now.load());  // moved back to the event's start
    EXPECT_TRUE(s->pendingEventLog().empty());

    // The automatically ended event is ended again, later, by the next finish.
    advance(3);
    s->endSession();
    EXPECT_EQ(s->eventLog().size(), 0u);  // sent with reports on close, logs reset
    EXPECT_FALSE(TallySession::savedSessions().empty());  // no sender here: kept for the next send
}

TEST_F(Session, RecordingLimitsAndCodes) {
    auto s = start();
    EXPECT_EQ(s->recordEvent(std::nullopt, std::nullopt), TallySession::kInvalid);
    EXPECT_FALSE(s->eventLogComplete());
    EXPECT_EQ(s->recordEvent(std::string(""), std::nullopt), TallySession::kInvalid);
    EXPECT_EQ(s->recordEvent(std::string("ten"), params(10)), TallySession::kRecorded);
    EXPECT_EQ(s->recordEvent(std::string("eleven"), params(11)), TallySession::kTooManyParameters);
    size_t const sentBefore = TallySession::savedSessions().size();
    EXPECT_EQ(s->recordEvent(std::string("bought"), params(11), false, std::make_shared<Purchase>()),
              TallySession::kRecorded);
    EXPECT_GT(TallySession::savedSessions().size(), sentBefore);  // revenue sends at once
    EXPECT_TRUE(s->eventLog().empty());

    for (int i = 0; i < 100; ++i) EXPECT_EQ(s->recordEvent("name" + std::to_string(i), std::nullopt), 1u);
    EXPECT_EQ(s->recordEvent(std::string("name100"), std::nullopt), TallySession::kLimitReached);
    EXPECT_EQ(s->recordEvent(std::string("name5"), std::nullopt), TallySession::kRecorded);
    EXPECT_EQ(s->eventCounts().at("name5"), 2);
    s->setEventLoggingEnabled(false);
    EXPECT_EQ(s->recordEvent(std::string("name6"), std::nullopt), TallySession::kLimitReached);
    EXPECT_EQ(s->eventCounts().at("name6"), 2);  // counted all the same
    EXPECT_EQ(s->totalEventCount(), 102);  // the revenue send reset the earlier counts
    s->setEventLoggingEnabled(true);

    // Timed events end the first open one of the name each time.
    s->resetEventLogs();
    s->recordEvent(std::string("t"), std::nullopt, true);
    s->recordEvent(std::string("t"), std::nullopt, true);
    advance(1.5);
    s->endTimedEvent(std::string("t"), Value::Dict{{"k", Value("v")}});
    EXPECT_EQ(s->eventLog()[0]->duration(), 1500);
    EXPECT_EQ(s->eventLog()[0]->parameters().size(), 1u);
    EXPECT_TRUE(s->eventLog()[1]->isUnterminated());
    s->endTimedEvent(std::string("t"), std::nullopt);
    EXPECT_FALSE(s->eventLog()[1]->isUnterminated());

    // The pending log is bounded like the log.
    s->pauseSession();
    for (size_t i = 0; i < TallySession::kMaxPendingEvents; ++i) s->recordEvent(std::string("x"), std::nullopt);
    s->setEventLogComplete(true);
    EXPECT_EQ(s->recordEvent(std::string("x"), std::nullopt), TallySession::kLimitReached);
    EXPECT_FALSE(s->eventLogComplete());
    EXPECT_EQ(s->pendingEventLog().size(), TallySession::kMaxPendingEvents);
}

TEST_F(Session, ErrorsPageViewsAgesAndSavedLimits) {
    auto s = start();
    s->setCrashReportingEnabled(true);
    for (int i = 0; i < 11; ++i)
        s->recordError(std::string("e"), std::nullopt, TallySession::ExceptionInfo{"Name", "why"}, Data{9});
    EXPECT_EQ(s->errors().size(), 10u);
    EXPECT_EQ(s->totalErrorCount(), 11);
    EXPECT_EQ(*s->errors()[0]->exceptionString(), "Name: why");
    EXPECT_EQ(s->errors()[0]->reportData(), Data{9});
    EXPECT_EQ(s->errors()[0]->errorType(), 2);
    s->recordError(std::string("e"), std::nullopt, std::optional<platform::Error>(), std::nullopt);

    s->maybeIncrementPageView();
    advance(0.3);
    s->maybeIncrementPageView();
    EXPECT_EQ(s->pageViewCount(), 1);
    advance(0.31);
    s->maybeIncrementPageView();
    EXPECT_EQ(s->pageViewCount(), 2);

    s->setAgeInYears(0);
    s->setAgeInYears(151);
    EXPECT_FALSE(s->age());
    s->setAgeInYears(150);
    ASSERT_TRUE(s->age());
    time_t const t = static_cast<time_t>(s->age()->secondsSince1970);
    std::tm local{};
    localtime_r(&t, &local);
    EXPECT_EQ(local.tm_year + 1900, 2023 - 150);
    EXPECT_EQ(local.tm_yday, 0);

    s->setGenderAsString(std::string("f"));
    EXPECT_EQ(s->gender(), 0);
    s->setGenderAsString(std::string("x"));
    EXPECT_EQ(s->gender(), -1);
    s->setLatitude(1.5, -2.5, -3, 5);
    EXPECT_FLOAT_EQ(s->accuracy(), 4);

    // Saved sessions keep the newest when the limit shrinks.
    TallySessionInfo::setMaxSessions(5);
    TallySession::setSavedSessions({});
    for (int i = 0; i < 8; ++i) {
        now = 1000.0 + i;
        TallySession::removeCurrentSessionFile();  // no leftover to take in
        TallySession::addToSavedSessions(start());
    }
    auto saved = TallySession::savedSessions();
    ASSERT_EQ(saved.size(), 5u);
    EXPECT_EQ(block_reader::readBlock(saved[0]).start, 1003000);
    EXPECT_EQ(TallySession::getAgentVersionWithBuild(), "Tally_iOS_189_7.8.2");
}

TEST_F(Session, FileCacheNamesAndTheFirstInstance) {
    auto cache = TallyFileCache::createInstanceWithApiKey("KEY", "189");
    EXPECT_EQ(TallyFileCache::createInstanceWithApiKey("OTHER", "190"), cache);
    EXPECT_EQ(TallyFileCache::instance()->apiKey(), "KEY");
    EXPECT_NE(cache->createFilePath("n", true), cache->createFilePath("n", false));
    ASSERT_TRUE(cache->save(Value("kept"), "n"));
    EXPECT_EQ(cache->get("n"), Value("kept"));
    EXPECT_FALSE(cache->get("n", false));
    EXPECT_TRUE(cache->remove("n"));
    EXPECT_FALSE(cache->remove("n"));
    // A name with separators stays inside the data folder.
    auto const p = cache->createFilePath("../../escape", true);
    EXPECT_EQ(p.parent_path(), TallyUtil::filePathDirectory());
}

TEST_F(Session, PreCacheLockRecordsOrCachesFromManyThreads) {
    auto manager = TallyPreCacheEventManager::sharedInstance();
    std::shared_ptr<TallySession> session;
    std::atomic<int> recorded{0}, cached{0};
    std::vector<std::thread> loggers;
    for (int t = 0; t < 4; ++t)
        loggers.emplace_back([&, t] {
            for (int i = 0; i < 50; ++i) {
                manager->processWriteSync([&](TallyPreCacheEventManager::PreCacheLog& log) {
                    if (session) {
                        session->recordEvent("e" + std::to_string(t), std::nullopt);
                        ++recorded;
                    } else {
                        log.emplace_back("e" + std::to_string(t), std::nullopt, false);
                        ++cached;
                    }
                });
            }
        });
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    manager->processWriteSync([&](TallyPreCacheEventManager::PreCacheLog& log) {
        session = TallySession::sessionWithApiKey("KEY", platform::Date{now.load()}, log);
    });
    for (auto& t : loggers) t.join();
    // Nothing falls between the cache and the session.
    EXPECT_EQ(session->totalEventCount(), 200);
    EXPECT_EQ(recorded + cached, 200);
    manager->processWriteSync([](TallyPreCacheEventManager::PreCacheLog& log) { EXPECT_TRUE(log.empty()); });
}
