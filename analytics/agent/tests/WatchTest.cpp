// The watch-extension session from its bundle keys on a set clock, the watch link between the
// phone's and the watch's agent over the in-process channel, and page views counted from a
// navigation or tab-bar host's delegate slot.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>

#include "analytics/agent/Tally.h"
#include "analytics/agent/TallyClock.h"
#include "analytics/agent/TallyGlobalPersistentManager.h"
#include "analytics/agent/TallyGlobalVariableStorage.h"
#include "analytics/agent/TallyImpl.h"
#include "analytics/agent/TallyPageViewDelegate.h"
#include "analytics/agent/TallyUtil.h"
#include "analytics/agent/TallyWatch.h"
#include "analytics/agent/TallyWatchConnectivity.h"
#include "analytics/agent/TallyWatchSession.h"
#include "analytics/agent/tests/SessionBlockReader.h"
#include "analytics/delivery/TallyDataSender.h"
#include "analytics/delivery/TallyDataSenderIndex.h"
#include "analytics/delivery/TallyNetworkUtil.h"
#include "platform/base/DeviceFacts.h"
#include "platform/base/Directories.h"
#include "platform/base/InProcessWatchSession.h"
#include "testing/TestPaths.h"

namespace {

char const* const kExtension = "/apps/Zelv.app/PlugIns/ZelvWatch.appex/ZelvWatch";

class Host : public TallyPageViewHost {
public:
    Kind kind() const override { return Kind::Navigation; }
    std::shared_ptr<TallyPageViewHostDelegate> delegate() const override { return slot.lock(); }
    void setDelegate(std::weak_ptr<TallyPageViewHostDelegate> d) override {
        slot = std::move(d);
        if (watcher) watcher();
    }
    void observeDelegate(void const*, std::function<void()> f) override { watcher = std::move(f); }
    void stopObservingDelegate(void const*) override { watcher = nullptr; }
    std::weak_ptr<TallyPageViewHostDelegate> slot;
    std::function<void()> watcher;
};

class Shown : public TallyPageViewHostDelegate {
public:
    void didShowViewController(std::string const&, bool) override { ++shown; }
    int shown = 0;
};

class Watch : public ::testing::Test {
protected:
    void SetUp() override {
        platform::Directories::setRootOverride(dir.path());
        platform::DeviceFacts::setExecutablePath(kExtension);
        TallyClock::setSource([this] { return platform::Date{now.load()}; });
        TallyUtil::setLogObserver([this](std::string const& line) {
            std::lock_guard lock(linesLock);
            lines.push_back(line);
        });
        bundle({});
    }
    void TearDown() override {
        TallyWatchSession::queue().sync([] {});
        TallyWatchConnectivity::cleanup();
        platform::WatchSession::setDefaultSession(nullptr);
        TallyWatchSession::resetForTesting();
        TallyWatch::resetForTesting();
        Tally::reset();
        TallyUtil::setLogObserver(nullptr);
        TallyUtil::setLogLevel(1);
        TallyGlobalPersistentManager::cleanup();
        platform::DeviceFacts::setBundleInfo(std::nullopt);
        platform::DeviceFacts::setExecutablePath(std::nullopt);
        TallyClock::setSource(nullptr);
        platform::Directories::setRootOverride(std::nullopt);
    }
    void bundle(Value::Dict extra) {
        extra["Tally Watch API Key"] = Value("WATCHKEY");
        platform::DeviceFacts::setBundleInfo(extra);
        TallyWatchSession::resetForTesting();
        TallyWatch::resetForTesting();
    }
    size_t logged(std::string const& line) {
        std::lock_guard lock(linesLock);
        return size_t(std::count(lines.begin(), lines.end(), line));
    }
    size_t sentBlocks() {
        size_t n = 0;
        TallyWatchSession::queue().sync([&] {
            if (auto s = TallyDataSender::instance())
                n = s->dataIndex()->notSentBlocksForDataKey(TallyDataSender::dataKey()).size();
        });
        return n;
    }
    testing_support::TempDir dir;
    std::atomic<double> now{1700000000.0};
    std::mutex linesLock;
    std::vector<std::string> lines;
};

}  // namespace

