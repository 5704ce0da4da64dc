// The watch-extension session from its bundle keys on a set clock, and page views counted from
// a fake navigation host's delegate slot.
#include <gtest/gtest.h>

#include "analytics/agent/Tally.h"
#include "analytics/agent/TallyClock.h"
#include "analytics/agent/TallyGlobalPersistentManager.h"
#include "analytics/agent/TallyGlobalVariableStorage.h"
#include "analytics/agent/TallyImpl.h"
#include "analytics/agent/TallyPageViewDelegate.h"
#include "analytics/agent/TallyWatchSession.h"
#include "analytics/agent/tests/SessionBlockReader.h"
#include "analytics/delivery/TallyDataSender.h"
#include "analytics/delivery/TallyDataSenderIndex.h"
#include "platform/base/DeviceFacts.h"
#include "platform/base/Directories.h"
#include "testing/TestPaths.h"

namespace {

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
        TallyClock::setSource([this] { return platform::Date{now}; });
        bundle({});
    }
    void TearDown() override {
        TallyWatchSession::queue().sync([] {});
        TallyWatchSession::resetForTesting();
        Tally::reset();
        TallyGlobalPersistentManager::cleanup();
        platform::DeviceFacts::setBundleInfo(std::nullopt);
        TallyClock::setSource(nullptr);
        platform::Directories::setRootOverride(std::nullopt);
    }
    void bundle(Value::Dict extra) {
        extra["Tally Watch API Key"] = Value("WATCHKEY");
        platform::DeviceFacts::setBundleInfo(extra);
        TallyWatchSession::resetForTesting();
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
    double now = 1700000000.0;
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
    now += 601;
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
    Tally::startSession("KEY");
    auto impl = TallyImpl::currentSession();
    auto host = std::make_shared<Host>();
    auto mine = std::make_shared<Shown>();
    host->setDelegate(mine);
    Tally::logAllPageViewsForTarget(host);
    int const start = impl->pageViewCount();
    host->delegate()->didShowViewController("a", true);
    now += 0.1;
    host->delegate()->didShowViewController("b", true);
    EXPECT_EQ(impl->pageViewCount(), start + 1);  // 0.1 s apart: once
    now += 0.5;
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
