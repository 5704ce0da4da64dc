// The agent as a host drives it: start-up and its deferral, statuses, the life cycle on a set
// clock, the façade's queue and its clean-up, and many threads logging at once.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "analytics/agent/Tally.h"
#include "analytics/agent/TallyClock.h"
#include "analytics/agent/TallyDelegate.h"
#include "analytics/agent/TallyGlobalPersistentManager.h"
#include "analytics/agent/TallyGlobalVariableStorage.h"
#include "analytics/agent/TallyImpl.h"
#include "analytics/agent/TallyPreCacheEventManager.h"
#include "analytics/agent/TallyPulseSettings.h"
#include "analytics/agent/TallySessionBuilder.h"
#include "analytics/agent/TallySessionInfo.h"
#include "analytics/agent/TallyUtil.h"
#include "analytics/agent/tests/SessionBlockReader.h"
#include "analytics/delivery/TallyDataSender.h"
#include "analytics/delivery/TallyDataSenderIndex.h"
#include "platform/base/DeviceFacts.h"
#include "platform/base/Directories.h"
#include "platform/base/NotificationCenter.h"
#include "testing/TestPaths.h"

namespace {

class Agent : public ::testing::Test {
protected:
    void SetUp() override {
        platform::Directories::setRootOverride(dir.path());
        TallyClock::setSource([this] { return platform::Date{now.load()}; });
        TallyUtil::setLogObserver([this](std::string const& line) {
            std::lock_guard lock(linesLock);
            lines.push_back(line);
        });
        setState(0);
    }
    void TearDown() override {
        Tally::reset();
        TallyUtil::setLogObserver(nullptr);
        TallyGlobalPersistentManager::cleanup();
        platform::DeviceFacts::setProfile({});
        TallyClock::setSource(nullptr);
        platform::Directories::setRootOverride(std::nullopt);
    }
    static void setState(int state) {
        platform::DeviceProfile p;
        p.applicationState = state;
        platform::DeviceFacts::setProfile(p);
    }
    size_t countLines(std::string const& text) {
        std::lock_guard lock(linesLock);
        return size_t(std::count(lines.begin(), lines.end(), text));
    }
    std::vector<std::string> names() {
        std::vector<std::string> out;
        TallyImpl::currentSession()->withSession([&](TallySession* s) {
            for (auto const& e : s->eventLog()) out.push_back(e->name());
        });
        return out;
    }
    // Event names in the blocks handed to the data sender.
    static std::vector<std::string> sentEvents() {
        std::vector<std::string> sent;
        auto sender = TallyDataSender::instance();
        TallyImpl::currentSession()->queue().sync([&] {
            for (auto const& b : sender->dataIndex()->notSentBlocksForDataKey(TallyDataSender::dataKey()))
                for (auto const& e : block_reader::readBlock(*b->data()).events) sent.push_back(e.name);
        });
        return sent;
    }
    testing_support::TempDir dir;
    std::atomic<double> now{1700000000.0};
    std::mutex linesLock;
    std::vector<std::string> lines;
};

}  // namespace