TEST_F(Watch, ThresholdsEndingExpiryAndTheReport) {
    auto thresholds = [&](Value::Dict keys) {
        bundle(std::move(keys));
        std::shared_ptr<TallyWatchSession> s;
        TallyWatchSession::queue().sync([&] { s = TallyWatchSession::currentWatchSession(), s->endWatchSession(); });
        return std::make_pair(s->watchEventThreshold(), s->watchDurationThreshold());
    };
    EXPECT_EQ(thresholds({{"Tally Watch Event Threshold", Value(3)}, {"Tally Watch Duration Threshold", Value(61)}}),
              std::make_pair(5, 60));
    EXPECT_EQ(thresholds({{"Tally Watch Event Threshold", Value(70)}, {"Tally Watch Duration Threshold", Value("x")}}),
              std::make_pair(50, 10));

    // Threshold 5: four events save the session, the fifth ends it and sends one block.
    bundle({{"Tally Watch Event Threshold", Value(5)}});
    size_t const before = sentBlocks();
    EXPECT_EQ(TallyWatch::logWatchEvent(std::string("e"), Value::Dict{{"k", Value(1)}}), 1);
    Value::Dict eleven;
    for (int i = 0; i < 11; ++i) eleven["k" + std::to_string(i)] = Value(i);
    EXPECT_EQ(TallyWatch::logWatchEvent(std::string("e"), eleven), 3);
    TallyWatch::logWatchError(std::string("err"), std::string("m"), std::nullopt);
    TallyWatch::logWatchEvent(std::string("f"), std::nullopt);
    auto current = [] {
        std::shared_ptr<TallyWatchSession> s;
        TallyWatchSession::queue().sync([&] { s = TallyWatchSession::currentWatchSession(); });
        return s;
    };
    auto first = current();
    EXPECT_EQ(first->totalEventCount(), 3);  // errors count
    EXPECT_EQ(sentBlocks(), before);
    TallyWatch::logWatchEvent(std::string("g"), std::nullopt);
    TallyWatch::logWatchEvent(std::string("h"), std::nullopt);
    EXPECT_EQ(sentBlocks(), before + 1);
    EXPECT_TRUE(first->endTime());
    auto blocks = TallyDataSender::instance()->dataIndex()->notSentBlocksForDataKey(TallyDataSender::dataKey());
    auto block = block_reader::readBlock(*blocks.back()->data(), true);
    EXPECT_EQ(block.version, 7);
    EXPECT_EQ(block.events.size(), 4u);
    EXPECT_TRUE(block.errors.empty());  // counted, written as 0

    // Expiry: ten minutes and one second after its start the next look ends it.
    auto s = current();
    now = now + 601;
    EXPECT_NE(current(), s);
    EXPECT_TRUE(s->endTime());

    // The phone's identifiers are kept; other user info is not the agent's.
    TallyWatchSession::queue().sync([&] {
        auto w = TallyWatchSession::currentWatchSession();
        EXPECT_FALSE(w->tallyUserInfo({{"other", Value("x")}}));
        EXPECT_TRUE(w->tallyUserInfo({{"tally://id2", Value("00112233-4455-6677-8899-AABBCCDDEEFF")}}));
        auto r = block_reader::readReport(*w->dataForSessions({*w->data()}), true);
        EXPECT_EQ(r.ids.at(15).size(), 16u);
    });
}

TEST_F(Watch, PageViewsThroughTheHostsDelegateSlot) {
    platform::DeviceFacts::setExecutablePath(std::nullopt);
    Tally::startSession("KEY");
    auto impl = TallyImpl::currentSession();
    auto host = std::make_shared<Host>();
    auto mine = std::make_shared<Shown>();
    host->setDelegate(mine);
    Tally::logAllPageViewsForTarget(host);
    int const start = impl->pageViewCount();
    host->delegate()->didShowViewController("a", true);
    now = now + 0.1;
    host->delegate()->didShowViewController("b", true);
    EXPECT_EQ(impl->pageViewCount(), start + 1);  // 0.1 s apart: once
    now = now + 0.5;
    host->delegate()->didShowViewController("c", true);
    EXPECT_EQ(impl->pageViewCount(), start + 2);
    EXPECT_EQ(mine->shown, 3);
    // The host puts its own delegate in: the wrapper takes the slot back and forwards to it.
    auto later = std::make_shared<Shown>();
    host->setDelegate(later);
    EXPECT_NE(host->delegate(), later);
    host->delegate()->didShowViewController("d", false);
    EXPECT_EQ(later->shown, 1);
    Tally::stopLogPageViewsForTarget(host);
    EXPECT_EQ(host->delegate(), later);
    EXPECT_EQ(TallyPageViewDelegate::registrySize(), 0u);
    EXPECT_TRUE(host->delegate()->shouldSelectViewController("x") == std::nullopt);
}

