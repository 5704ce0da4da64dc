// Partner callbacks end to end against the loopback server: events fire the configured
// requests with their values filled in and encoded, failures retry on the agent's timers
// (virtual time), outcomes go back in checksummed status reports.
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "analytics/delivery/TallyReachability.h"
#include "analytics/delivery/tests/NetworkFakes.h"
#include "analytics/delivery/tests/PulseFixture.h"
#include "platform/base/DeviceFacts.h"
#include "platform/base/NotificationCenter.h"

namespace {

using namespace pulse_test;
using Reply = testing_support::HttpTestServer::Reply;
using Request = testing_support::HttpTestServer::Request;

using delivery_test::FakeMonitor;

class PulseCallbacksTest : public PulseFixture {
protected:
    // The agent's network state from a fake monitor that has just lost the network.
    void goOffline() {
        injected.emplace();
        TallyNetworkUtil::resetForTesting();
        TallyNetworkUtil::initNetworkReachability();
        platform::SdkLoop::shared().waitUntilIdle();
        FakeMonitor::change(0);
        platform::SdkLoop::shared().waitUntilIdle();
        settle();
        ASSERT_FALSE(TallyNetworkUtil::isNetworkReachable());
    }
    void TearDown() override {
        if (injected) TallyNetworkUtil::resetForTesting();
        injected.reset();
        PulseFixture::TearDown();
    }
    std::optional<delivery_test::FakeMonitorInjected> injected;
};

TEST_F(PulseCallbacksTest, SessionStartEndAndEventsSendTheirRequestsWithEncodedValues) {
    for (auto p : {"/start", "/end", "/event"}) server.on(p, Reply::answer(200));
    auto get = callback(1, 0, "/start?d=%{session_duration_millis}&u=%{publisher_user_id}&z={zone}&n=%{event_name}",
                        {plainEvent("tally.session_start")});
    auto put = callback(2, 1, "/end?d=%{session_duration_millis}&f=%{fg_timespent_millis}&t=%{timestamp_epoch_millis}",
                        {plainEvent("tally.session_end")});
    put.hasBody = true;
    put.body = "never sent";
    auto post = callback(3, 2, "/event?u=%{publisher_user_id}", {triggerEvent("level_done", "mode", {"hard"})});
    post.hasBody = true;
    post.body = R"({"event":"%{event_name}","user":"%{publisher_user_id}"})";
    post.hasHeaders = true;
    post.headers = {{"Content-Type", "application/json"}};
    install(configuration({get, put, post}));
    // A user id holding quotes, an ampersand and its own placeholder: inserted once, encoded for
    // where it goes, and the queue does not hang on it.
    TallyGlobalVariableStorage::sharedInstance()->setUserID(R"(a"b&c %{publisher_user_id})");

    controller()->processEvent("tally.session_start", session(1000.0));
    controller()->processEvent("tally.session_end", session(1000.0, 1001.5));
    auto params = session(1000.0);
    params["mode"] = Value("easy");
    params["eventLogId"] = Value(3);
    controller()->processEvent("level_done", params);  // no trigger matches
    params["mode"] = Value("hard");
    controller()->processEvent("level_done", params);

    auto starts = requestsTo("/start", 1);
    auto ends = requestsTo("/end", 1);
    auto events = requestsTo("/event", 1);
    ASSERT_EQ(starts.size(), 1u);
    ASSERT_EQ(ends.size(), 1u);
    ASSERT_EQ(events.size(), 1u);
    std::string const encodedUser = "a%22b%26c%20%25%7Bpublisher_user_id%7D";
    EXPECT_EQ(starts[0].method, "GET");
    EXPECT_EQ(starts[0].query, "d=0&u=" + encodedUser + "&z=&n=tally.session_start");
    EXPECT_EQ(starts[0].body, "");
    EXPECT_EQ(starts[0].header("content-type"), "application/octet-stream");
    EXPECT_EQ(ends[0].method, "PUT");
    EXPECT_EQ(ends[0].query, "d=1500&f=1500&t=1000000");
    EXPECT_EQ(ends[0].body, "");
    EXPECT_EQ(events[0].method, "POST");
    EXPECT_EQ(events[0].query, "u=" + encodedUser);
    EXPECT_EQ(events[0].body, R"({"event":"level_done","user":"a\"b&c %{publisher_user_id}"})");
    EXPECT_EQ(events[0].header("content-type"), "application/json");