TEST_F(Agent, StartDeferredUntilLaunchedThenStatusesAndOrder) {
    EXPECT_EQ(Tally::logEvent("EARLY"), Tally::kCached);
    EXPECT_EQ(Tally::logEvent("EARLY_TIMED", true), Tally::kRefused);  // no façade: lost
    setState(1);  // inactive at launch: the rest waits for did-finish-launching
    Tally::startSession(" QK7R ZT2M ");
    Tally::startSession("OTHER");
    EXPECT_EQ(countLines("Tally: startSession has been called already. It should only be called once. Returning."), 1u);
    EXPECT_EQ(TallyGlobalVariableStorage::sharedInstance()->apiKey(), "QK7RZT2M");
    EXPECT_FALSE(Tally::activeSessionExists());
    platform::NotificationCenter::shared().post(Tally::kDidFinishLaunching);
    ASSERT_TRUE(Tally::activeSessionExists());
    auto impl = TallyImpl::currentSession();
    EXPECT_TRUE(impl->pauseTime());  // paused at once, still inactive
    setState(0);
    now = now + 5;
    platform::NotificationCenter::shared().post(Tally::kDidBecomeActive);
    EXPECT_FALSE(impl->pauseTime());  // resumed within the window
    EXPECT_EQ(impl->totalPauseIntervalMillis(), 5000);

    EXPECT_EQ(Tally::logEvent(nullptr), Tally::kRefused);
    EXPECT_EQ(Tally::logEvent(""), Tally::kRefused);
    Tally::Parameters ten, eleven;
    for (int i = 0; i < 10; ++i) ten["k" + std::to_string(i)] = int64_t(i);
    eleven = ten;
    eleven["x"] = std::string("y");
    EXPECT_EQ(Tally::logEvent("TEN", ten), Tally::kAccepted);
    EXPECT_EQ(Tally::logEvent("ELEVEN", eleven), Tally::kTooManyParameters);
    EXPECT_EQ(names(), std::vector<std::string>{"TEN"});
    for (int i = 0; i < 999; ++i) Tally::logEvent("M");
    impl->queue().sync([] {});  // statuses read the counts as the queue left them
    EXPECT_EQ(Tally::logEvent("M"), Tally::kLogFull);
    for (int i = 0; i < 98; ++i) Tally::logEvent(("N" + std::to_string(i)).c_str());
    impl->queue().sync([] {});
    EXPECT_EQ(Tally::logEvent("N5"), Tally::kTooManyNames);  // even for a counted name
    // The cached event went out with the first session's report.
    EXPECT_EQ(sentEvents(), std::vector<std::string>{"EARLY"});

    // A stored configuration without "analytics_enabled" leaves analytics on; with it false: 6,
    // and nothing queued.
    auto pulse = std::make_shared<TallyPulseSettings>();
    TallyGlobalPersistentManager::sharedInstance()->processWriteOperationForPersistentGlobalsMap(
        [pulse](Value::Dict& m) { m["pulseSettings"] = Value(pulse); });
    EXPECT_NE(Tally::logEvent("ON"), Tally::kAnalyticsDisabled);
    pulse->setAnalytics({{"analytics_enabled", Value(false)}});
    impl->queue().sync([] {});
    size_t const before = names().size();
    EXPECT_EQ(Tally::logEvent("OFF"), Tally::kAnalyticsDisabled);
    EXPECT_EQ(names().size(), before);
}

TEST_F(Agent, PreSessionCacheHoldsAsManyAsAPausedSessionAndDropsTheRest) {
    for (size_t i = 0; i < TallyPreCacheEventManager::kMaxEvents; ++i) ASSERT_EQ(Tally::logEvent("EARLY"), Tally::kCached);
    EXPECT_EQ(Tally::logEvent("LATE"), Tally::kLogFull);
    Tally::startSession("KEY");
    auto const logged = sentEvents();  // recorded into the first session and sent with it
    EXPECT_EQ(logged.size(), TallyPreCacheEventManager::kMaxEvents);
    EXPECT_EQ(std::count(logged.begin(), logged.end(), "LATE"), 0);
}

TEST_F(Agent, LifeCycleWindowEndAndCleanup) {
    struct Told : TallyDelegate {
        void tallySessionDidCreateWithInfo(platform::Value::Dict const& info) override {
            ids.push_back(*info.at("sessionId").string());
        }
        std::vector<std::string> ids;  // the main thread's only
    };
    auto told = std::make_shared<Told>();
    Tally::setDelegate(told);
    Tally::startSession("KEY");
    auto impl = TallyImpl::currentSession();
    ASSERT_TRUE(impl);
    auto const first = impl->startTime();
    Tally::logEvent("A");

    // 10,000 ms away resumes, 10,001 ms starts anew.
    platform::NotificationCenter::shared().post(Tally::kWillResignActive);
    now = now + 10.0;
    platform::NotificationCenter::shared().post(Tally::kWillEnterForeground);
    platform::NotificationCenter::shared().post(Tally::kDidBecomeActive);
    EXPECT_EQ(impl->startTime(), first);
    platform::NotificationCenter::shared().post(Tally::kWillResignActive);
    now = now + 10.0015;  // 10,001 ms once truncated
    platform::NotificationCenter::shared().post(Tally::kDidBecomeActive);
    EXPECT_NE(impl->startTime(), first);
    // The delegate heard of both sessions, the resumed one not again.
    ASSERT_EQ(told->ids.size(), 2u);
    EXPECT_NE(told->ids[0], told->ids[1]);
    EXPECT_EQ(told->ids[1], Tally::getSessionID());

    // endSession waits for the end; endSessionAsync does not.
    Tally::logEvent("B");
    std::atomic<bool> release{false};
    impl->queue().async([&] {
        while (!release) std::this_thread::yield();
    });
    impl->endSessionAsync();  // returns at once behind the blocked queue
    release = true;
    Tally::endSession();
    EXPECT_TRUE(impl->endTime());

    // The ended sessions went to the data sender as blocks.
    EXPECT_EQ(sentEvents(), (std::vector<std::string>{"A", "B"}));

    // Opting out ends the session once.
    TallyUtil::setLogLevel(2);
    Tally::setTallyOptOut(true);
    Tally::setTallyOptOut(true);
    impl->queue().sync([] {});
    TallyUtil::setLogLevel(1);
    EXPECT_EQ(countLines("TallySession: Scheduled send 1 session(s)."), 1u);  // the pending one, once
    EXPECT_FALSE(TallyGlobalVariableStorage::sharedInstance()->optOutSessionPending());
    Tally::setTallyOptOut(false);

    // Set up without a key: the session is archived and none is left.
    impl->setupForApiKey(std::nullopt);
    EXPECT_FALSE(impl->startTime());
    // Clean-up: a new instance with a new queue.
    TallyImpl::cleanup();
    EXPECT_FALSE(TallyImpl::currentSession());
    auto fresh = TallyImpl::instance();
    EXPECT_NE(fresh.get(), impl.get());
    EXPECT_NE(&fresh->queue(), &impl->queue());
}