namespace {

// A host's own delegate on one end of the link: what reached it, in order.
class LinkApp : public platform::WatchSessionDelegate {
public:
    void didReceiveUserInfo(std::shared_ptr<platform::WatchSession> const&, Value::Dict const& info) override {
        std::lock_guard lock(mutex);
        received.push_back(info);
        if (keepForAgent) kept.push_back(TallyWatch::tallyUserInfo(info));
    }
    void didFinishUserInfoTransfer(std::shared_ptr<platform::WatchSession> const&,
                                   std::shared_ptr<platform::WatchUserInfoTransfer> const& t,
                                   std::optional<platform::Error> const& error) override {
        std::lock_guard lock(mutex);
        finished.push_back(t->userInfo);
        if (error) errors.push_back(error->code);
    }
    std::vector<Value::Dict> receivedNow() {
        std::lock_guard lock(mutex);
        return received;
    }
    std::vector<Value::Dict> finishedNow() {
        std::lock_guard lock(mutex);
        return finished;
    }
    std::mutex mutex;
    bool keepForAgent = false;  // a watch app that hands what it receives to the agent
    std::vector<Value::Dict> received, finished;
    std::vector<int64_t> errors;
    std::vector<bool> kept;
};

size_t agentsIn(std::vector<Value::Dict> const& infos) {
    return size_t(std::count_if(infos.begin(), infos.end(), [](auto const& i) { return i.count("tally://id2") > 0; }));
}

// The phone app's end as the process's watch session with the host's own delegate on it, and the
// watch app's end with its delegate.
struct PhoneLink {
    std::shared_ptr<platform::InProcessWatchSession> phone, watch;
    std::shared_ptr<LinkApp> host = std::make_shared<LinkApp>(), watchApp = std::make_shared<LinkApp>();
};
PhoneLink phoneLink() {
    platform::DeviceFacts::setExecutablePath(std::nullopt);
    PhoneLink l;
    std::tie(l.phone, l.watch) = platform::InProcessWatchSession::pair();
    platform::WatchSession::setDefaultSession(l.phone);
    l.phone->setDelegate(l.host);
    l.watch->setDelegate(l.watchApp);
    return l;
}

// Until the session queue, the connectivity queue and the channel have nothing left to pass on.
void settle(platform::InProcessWatchSession& phone) {
    for (int i = 0; i < 2; ++i) {
        if (auto impl = TallyImpl::currentSession()) impl->queue().sync([] {});
        TallyWatchConnectivity::queue().sync([] {});
        phone.flush();
    }
}

}  // namespace

