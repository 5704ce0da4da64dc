// The report sender against the loopback server: blocks stored before sending, grouped
// retransmission with at most 9 requests in flight, deletion only after 2xx, and the reply's
// cookies.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "analytics/delivery/TallyHttpAsyncTask.h"
#include "analytics/delivery/TallyPulseCBReportSender.h"
#include "analytics/delivery/tests/NetworkFakes.h"
#include "analytics/delivery/tests/SenderFixture.h"

namespace {

using namespace delivery_test;
using namespace std::chrono_literals;
using Reply = testing_support::HttpTestServer::Reply;

platform::Data payload(size_t size, uint8_t fill) { return platform::Data(size, fill); }

class DataSenderTest : public SenderFixture {
protected:
    // Hands datas over while the endpoint cannot be reached, so each first send fails.
    std::shared_ptr<TallyDataSender> storeOffline(std::vector<platform::Data> const& datas) {
        auto s = make();
        size_t const before = server.requestCount();
        TallyNetworkUtil::setServerURL(closedLoopbackUrl("/aas.do"));
        for (auto const& d : datas) hand(s, d);
        EXPECT_TRUE(idle(s));
        TallyNetworkUtil::setServerURL(server.url("/aas.do"));
        EXPECT_EQ(stored(s), datas.size());
        EXPECT_EQ(server.requestCount(), before);
        return s;
    }
};

TEST_F(DataSenderTest, OfflineBlocksGoOutWithNineInFlight) {
    auto s = storeOffline(std::vector<platform::Data>(12, payload(300000, 1)));
    EXPECT_EQ(blockFiles(), 12u);
    server.on("/aas.do", Reply::of(Reply::Kind::Hold));
    networkBecameReachable();
    for (int i = 0; i < 3000 && server.heldNow() < 9; ++i) std::this_thread::sleep_for(10ms);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(server.heldNow(), 9u);
    EXPECT_EQ(server.requestCount(), 9u);
    // A tenth data while nine run is stored, not posted.
    hand(s, payload(1000, 2));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(server.requestCount(), 9u);
    EXPECT_EQ(stored(s), 13u);

    server.release();
    ASSERT_TRUE(idle(s));
    // The small one rode along with one of the others.
    auto requests = server.requests();
    EXPECT_EQ(requests.size(), 12u);
    for (auto const& r : requests) {
        EXPECT_EQ(r.method, "POST");
        EXPECT_EQ(r.path, "/aas.do");
        EXPECT_EQ(r.header("content-type"), "application/octet-stream");
        EXPECT_EQ(r.answeredStatus, 200);
    }
    EXPECT_EQ(stored(s), 0u);
    EXPECT_EQ(blockFiles(), 0u);
    EXPECT_TRUE(s->everSentReportSuccessfully());
}

// A 2xx that reaches a sender after another has taken its folder over (the transport finished
// as it was cancelled): what the live sender stored since stays listed and still goes out.
TEST_F(DataSenderTest, ALateReplyToADroppedSenderKeepsWhatTheLiveOneStored) {
    auto old = storeOffline({payload(1000, 1)});
    auto const blocks = old->dataIndex()->notSentBlocksForDataKey(TallyDataSender::dataKey());
    ASSERT_EQ(blocks.size(), 1u);
    drop();
    TallyNetworkUtil::setServerURL(closedLoopbackUrl("/aas.do"));
    auto live = make();
    hand(live, payload(1000, 2));
    ASSERT_TRUE(idle(live));
    TallyNetworkUtil::setServerURL(server.url("/aas.do"));
    ASSERT_EQ(stored(live), 2u);

    auto task = TallyHttpAsyncTask::taskClass().sendMethod("POST", server.url("/aas.do"), {}, {}, old, false);
    ASSERT_TRUE(task);
    task->setTag(blocks.front()->identifier());
    old->requestSuccessful(task, TallyHTTPResponse::initWithBody({}, 200, {}, std::nullopt));
    settle(old);
    settle(live);

    drop();
    auto reloaded = make();
    EXPECT_EQ(stored(reloaded), 2u);
    EXPECT_EQ(blockFiles(), 2u);
}

TEST_F(DataSenderTest, GroupsStayUnderTheSizeLimitButCarryTheirFirstBlock) {
    server.on("/aas.do", Reply::answer(200));
    struct Case {
        std::vector<size_t> sizes;
        std::vector<size_t> groups;
    };
    Case const cases[] = {
        {{600000}, {1}},
        {{200000, 200000, 200000}, {2, 1}},
        {{600000, 200000, 200000, 200000}, {1, 2, 1}},
        {std::vector<size_t>(12, 100000), {5, 5, 2}},
        {{509952 - 1000, 1000, 1}, {2, 1}},
    };
    for (auto const& c : cases) {
        std::vector<platform::Data> datas;
        for (size_t n : c.sizes) datas.push_back(payload(n, 3));
        auto s = storeOffline(datas);
        size_t const before = delegate->groups().size();
        size_t const requestsBefore = server.requestCount();
        networkBecameReachable();
        ASSERT_TRUE(idle(s));
        auto const groups = delegate->groups();
        std::vector<size_t> const pass(groups.begin() + ptrdiff_t(before), groups.end());
        EXPECT_EQ(pass, c.groups) << c.sizes.size() << " blocks";
        EXPECT_EQ(server.requestCount() - requestsBefore, c.groups.size());
        EXPECT_EQ(stored(s), 0u);
        s.reset();
        drop();
    }
}

TEST_F(DataSenderTest, OnlyTwoHundredsDeleteAndRepliesSetCookies) {
    auto s = make();
    server.on("/aas.do", {Reply::answer(503), Reply::answer(302), Reply::answer(200, [] {
                              Bytes b = reply({{"uid", "42"}, {"seen", "1"}});
                              return std::string(b.begin(), b.end());
                          }())});
    savedSinceLastCheck();
    hand(s, platform::Data{1, 2, 3});
    ASSERT_TRUE(idle(s));
    EXPECT_EQ(stored(s), 1u);
    networkBecameReachable();  // the 302 is no acceptance either
    ASSERT_TRUE(idle(s));
    EXPECT_EQ(stored(s), 1u);
    EXPECT_FALSE(s->everSentReportSuccessfully());
    networkBecameReachable();
    ASSERT_TRUE(idle(s));
    EXPECT_EQ(stored(s), 0u);
    EXPECT_EQ(blockFiles(), 0u);
    EXPECT_TRUE(s->everSentReportSuccessfully());
    EXPECT_EQ(cookies(), (std::map<std::string, std::string>{{"uid", "42"}, {"seen", "1"}}));
    EXPECT_TRUE(savedSinceLastCheck());
    // The flag is kept with the index.
    s.reset();
    drop();
    EXPECT_TRUE(make()->everSentReportSuccessfully());
}

TEST_F(DataSenderTest, ReplyBodiesStopWhereTheyMust) {
    auto s = make();
    auto cookieBody = [](int16_t count, std::vector<std::pair<std::string, std::string>> const& cookies) {
        return reply(cookies, count);
    };
    Bytes foreign = reply({{"a", "1"}});
    foreign[1] = 0x1F;
    Bytes negativeKey = reply({{"a", "1"}});
    negativeKey[10] = 0xFF;  // key length -1
    negativeKey[11] = 0xFF;
    Bytes overrun = reply({{"a", "1"}});
    overrun[14] = 0x40;  // value length far past the end
    std::vector<std::pair<std::string, std::string>> many;
    for (int i = 0; i < 1001; ++i) many.emplace_back("k" + std::to_string(i), "v");
    struct Case {
        char const* what;
        Bytes body;
        bool parses;
        bool saves;
        std::map<std::string, std::string> cookiesAfter;  // starting from {old: x}
    };
    Case const cases[] = {
        {"empty body clears", {}, true, false, {}},
        {"count 0", cookieBody(0, {}), true, true, {{"old", "x"}}},
        {"two cookies", reply({{"a", "1"}, {"old", ""}}), true, true, {{"a", "1"}}},
        {"foreign chunk type", foreign, false, false, {{"old", "x"}}},
        {"count above the cookies present", [&] { Bytes b = cookieBody(2, {{"a", "1"}}); b.pop_back(); b.pop_back(); return b; }(),
         false, false, {{"old", "x"}, {"a", "1"}}},
        {"negative key length", negativeKey, false, false, {{"old", "x"}}},
        {"overrunning value", overrun, false, false, {{"old", "x"}}},
        {"truncated", Bytes{0x01}, false, false, {{"old", "x"}}},
        {"key not UTF-8 skipped", reply({{"\xFF\xFE", "1"}, {"b", "2"}}), true, true, {{"old", "x"}, {"b", "2"}}},
    };
    for (auto const& c : cases) {
        setCookies({{"old", "x"}});
        savedSinceLastCheck();
        auto response = TallyHTTPResponse::initWithBody(c.body, 200, {}, std::nullopt);
        bool parsed = true;
        try {
            s->parseResponse(*response);
        } catch (TallyProtocolData::MalformedData const&) {
            parsed = false;
        } catch (std::out_of_range const&) {
            parsed = false;
        }
        EXPECT_EQ(parsed, c.parses) << c.what;
        EXPECT_EQ(cookies(), c.cookiesAfter) << c.what;
        EXPECT_EQ(savedSinceLastCheck(), c.saves) << c.what;
    }
    // The cookie map holds at most 1000 cookies.
    setCookies({});
    s->parseResponse(*TallyHTTPResponse::initWithBody(reply(many), 200, {}, std::nullopt));
    EXPECT_EQ(cookies().size(), 1000u);
}

// The quit closes the senders and then waits for the requests on their way. A request let through
// as a sender closes is one the wait sees, or it is refused: let through after the wait found none
// running, it would start at exit and go again with the next start. Each trial races one
// registration against a close and a wait, at a spread of offsets, on both senders the quit closes.
TEST_F(DataSenderTest, ARequestRegisteredAsTheQuitClosesTheSenderIsWaitedForOrNeverStarted) {
    constexpr int kTrials = 20000;
    auto spin = [](int n) {
        for (int i = 0; i < n; ++i) std::atomic_signal_fence(std::memory_order_seq_cst);
    };
    // Spins first, so the two sides start together, then yields to a side that has no core.
    auto await = [](std::atomic<int> const& at, int value) {
        for (int i = 0; at.load() != value; ++i)
            if (i > 20000) std::this_thread::yield();
    };
    // Each trial: the sender made, the registrar ready, both go together, the registration done.
    std::atomic<int> made{-1}, ready{-1}, go{-1}, done{-1};
    std::atomic<bool> registered{false};
    std::shared_ptr<TallyDataSenderBase> sender;
    std::shared_ptr<ITallyHttpAsyncTask> task;
    int offset = 0;  // > 0: the close comes later; < 0: the registration does
    std::thread registrar([&] {
        for (int trial = 0; trial < kTrials; ++trial) {
            await(made, trial);
            ready = trial;
            await(go, trial);
            spin(-offset);
            registered = sender->registerNewTask(task);
            done = trial;
        }
    });
    // Follows the point where the two sides meet, whatever this machine's speed.
    constexpr int kMaxBias = 4000;
    int bias = 0;
    int let = 0, refused = 0, unseen = 0;
    for (int trial = 0; trial < kTrials; ++trial) {
        if (trial % 2)
            sender = std::make_shared<TallyDataSender>(queue, nullptr);
        else
            sender = std::make_shared<TallyPulseCBReportSender>(queue);
        sender->initialize();
        task = TallyHttpAsyncTask::taskClass().sendMethod("POST", server.url("/aas.do"), {}, {}, nullptr, false);
        bias = std::clamp(bias, -kMaxBias, kMaxBias);
        offset = bias + (trial % 21 - 10) * 4;
        made = trial;
        await(ready, trial);
        go = trial;
        spin(offset);
        if (bias == kMaxBias) std::this_thread::yield();  // the registrar may share this core
        sender->close();
        // A deadline passed already: the wait only looks at what runs.
        bool const sawNone = sender->awaitRunningTasks(std::chrono::steady_clock::now());
        await(done, trial);
        if (!registered) {
            ++refused;
            bias += 2;
        } else {
            ++let;
            unseen += sawNone;
            bias -= 2;
        }
        sender->cancelTasks();
    }
    registrar.join();
    EXPECT_EQ(unseen, 0) << let << " let through, " << refused << " refused";
    EXPECT_GT(let, 0);
    EXPECT_GT(refused, 0);
}

}  // namespace