TEST_F(Agent, EventsLoggedWhileTheQueueIsBusyNeverOvertakeWhatWasQueuedAfterThem) {
    Tally::startSession("KEY");
    auto impl = TallyImpl::currentSession();
    std::atomic<bool> release{false};
    size_t base = 0;
    std::vector<size_t> seenByBlocks;
    auto logged = [] { return TallySession::currentSession()->eventLog().size(); };
    impl->queue().async([&] {
        while (!release) std::this_thread::yield();
        base = logged();
    });
    int64_t i = 0;
    auto log = [&](int n, char const* name) {
        for (int k = 0; k < n; ++k) EXPECT_EQ(Tally::logEvent(name, Tally::Parameters{{"i", i++}}), Tally::kAccepted);
    };
    // Runs of events across the intake's blocks, each followed by a block queued directly or a
    // call of another kind.
    log(100, "A");
    impl->queue().async([&] { seenByBlocks.push_back(logged() - base); });
    log(30, "B");
    Tally::setUserID(std::string("U"));
    log(70, "C");
    impl->queue().async([&] { seenByBlocks.push_back(logged() - base); });
    log(1, "D");
    release = true;
    std::vector<int64_t> order;
    impl->withSession([&](TallySession* s) {
        for (auto const& e : s->eventLog()) order.push_back(e->parameters().at("i").toInt64().value_or(-1));
    });
    EXPECT_EQ(seenByBlocks, (std::vector<size_t>{100, 200}));
    ASSERT_EQ(order.size(), 201u);
    for (size_t k = 0; k < order.size(); ++k) ASSERT_EQ(order[k], int64_t(k));
}

TEST_F(Agent, ManyThreadsLogWhileTheMainThreadPausesAndResumes) {
    Tally::setSessionReportsOnPauseEnabled(false);
    Tally::startSession("KEY");
    auto impl = TallyImpl::currentSession();
    std::atomic<int> accepted{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([t, &accepted] {
            for (int i = 0; i < 100; ++i) {
                std::string const name = "T" + std::to_string(t) + "_" + std::to_string(i % 10);
                if (Tally::logEvent(name.c_str(), Tally::Parameters{{"i", int64_t(i)}}) == Tally::kAccepted) ++accepted;
            }
        });
    }
    for (int i = 0; i < 20; ++i) {
        Tally::pauseSession();
        Tally::applicationDidBecomeActive();
    }
    for (auto& t : threads) t.join();
    Tally::pauseSession();
    Tally::applicationDidBecomeActive();
    // Below the limits every accepted event is logged exactly once, each thread's in its order.
    std::map<std::string, int> seen;
    std::map<char, int64_t> last;
    bool ordered = true;
    impl->withSession([&](TallySession* s) {
        for (auto const& e : s->eventLog()) {
            int64_t const i = e->parameters().at("i").toInt64().value_or(-1);
            ++seen[e->name() + "/" + std::to_string(i)];
            auto [it, fresh] = last.try_emplace(e->name()[1], i);
            ordered = ordered && (fresh || it->second < i);
            it->second = i;
        }
    });
    EXPECT_TRUE(ordered);
    for (auto const& [k, n] : seen) EXPECT_EQ(n, 1) << k;
    EXPECT_EQ(seen.size(), size_t(accepted.load()));
    EXPECT_EQ(seen.size(), 800u);
}