    // Three outcomes recorded against three invocations; nothing reported yet (15 needed).
    ASSERT_TRUE(waitUntil([&] { return firedCount() == 0; }));
    EXPECT_EQ(manager()->totalAttemptCount(), 3u);
    EXPECT_EQ(manager()->triggers().size(), 3u);
    EXPECT_EQ(countTo("/pcr.do"), 0u);
    EXPECT_EQ(firedCount(), 0u);
    auto const types = [&] {
        std::vector<int32_t> t;
        for (auto const& i : manager()->triggers()) t.push_back(i->triggerType);
        return t;
    }();
    EXPECT_EQ(types, (std::vector<int32_t>{2, 3, 4}));
    EXPECT_EQ(manager()->triggers()[2]->eventOccuranceId, 3);
}

TEST_F(PulseCallbacksTest, AFailingPartnerGetsThreeSendsOnTheTimersAndOneReport) {
    server.on("/fail", Reply::answer(503, "busy"));
    install(configuration({callback(9, 0, "/fail?x=1", {plainEvent("boss")})}, 3));
    auto& loop = platform::SdkLoop::shared();
    loop.setVirtualClock(true);
    controller()->processEvent("boss", session(1000.0));
    EXPECT_EQ(requestsTo("/fail", 1).size(), 1u);
    ASSERT_TRUE(waitUntil(noneInFlight));
    loop.advance(89'000);
    settle();
    EXPECT_EQ(countTo("/fail"), 1u);
    loop.advance(1'000);
    EXPECT_EQ(requestsTo("/fail", 2).size(), 2u);
    ASSERT_TRUE(waitUntil(noneInFlight));
    loop.advance(269'000);
    settle();
    EXPECT_EQ(countTo("/fail"), 2u);
    loop.advance(1'000);
    EXPECT_EQ(requestsTo("/fail", 3).size(), 3u);
    ASSERT_TRUE(waitUntil([&] { return firedCount() == 0; }));
    loop.advance(3'000'000);
    settle();
    loop.setVirtualClock(false);
    EXPECT_EQ(countTo("/fail"), 3u);
    EXPECT_EQ(firedCount(), 0u);

    // The third outcome makes the report due: one invocation, one callback, three attempts.
    auto reports = requestsTo("/pcr.do", 1);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].header("content-type"), "application/octet-stream");
    auto parsed = parseReport(reports[0].body);
    EXPECT_TRUE(parsed.crcValid);
    ASSERT_EQ(parsed.invocations.size(), 1u);
    ASSERT_EQ(parsed.invocations[0].callbacks.size(), 1u);
    auto const& attempts = parsed.invocations[0].callbacks[0].attempts;
    ASSERT_EQ(attempts.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(attempts[i].number, i + 1);
        EXPECT_EQ(attempts[i].status, 503);
        EXPECT_EQ(attempts[i].state, 4);
        EXPECT_EQ(attempts[i].final, i == 2);
    }
    // Reported attempts are gone, from memory and from the file.
    EXPECT_TRUE(manager()->triggers().empty());
    EXPECT_EQ(manager()->totalAttemptCount(), 0u);
    EXPECT_TRUE(manager()->savedTriggers().empty());
}

TEST_F(PulseCallbacksTest, ResigningActiveDropsTheTimersAndBecomingActiveFiresWhatWaits) {
    server.on("/fail", Reply::answer(503));
    install(configuration({callback(9, 0, "/fail", {plainEvent("boss")})}));
    auto& loop = platform::SdkLoop::shared();
    loop.setVirtualClock(true);
    controller()->processEvent("boss", session(1000.0));
    EXPECT_EQ(requestsTo("/fail", 1).size(), 1u);
    ASSERT_TRUE(waitUntil(noneInFlight));
    EXPECT_EQ(TallyGlobalVariableStorage::sharedInstance()->pendingUrlTimers().size(), 1u);
    auto& center = platform::NotificationCenter::shared();
    center.post(TallyPulseEventController::kWillResignActiveNotification);
    EXPECT_TRUE(TallyGlobalVariableStorage::sharedInstance()->pendingUrlTimers().empty());
    loop.advance(100'000);
    settle();
    EXPECT_EQ(countTo("/fail"), 1u);
    center.post(TallyPulseEventController::kDidBecomeActiveNotification);
    EXPECT_EQ(requestsTo("/fail", 2).size(), 2u);
    loop.setVirtualClock(false);
}

TEST_F(PulseCallbacksTest, AFastFailureIsReportedAndAnEscapedUrlKeepsOneKey) {
    // A port nothing listens on fails at once: its outcome must still be recorded.
    CallbackFixture refused;
    refused.callbackId = 4;
    refused.uri = delivery_test::closedLoopbackUrl("/x");
    refused.events = {plainEvent("refused")};
    server.on("/sp ace", Reply::answer(503));
    auto spaced = callback(5, 0, "/sp ace?e=%{event_name}", {plainEvent("spaced")});
    auto s = configuration({refused, spaced}, 100);
    s.maxRetries = 1;
    install(s);
    controller()->processEvent("refused", session(1000.0));
    auto const deadline = std::chrono::steady_clock::now() + 10s;
    while (manager()->totalAttemptCount() < 1 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(5ms);
        settle();
    }
    ASSERT_EQ(manager()->triggers().size(), 1u);
    auto attempts = manager()->triggers()[0]->callbacks()[0]->attempts();
    ASSERT_EQ(attempts.size(), 1u);
    EXPECT_EQ(attempts[0]->requestState(), 4);
    EXPECT_TRUE(attempts[0]->finalAttempt());

    // The URL with a blank is escaped before it is first hashed: a retry finds its one entry.
    auto& loop = platform::SdkLoop::shared();
    loop.setVirtualClock(true);
    auto s2 = configuration({refused, spaced}, 100);
    s2.maxRetries = 2;
    install(s2);
    controller()->processEvent("spaced", session(1000.0));
    auto first = requestsTo("/sp%20ace", 1);
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0].query, "e=spaced");
    ASSERT_TRUE(waitUntil(noneInFlight));
    EXPECT_EQ(firedCount(), 1u);
    loop.advance(90'000);
    EXPECT_EQ(requestsTo("/sp%20ace", 2).size(), 2u);
    loop.setVirtualClock(false);
    // The second failure was final and removed the one key.
    EXPECT_TRUE(waitUntil([&] { return firedCount() == 0; }));
    EXPECT_EQ(manager()->triggers().back()->callbacks()[0]->attempts().size(), 2u);
}

TEST_F(PulseCallbacksTest, OfflineFailuresWaitForTheNetworkAndExpiredAttemptsAreDropped) {
    goOffline();

    std::atomic<int> calls{0};
    server.on("/flaky", [&](Request const&) { return Reply::answer(++calls == 1 ? 500 : 200); });
    auto& loop = platform::SdkLoop::shared();
    loop.setVirtualClock(true);
    install(configuration({callback(6, 0, "/flaky", {plainEvent("e")})}));
    controller()->processEvent("e", session(1000.0));
    EXPECT_EQ(requestsTo("/flaky", 1).size(), 1u);
    ASSERT_TRUE(waitUntil(noneInFlight));
    loop.advance(1'000'000);  // no timer while offline
    settle();
    loop.setVirtualClock(false);
    EXPECT_EQ(countTo("/flaky"), 1u);
    EXPECT_EQ(firedCount(), 1u);

    // A stored attempt whose validity has passed goes without a request.
    auto stale = std::make_shared<TallyPulseCallbackAttemptInfo>();
    stale->setSubstitutedUrl(server.url("/stale"));
    stale->setExpiration(platform::Date{platform::Date::now().secondsSince1970 - 1});
    TallyGlobalPersistentManager::sharedInstance()->writeSync(TallyGlobalPersistentManager::PulseUrls,
                                                             [&](Value::Dict& m) { m["stale"] = Value(stale); });
    EXPECT_EQ(firedCount(), 2u);

    FakeMonitor::change(platform::NetworkMonitor::kReachable);
    EXPECT_EQ(requestsTo("/flaky", 2).size(), 2u);
    EXPECT_TRUE(waitUntil([&] { return firedCount() == 0; }));
    EXPECT_EQ(countTo("/stale"), 0u);
}

TEST_F(PulseCallbacksTest, AnAttemptWaitingLongerThanThreeDaysIsDroppedUnsent) {
    goOffline();
    server.on("/down", Reply::answer(500));
    install(configuration({callback(6, 0, "/down", {plainEvent("e")})}));
    auto& loop = platform::SdkLoop::shared();
    loop.setVirtualClock(true);
    controller()->processEvent("e", session(1000.0));
    EXPECT_EQ(requestsTo("/down", 1).size(), 1u);
    ASSERT_TRUE(waitUntil(noneInFlight));
    loop.advance((259'200 + 1) * 1000LL);
    FakeMonitor::change(platform::NetworkMonitor::kReachable);
    EXPECT_TRUE(waitUntil([&] { return firedCount() == 0; }));
    loop.setVirtualClock(false);
    EXPECT_EQ(countTo("/down"), 1u);
}

TEST_F(PulseCallbacksTest, ReportsGoOutAtFifteenOutcomesOrAfterTheDelayAndUnsentBlocksComeBack) {
    server.on("/ok", Reply::answer(200));
    install(configuration({callback(1, 0, "/ok", {plainEvent("e")})}));
    for (int i = 0; i < 14; ++i) controller()->processEvent("e", session(1000.0));
    requestsTo("/ok", 14);
    ASSERT_TRUE(waitUntil([&] { return firedCount() == 0; }));
    EXPECT_EQ(countTo("/pcr.do"), 0u);
    controller()->processEvent("e", session(1000.0));
    auto reports = requestsTo("/pcr.do", 1);
    ASSERT_TRUE(waitUntil([&] { return firedCount() == 0; }));
    ASSERT_EQ(reports.size(), 1u);
    auto parsed = parseReport(reports[0].body);
    EXPECT_TRUE(parsed.crcValid);
    EXPECT_EQ(parsed.invocations.size(), 15u);

    // Under the count, only more than the delay since the last report sends (agent's clock, virtual here).
    auto& loop = platform::SdkLoop::shared();
    loop.setVirtualClock(true);
    loop.advance(590'000);
    controller()->processEvent("e", session(1000.0));
    requestsTo("/ok", 16);
    ASSERT_TRUE(waitUntil([&] { return firedCount() == 0; }));
    EXPECT_EQ(countTo("/pcr.do"), 1u);

    // The report endpoint fails once: the block stays and goes out with the next pass.
    server.on("/pcr.do", std::vector<Reply>{Reply::answer(500), Reply::answer(200)});
    loop.advance(11'000);
    controller()->processEvent("e", session(1000.0));
    EXPECT_EQ(requestsTo("/pcr.do", 2).size(), 2u);
    auto sender = TallyPulseCBReportSender::instance();
    ASSERT_TRUE(waitUntil([&] { return sender->runningTaskCount() == 0; }));
    EXPECT_EQ(sender->pulseCBReportDataIndex()->notSentBlocksForDataKey(TallyPulseCBReportSender::pulseCBReportDataKey()).size(), 2u);
    TallyPulseCBReportSender::instance()->queue().sync([&] { sender->retransmitNotSentBlocks(); });
    auto all = requestsTo("/pcr.do", 3);
    ASSERT_EQ(all.size(), 3u);
    auto again = parseReport(all[2].body);
    EXPECT_TRUE(again.crcValid);
    EXPECT_EQ(again.invocations.size(), 2u);
    EXPECT_TRUE(waitUntil([&] {
        return sender->pulseCBReportDataIndex()->notSentBlocksForDataKey(TallyPulseCBReportSender::pulseCBReportDataKey()).empty();
    }));
    EXPECT_TRUE(manager()->triggers().empty());
    loop.setVirtualClock(false);
}

TEST_F(PulseCallbacksTest, RetransmissionResumesAtTheBlockThatStoppedTheBatch) {
    install(configuration({}));
    auto sender = TallyPulseCBReportSender::instance();
    auto& index = *sender->pulseCBReportDataIndex();
    for (size_t size : {300'000u, 250'000u, 100'000u}) sender->storePulseCBReportData(platform::Data(size, 'r'), "g" + std::to_string(size));
    queue->sync([&] { sender->retransmitNotSentBlocks(); });
    auto posts = requestsTo("/pcr.do", 2);
    ASSERT_EQ(posts.size(), 2u);
    std::vector<size_t> sizes;
    for (auto const& p : posts) sizes.push_back(p.body.size());
    std::sort(sizes.begin(), sizes.end());
    // The report header around the records is the same size for both posts.
    size_t const header = sizes[0] - 300'000;
    EXPECT_EQ(sizes[1], 350'000 + header);
    EXPECT_TRUE(waitUntil([&] { return index.notSentBlocksForDataKey(TallyPulseCBReportSender::pulseCBReportDataKey()).empty(); }));

    // A block another sender holds (another copy of the app posting it) is left to it, and goes
    // with the next pass once let go.
    sender->storePulseCBReportData(platform::Data(1000, 'h'), "held");
    auto const listed = index.notSentBlocksForDataKey(TallyPulseCBReportSender::pulseCBReportDataKey());
    ASSERT_EQ(listed.size(), 1u);
    // A child forked without exec meanwhile, still alive, holds none of it.
    int toChild[2], fromChild[2];
    ASSERT_EQ(::pipe(toChild), 0);
    ASSERT_EQ(::pipe(fromChild), 0);
    pid_t child = -1;
    {
        auto const other = listed[0]->claim();
        ASSERT_EQ(other.state(), TallyDataSenderBlockInfo::Claim::Held);
        queue->sync([&] { sender->retransmitNotSentBlocks(); });
        EXPECT_EQ(sender->runningTaskCount(), 0u);
        bool forkable = true;
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
        forkable = false;  // its allocator is not kept whole across fork()
#endif
#endif
        if (forkable) child = ::fork();
        if (child == 0) {
            ::close(toChild[1]);
            char c = 1;
            // Its fork handlers have run: it is as it stays.
            while (::write(fromChild[1], &c, 1) < 0 && errno == EINTR) {
            }
            while (::read(toChild[0], &c, 1) < 0 && errno == EINTR) {
            }
            _exit(0);
        }
        ASSERT_TRUE(child > 0 || !forkable);
        char c;
        if (child > 0)
            while (::read(fromChild[0], &c, 1) < 0 && errno == EINTR) {
            }
    }
    queue->sync([&] { sender->retransmitNotSentBlocks(); });
    for (int fd : {toChild[0], toChild[1], fromChild[0], fromChild[1]}) ::close(fd);
    if (child > 0) ASSERT_EQ(::waitpid(child, nullptr, 0), child);
    EXPECT_EQ(requestsTo("/pcr.do", 3).size(), 3u);
    EXPECT_TRUE(waitUntil([&] { return index.notSentBlocksForDataKey(TallyPulseCBReportSender::pulseCBReportDataKey()).empty(); }));
    EXPECT_EQ(countTo("/pcr.do"), 3u);
}

TEST_F(PulseCallbacksTest, RecordsStayWhenNothingWasStoredOrPosted) {
    // A sender made with monitoring off has no index, and without a report URL nothing is posted.
    TallyPulseCBReportSender::cleanup();
    TallyGlobalVariableStorage::sharedInstance()->setPulseMonitoringEnabled(false);
    TallyPulseCBReportSender::setupInstanceWithQueue(queue);
    server.on("/ok", Reply::answer(200));
    auto s = configuration({callback(1, 0, "/ok", {plainEvent("e")})}, 1);
    s.reportUrl = "";
    install(s);
    controller()->processEvent("e", session(1000.0));
    requestsTo("/ok", 1);
    ASSERT_TRUE(waitUntil([&] { return firedCount() == 0; }));
    EXPECT_EQ(countTo("/pcr.do"), 0u);
    ASSERT_EQ(manager()->triggers().size(), 1u);
    EXPECT_EQ(manager()->totalAttemptCount(), 1u);
    EXPECT_EQ(manager()->savedTriggers().size(), 1u);
}

TEST_F(PulseCallbacksTest, ASessionEndProcessedAgainReusesItsInvocation) {
    server.on("/end", Reply::answer(200));
    install(configuration({callback(2, 1, "/end?d=%{session_duration_millis}", {plainEvent("tally.session_end")})}));
    controller()->processEvent("tally.session_end", session(1000.0, 1001.0));
    ASSERT_EQ(requestsTo("/end", 1).size(), 1u);
    ASSERT_TRUE(waitUntil([&] { return firedCount() == 0; }));
    controller()->processEvent("tally.session_end", session(1000.0, 1002.0));
    auto ends = requestsTo("/end", 2);
    ASSERT_EQ(ends.size(), 2u);
    EXPECT_EQ(ends[1].query, "d=2000");
    ASSERT_TRUE(waitUntil([&] { return firedCount() == 0; }));
    // One invocation; its record carries only the second processing's attempt and URL.
    auto triggers = manager()->triggers();
    ASSERT_EQ(triggers.size(), 1u);
    auto reports = triggers[0]->callbacks();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0]->substitutedUrl().find("d=2000"), std::string::npos);
    ASSERT_EQ(reports[0]->attempts().size(), 1u);
    EXPECT_EQ(reports[0]->attempts()[0]->substitutedUrl(), reports[0]->substitutedUrl());
    EXPECT_EQ(manager()->savedTriggers().size(), 1u);
}

TEST_F(PulseCallbacksTest, OptedOutUsersSendNoReportAndKeepNoneOnDisk) {
    server.on("/ok", Reply::answer(200));
    install(configuration({callback(1, 0, "/ok", {plainEvent("e")})}, 1));
    TallyUtil::setTallyOptOut(true);
    controller()->processEvent("e", session(1000.0));
    requestsTo("/ok", 1);
    ASSERT_TRUE(waitUntil([&] { return TallyGlobalVariableStorage::sharedInstance()->lastPulseReportTime().has_value(); }));
    settle();
    TallyUtil::setTallyOptOut(false);
    EXPECT_EQ(countTo("/pcr.do"), 0u);
    EXPECT_EQ(manager()->triggers().size(), 1u);
    EXPECT_TRUE(manager()->savedTriggers().empty());
}

TEST_F(PulseCallbacksTest, NoConfigurationOrAnalyticsOffIgnoresEvents) {
    server.on("/ok", Reply::answer(200));
    controller()->processEvent("e", session(1000.0));
    auto s = configuration({callback(1, 0, "/ok", {plainEvent("e")})});
    s.analyticsEnabled = false;
    auto stored = install(s);
    controller()->processEvent("e", session(1000.0));
    settle();
    EXPECT_EQ(countTo("/ok"), 0u);
    EXPECT_TRUE(manager()->triggers().empty());
    // A stored configuration without the flag leaves analytics on, as recording and sending read it.
    stored->setAnalytics({});
    controller()->processEvent("e", session(1000.0));
    EXPECT_EQ(requestsTo("/ok", 1).size(), 1u);
    EXPECT_EQ(TallyPulseEventController::pulseEventStringToEnum("tally.app_install"), 3);
    EXPECT_EQ(TallyPulseEventController::pulseEventStringToEnum("other"), 0);
}

}  // namespace