// The phone's agent sends its identifiers over the link; the host's own traffic still reaches the
// host's delegate, also after the host replaces it.
TEST_F(Watch, PhoneSendsItsIdentifiersAndTheHostKeepsItsOwnTraffic) {
    PhoneLink l = phoneLink();
    auto &phone = l.phone, &watch = l.watch;
    auto &host = l.host, &watchApp = l.watchApp;
    // No watch app running yet: the identifiers are not sent, and not kept for later.
    Tally::startSession("KEY");
    settle(*phone);
    EXPECT_NE(phone->delegate(), host);  // the agent's proxy holds the slot
    watch->activateSession();
    settle(*phone);
    EXPECT_TRUE(watchApp->receivedNow().empty());
    // A new session sends them again; now they arrive.
    auto newSession = [&] {
        Tally::applicationWillResignActive();
        now = now + 11;
        Tally::applicationDidBecomeActive();
        settle(*phone);
    };
    newSession();
    auto got = watchApp->receivedNow();
    ASSERT_GE(agentsIn(got), 1u);
    EXPECT_EQ(got[0].at("tally://id2").string()->size(), 36u);
    EXPECT_TRUE(host->finishedNow().empty());  // the agent's transfer is its own

    // What the watch sends reaches the host, identifiers or not: the phone keeps none.
    watch->transferUserInfo({{"tally://id2", Value("x")}});
    watch->transferUserInfo({{"score", Value(3)}});
    phone->transferUserInfo({{"hello", Value(1)}});
    watch->flush();
    settle(*phone);
    EXPECT_EQ(host->receivedNow().size(), 2u);
    ASSERT_EQ(host->finishedNow().size(), 1u);
    EXPECT_EQ(host->finishedNow()[0].count("hello"), 1u);

    // The host puts in another delegate: the proxy takes the slot back and forwards to it.
    auto later = std::make_shared<LinkApp>();
    phone->setDelegate(later);
    settle(*phone);
    EXPECT_NE(phone->delegate(), later);
    watch->transferUserInfo({{"score", Value(4)}});
    watch->flush();
    settle(*phone);
    EXPECT_EQ(later->receivedNow().size(), 1u);
    EXPECT_EQ(host->receivedNow().size(), 2u);
    // The host puts the same delegate in again: the proxy returns once more.
    phone->setDelegate(later);
    settle(*phone);
    EXPECT_NE(phone->delegate(), later);

    // Transfer switched off: new sessions send nothing more.
    size_t const sent = agentsIn(watchApp->receivedNow());
    Tally::disableTransferOfTallyInfo();
    newSession();
    EXPECT_EQ(agentsIn(watchApp->receivedNow()), sent);
}

// With watch connectivity switched off the agent leaves the host's delegate in the slot and never
// activates the session, which then knows of no watch to send to.
TEST_F(Watch, PhoneWithConnectivitySwitchedOffLeavesTheHostsDelegate) {
    PhoneLink l = phoneLink();
    auto &phone = l.phone;
    auto &host = l.host, &watchApp = l.watchApp;
    l.watch->activateSession();
    Tally::disableWatchConnectivity();
    Tally::startSession("KEY");
    settle(*phone);
    EXPECT_EQ(phone->delegate(), host);
    EXPECT_FALSE(phone->isPaired());
    EXPECT_TRUE(watchApp->receivedNow().empty());
    EXPECT_TRUE(host->finishedNow().empty());
}

// A watch extension takes the phone's identifiers from the link into its report, and passes the
// rest to the watch app's own delegate.
TEST_F(Watch, WatchExtensionKeepsThePhonesIdentifiers) {
    auto [phone, watch] = platform::InProcessWatchSession::pair();
    platform::WatchSession::setDefaultSession(watch);
    auto phoneApp = std::make_shared<LinkApp>(), watchApp = std::make_shared<LinkApp>();
    phone->setDelegate(phoneApp);
    watch->setDelegate(watchApp);
    phone->activateSession();
    EXPECT_EQ(TallyWatch::logWatchEvent(std::string("open")), 1);
    TallyWatchSession::queue().sync([] {});
    TallyWatchConnectivity::queue().sync([] {});
    EXPECT_NE(watch->delegate(), watchApp);
    std::string const id = "00112233-4455-6677-8899-AABBCCDDEEFF";
    phone->transferUserInfo({{"tally://id2", Value(id)}});
    phone->transferUserInfo({{"note", Value("hi")}});
    phone->flush();
    TallyWatchConnectivity::queue().sync([] {});
    auto got = watchApp->receivedNow();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].count("note"), 1u);
    EXPECT_EQ(phoneApp->finishedNow().size(), 2u);
    EXPECT_TRUE(TallyWatch::isTallyUserInfo({{"tally://id1", Value("v")}}));
    TallyWatchSession::queue().sync([&] {
        auto w = TallyWatchSession::currentWatchSession();
        auto r = block_reader::readReport(*w->dataForSessions({*w->data()}), true);
        EXPECT_EQ(r.ids.at(15).size(), 16u);
    });
}