TEST_F(Agent, BuilderLaunchOptionsAndUserInfoAtStart) {
    using V = platform::Value;
    auto settings = TallyGlobalVariableStorage::sharedInstance();
    TallySessionBuilder builder;
    builder.withAppVersion(std::string("2.5")).withSessionContinueSeconds(30);
    // The platform's keys are taken as they are; the annotation is read as a property list.
    V::Dict options{{"UIApplicationLaunchOptionsURLKey", V("zelv://3")},
                    {"UIApplicationLaunchOptionsNewsstandDownloadsKey", V(V::Array{V("issue")})},
                    {"UIApplicationLaunchOptionsAnnotationKey",
                     V(V::Dict{{"campaign", V("spring")}, {"n", V(int64_t(5))},
                               {"when", V(platform::Date{1700000000.25})},
                               {"mixed", V(V::Array{V("a"), V(V::Dict{}), V(true)})}, {"skip", V(V::Dict{})}})}};
    Tally::startSession("KEY", options, &builder);
    ASSERT_TRUE(Tally::activeSessionExists());
    EXPECT_EQ(settings->appVersion(), "2.5");
    EXPECT_EQ(Tally::sessionContinueSeconds(), 30);
    V::Dict const stored = settings->launchOptions();
    EXPECT_EQ(stored.at("UIApplicationLaunchOptionsURLKey"), V(V::Array{V("zelv://3")}));
    EXPECT_EQ(stored.at("UIApplicationLaunchOptionsNewsstandDownloadsKey"), V(V::Array{V("issue")}));
    EXPECT_EQ(stored.at("campaign"), V(V::Array{V("spring")}));
    EXPECT_EQ(stored.at("n"), V(V::Array{V("5")}));
    EXPECT_EQ(stored.at("when"), V(V::Array{V("1700000000250")}));
    EXPECT_EQ(stored.at("mixed"), V(V::Array{V("a"), V("1")}));
    EXPECT_FALSE(stored.count("skip"));
    EXPECT_FALSE(stored.count("UIApplicationLaunchOptionsAnnotationKey"));
    // A second start with a builder changes nothing.
    TallySessionBuilder later;
    later.withAppVersion(std::string("9"));
    Tally::startSession("OTHER", &later);
    EXPECT_EQ(settings->appVersion(), "2.5");
    EXPECT_EQ(settings->apiKey(), "KEY");

    // Options of the host's own: a key the platform does not know is kept as a list of strings;
    // an array of dictionaries is read dictionary by dictionary.
    Tally::setLaunchOptions(V(V::Dict{{"ref", V("mail")}}));
    Tally::setLaunchOptions(V(V::Array{V(V::Dict{{"src", V(int64_t(2))}}), V("x")}));
    Tally::setLaunchOptions(V());
    EXPECT_EQ(settings->launchOptions().at("ref"), V(V::Array{V("mail")}));
    EXPECT_EQ(settings->launchOptions().at("src"), V(V::Array{V("2")}));

    // User info of a paired watch: the agent's when it carries one of its two keys.
    EXPECT_TRUE(Tally::tallyUserInfo({{"tally://id2", V("x")}}));
    EXPECT_TRUE(Tally::isTallyUserInfo({{"tally://id1", V("x")}, {"other", V(1)}}));
    EXPECT_FALSE(Tally::tallyUserInfo({{"other", V("x")}}));

    // Errors: each argument refused with its own message.
    TallyUtil::setLogLevel(2);
    Tally::logError("E", nullptr, std::string("Name"), std::string("Reason"));
    Tally::logError(nullptr, "m", std::optional<platform::Error>{});
    TallyUtil::setLogLevel(1);
    EXPECT_EQ(countLines("Tally: Error not logged -- message must be of NSString type."), 1u);
    EXPECT_EQ(countLines("Tally: Error not logged -- errorId must be of NSString type."), 1u);
}