// A watch app that keeps its own delegate (no watch session in the process for the agent to
// stand in) hands the identifiers it receives to the agent itself.
TEST_F(Watch, WatchAppHandsTheIdentifiersOver) {
    std::string const id = "00112233-4455-6677-8899-AABBCCDDEEFF";
    auto [phone, watch] = platform::InProcessWatchSession::pair();
    auto keeper = std::make_shared<LinkApp>(), phoneApp = std::make_shared<LinkApp>();
    keeper->keepForAgent = true;
    watch->setDelegate(keeper);
    phone->setDelegate(phoneApp);
    // Not yet activated, the phone's end sends nothing.
    phone->transferUserInfo({{"early", Value(1)}});
    phone->flush();
    {
        std::lock_guard lock(phoneApp->mutex);
        EXPECT_EQ(phoneApp->errors, std::vector<int64_t>{platform::InProcessWatchSession::kNotActivated});
    }
    phone->activateSession();
    watch->activateSession();
    EXPECT_EQ(TallyWatch::logWatchEvent(std::string("open")), 1);
    phone->transferUserInfo({{"tally://id2", Value(id)}});
    phone->transferUserInfo({{"note", Value("hi")}});
    phone->flush();
    {
        std::lock_guard lock(keeper->mutex);
        EXPECT_EQ(keeper->kept, (std::vector<bool>{true, false}));
    }
    TallyWatchSession::queue().sync([&] {
        auto w = TallyWatchSession::currentWatchSession();
        ASSERT_TRUE(w->watchIDs());
        EXPECT_EQ(w->watchIDs()->at("tally://id2"), Value(id));
    });
}

TEST_F(Watch, PublicWatchCallsCheckTheirInputs) {
    TallyUtil::setLogLevel(2);
    platform::DeviceFacts::setBundleInfo(Value::Dict{});
    TallyWatch::resetForTesting();
    EXPECT_EQ(TallyWatch::apiKey(), std::nullopt);
    EXPECT_EQ(TallyWatch::logWatchEvent(std::string("e")), 0);
    TallyWatch::logWatchError(std::string("id"), std::string("m"), std::nullopt);
    EXPECT_EQ(logged("No API key provided in plist, unable to log event"), 1u);
    EXPECT_EQ(logged("No API key provided in plist, unable to log error"), 1u);

    bundle({});
    EXPECT_EQ(TallyWatch::apiKey(), "WATCHKEY");
    EXPECT_EQ(TallyGlobalVariableStorage::sharedInstance()->apiKey(), "WATCHKEY");
    platform::DeviceFacts::setExecutablePath("/usr/games/zelv");
    EXPECT_EQ(TallyWatch::logWatchEvent(std::string("e")), 0);
    TallyWatch::logWatchError(std::string("id"), std::string("m"), TallySession::ExceptionInfo{"N", "R"});
    EXPECT_EQ(logged("Tally: Event not logged -- this method can only be used in watch extension."), 1u);
    EXPECT_EQ(logged("Tally: Error not logged -- this method can only be used in watch extension."), 1u);

    platform::DeviceFacts::setExecutablePath(kExtension);
    Value::Dict ten;
    for (int i = 0; i < 10; ++i) ten["k" + std::to_string(i)] = Value(i);
    Value::Dict eleven = ten;
    eleven["x"] = Value(1);
    EXPECT_EQ(TallyWatch::logWatchEvent(std::nullopt), 0);
    EXPECT_EQ(TallyWatch::logWatchEvent(std::string()), 0);
    EXPECT_EQ(TallyWatch::logWatchEvent(std::string("e"), eleven), 3);
    EXPECT_EQ(TallyWatch::logWatchEvent(std::string("e"), ten), 1);
    EXPECT_EQ(logged("Tally: Event not logged -- eventName must be of NSString type."), 1u);
    EXPECT_EQ(logged("Tally: Event not logged -- eventName may not be empty."), 1u);
    EXPECT_EQ(logged("Tally: Event not logged -- parameters may not contain more than 10 elements."), 1u);
    TallyWatch::logWatchError(std::nullopt, std::string("m"), std::nullopt);
    TallyWatch::logWatchError(std::string("id"), std::nullopt, TallySession::ExceptionInfo{"N", "R"});
    EXPECT_EQ(logged("Tally: Error not logged -- errorId must be of NSString type."), 1u);
    EXPECT_EQ(logged("Tally: Error not logged -- message must be of NSString type."), 1u);
    TallyWatch::logWatchError(std::string("crash"), std::string("m"), TallySession::ExceptionInfo{"Name", "Reason"});
    TallyWatchSession::queue().sync([&] {
        auto w = TallyWatchSession::currentWatchSession();
        ASSERT_EQ(w->eventLog().size(), 1u);
        ASSERT_EQ(w->errors().size(), 1u);
        EXPECT_EQ(w->errors()[0]->errorType(), 2);
    });
    TallyWatch::setServerURL("http://127.0.0.1:9/watch");
    EXPECT_EQ(TallyNetworkUtil::serverURL(), "http://127.0.0.1:9/watch");
}

namespace {

class TabHost : public Host {
public:
    Kind kind() const override { return Kind::TabBar; }
};

// A host's own delegate that answers every operation.
class Everything : public TallyPageViewHostDelegate {
public:
    void didShowViewController(std::string const& vc, bool) override { calls.push_back("didShow " + vc); }
    void willShowViewController(std::string const& vc, bool) override { calls.push_back("willShow " + vc); }
    std::optional<bool> shouldSelectViewController(std::string const& vc) override {
        calls.push_back("shouldSelect " + vc);
        return false;
    }
    void didSelectViewController(std::string const& vc) override { calls.push_back("didSelect " + vc); }
    void willBeginCustomizingViewControllers(std::vector<std::string> const& vcs) override {
        calls.push_back("willBegin " + std::to_string(vcs.size()));
    }
    void willEndCustomizingViewControllers(std::vector<std::string> const& vcs, bool changed) override {
        calls.push_back("willEnd " + std::to_string(vcs.size()) + " " + std::to_string(changed));
    }
    void didEndCustomizingViewControllers(std::vector<std::string> const& vcs, bool changed) override {
        calls.push_back("didEnd " + std::to_string(vcs.size()) + " " + std::to_string(changed));
    }
    std::vector<std::string> calls;
};

}  // namespace

// Each delegate operation of a tab-bar host reaches the host's own delegate through the wrapper;
// only a shown screen and a selected tab count.
TEST_F(Watch, EveryHostDelegateOperationIsForwarded) {
    platform::DeviceFacts::setExecutablePath(std::nullopt);
    Tally::startSession("KEY");
    auto impl = TallyImpl::currentSession();
    TallyUtil::setLogLevel(2);
    auto run = [&](std::shared_ptr<Host> const& host) {
        auto d = host->delegate();
        d->willShowViewController("a", true);
        d->didShowViewController("a", true);
        impl->queue().sync([] {});  // counted at the time the session queue takes it
        now = now + 1;
        bool const answer = d->shouldSelectViewController("b").value_or(true);
        d->didSelectViewController("b");
        impl->queue().sync([] {});
        now = now + 1;
        d->willBeginCustomizingViewControllers({"a", "b"});
        d->willEndCustomizingViewControllers({"a", "b"}, true);
        d->didEndCustomizingViewControllers({"b", "a"}, true);
        return answer;
    };
    auto tabs = std::make_shared<TabHost>();
    auto own = std::make_shared<Everything>();
    tabs->setDelegate(own);
    Tally::logAllPageViewsForTarget(tabs);
    int const before = impl->pageViewCount();
    EXPECT_FALSE(run(tabs));  // the host's delegate answers
    EXPECT_EQ(impl->pageViewCount(), before + 2);
    EXPECT_EQ(own->calls, (std::vector<std::string>{"willShow a", "didShow a", "shouldSelect b", "didSelect b",
                                                    "willBegin 2", "willEnd 2 1", "didEnd 2 1"}));
    EXPECT_EQ(logged("TallyPageViewDelegate: tabBarController [host], viewController [(a, b)], changed [1]"), 1u);
    EXPECT_EQ(logged("TallyPageViewDelegate: tabBarController [host], viewControllers [(b, a)], changed [1]"), 1u);

    // The fire-and-forget wrapper over a host without a delegate: it only logs and counts, and a
    // tab may be selected.
    auto nav = std::make_shared<Host>();
    Tally::logAllPageViews(nav);
    EXPECT_TRUE(run(nav));
    EXPECT_EQ(impl->pageViewCount(), before + 4);
    EXPECT_EQ(logged("TallyPageViewDelegateOld: tabBarController [host], viewController [(a, b)]"), 1u);
    // Anything but a navigation or tab-bar host is left alone.
    class Plain : public Host {
        Kind kind() const override { return Kind::Other; }
    };
    auto plain = std::make_shared<Plain>();
    Tally::logAllPageViewsForTarget(plain);
    EXPECT_FALSE(plain->delegate());
}
