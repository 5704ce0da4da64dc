#pragma once
// Shared set-up of the remote-configuration tests: a private files folder, the loopback server
// as the configuration, partner and report endpoints, settings stored as a reply would store
// them, and waits for the queues involved.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

#include "analytics/agent/TallyGlobalPersistentManager.h"
#include "analytics/agent/TallyGlobalVariableStorage.h"
#include "analytics/agent/TallyUtil.h"
#include "analytics/delivery/TallyNetworkUtil.h"
#include "analytics/delivery/TallyPulseCBReportSender.h"
#include "analytics/delivery/TallyPulseCallbackReportManager.h"
#include "analytics/delivery/TallyPulseEventController.h"
#include "analytics/delivery/TallyPulseRequest.h"
#include "analytics/delivery/TallyPulseResponse.h"
#include "analytics/delivery/tests/AvroTestWriter.h"
#include "platform/base/Digests.h"
#include "platform/base/Directories.h"
#include "platform/base/SdkLoop.h"
#include "testing/HttpTestServer.h"
#include "testing/TestPaths.h"

namespace pulse_test {

using platform::Value;
using namespace std::chrono_literals;

class PulseFixture : public ::testing::Test {
protected:
    void SetUp() override {
        platform::Directories::setRootOverride(dir.path());
        TallyGlobalPersistentManager::cleanup();
        TallyGlobalVariableStorage::cleanup();
        auto storage = TallyGlobalVariableStorage::sharedInstance();
        storage->setApiKey("key");
        storage->setPulseMonitoringEnabled(true);
        storage->setLastAdTrackingEnabledSetting(TallyUtil::isAdTrackingEnabled());
        storage->setAppVersion("1.2");
        TallyPulseSettings::registerArchiveClass();
        TallyPulseCallbackReportManager::resetForTesting();
        TallyPulseEventController::resetForTesting();
        TallyPulseCBReportSender::setupInstanceWithQueue(queue);
        TallyPulseCBReportSender::instance()->setRequestTimeout(5);
        server.on("/pcr.do", testing_support::HttpTestServer::Reply::answer(200));
    }
    void TearDown() override {
        requestsEnded();
        TallyPulseCBReportSender::cleanup();
        TallyPulseEventController::resetForTesting();
        TallyPulseCallbackReportManager::resetForTesting();
        TallyGlobalVariableStorage::sharedInstance()->removePendingUrlTimers();
        settle();
        TallyGlobalPersistentManager::cleanup();
        TallyGlobalVariableStorage::cleanup();
        platform::Directories::setRootOverride(std::nullopt);
    }

    // Settings decoded from a hand-encoded reply and stored as a good reply stores them.
    std::shared_ptr<TallyPulseSettings> install(ResponseFixture fixture) {
        TallyPulseResponse response;
        auto settings = response.parsePulseResponse(encodeResponse(fixture));
        EXPECT_TRUE(settings);
        TallyGlobalPersistentManager::sharedInstance()->writeSync(TallyGlobalPersistentManager::Globals,
                                                                 [&](Value::Dict& g) { g["pulseSettings"] = Value(settings); });
        return settings;
    }
    ResponseFixture configuration(std::vector<CallbackFixture> callbacks, int32_t attemptsPerReport = 15) {
        ResponseFixture r;
        r.callbacks = std::move(callbacks);
        r.maxAttemptsPerReport = attemptsPerReport;
        r.reportUrl = server.url("/pcr.do");
        return r;
    }
    CallbackFixture callback(int64_t id, int method, std::string const& pathAndQuery, std::vector<EventFixture> events) {
        CallbackFixture c;
        c.callbackId = id;
        c.method = method;
        c.uri = server.url(pathAndQuery);
        c.events = std::move(events);
        return c;
    }
    static Value::Dict session(double start, std::optional<double> end = std::nullopt) {
        return {{"sessionStartTimeForPulse", Value(platform::Date{start})},
                {"sessionEndTimeForPulse", Value(platform::Date{end.value_or(start)})}};
    }
    static std::shared_ptr<TallyPulseEventController> controller() { return TallyPulseEventController::sharedInstance(); }
    static std::shared_ptr<TallyPulseCallbackReportManager> manager() { return TallyPulseCallbackReportManager::sharedInstance(); }

    // Runs every queue involved until nothing moves any more.
    void settle() {
        for (int round = 0; round < 3; ++round) {
            TallyGlobalPersistentManager::sharedInstance()->waitUntilIdle();
            if (auto c = TallyPulseEventController::sharedInstance()) c->queue().waitUntilIdle();
            platform::SdkLoop::shared().waitUntilIdle();
            manager()->queue().waitUntilIdle();
            queue->waitUntilIdle();
            TallyPulseRequest::accessQueue().waitUntilIdle();
            TallyPulseRequest::appInstallQueue().waitUntilIdle();
        }
    }
    // Waits until no configuration request is in flight (its reply handled), then settles.
    void requestsEnded() {
        waitUntil([] { return TallyPulseRequest::sharedInstance()->runningTaskCount() == 0; }, 5s);
        platform::SdkLoop::shared().waitUntilIdle();
        settle();
    }
    // Waits for n requests to a path, then lets what they cause settle.
    std::vector<testing_support::HttpTestServer::Request> requestsTo(std::string const& path, size_t n,
                                                                    std::chrono::milliseconds timeout = 10s) {
        auto const end = std::chrono::steady_clock::now() + timeout;
        std::vector<testing_support::HttpTestServer::Request> out;
        for (;;) {
            out.clear();
            for (auto const& r : server.requests())
                if (r.path == path && r.answeredStatus != 0) out.push_back(r);
            if (out.size() >= n || std::chrono::steady_clock::now() > end) break;
            std::this_thread::sleep_for(5ms);
        }
        requestsEnded();
        return out;
    }
    // Polls the condition, letting the queues settle in between.
    bool waitUntil(std::function<bool()> const& condition, std::chrono::milliseconds timeout = 10s) {
        auto const end = std::chrono::steady_clock::now() + timeout;
        while (!condition()) {
            if (std::chrono::steady_clock::now() > end) return false;
            std::this_thread::sleep_for(2ms);
            settle();
        }
        // What the condition's last step queued (an outcome for the report manager) runs too.
        settle();
        return true;
    }
    // Whether every stored attempt has its outcome (none in flight).
    static bool noneInFlight() {
        bool none = true;
        TallyGlobalPersistentManager::sharedInstance()->readSync(TallyGlobalPersistentManager::PulseUrls, [&](Value::Dict const& m) {
            for (auto const& [k, v] : m)
                if (auto a = v.objectAs<TallyPulseCallbackAttemptInfo>(); a && a->beingFired()) none = false;
        });
        return none;
    }
    size_t countTo(std::string const& path) {
        size_t n = 0;
        for (auto const& r : server.requests()) n += r.path == path;
        return n;
    }
    static size_t firedCount() {
        size_t n = 0;
        TallyGlobalPersistentManager::sharedInstance()->readSync(TallyGlobalPersistentManager::PulseUrls,
                                                                [&](Value::Dict const& m) { n = m.size(); });
        return n;
    }

    testing_support::TempDir dir;
    testing_support::HttpTestServer server;
    std::shared_ptr<platform::WorkQueue> queue = std::make_shared<platform::WorkQueue>("com.Tally.testSession");
};

// Reads a callback status report field by field; the CRC must cover everything before it.
struct ParsedReport {
    uint16_t invocationCount = 0;
    struct Attempt {
        uint16_t number, status, state;
        bool final;
    };
    struct Callback {
        int64_t id;
        std::string url;
        std::vector<Attempt> attempts;
    };
    struct Invocation {
        uint16_t type;
        std::string eventName;
        std::vector<Callback> callbacks;
    };
    std::vector<Invocation> invocations;
    bool crcValid = false;
};

inline ParsedReport parseReport(std::string const& body) {
    ParsedReport out;
    std::vector<uint8_t> b(body.begin(), body.end());
    size_t p = 0;
    auto need = [&](size_t n) {
        if (b.size() - p < n) throw std::runtime_error("report too short");
    };
    auto u16 = [&] {
        need(2);
        uint16_t v = uint16_t(b[p] << 8 | b[p + 1]);
        p += 2;
        return v;
    };
    auto i64 = [&] {
        need(8);
        int64_t v = 0;
        for (int i = 0; i < 8; ++i) v = v << 8 | b[p + size_t(i)];
        p += 8;
        return v;
    };
    auto str = [&] {
        uint16_t n = u16();
        need(n);
        std::string s(b.begin() + long(p), b.begin() + long(p) + n);
        p += n;
        return s;
    };
    if (u16() != 1 || u16() != 1) throw std::runtime_error("bad header");
    i64();
    str();  // api key
    str();  // app version
    if (u16() != 189) throw std::runtime_error("bad agent version");
    u16();
    str();
    need(1);
    ++p;
    u16();
    u16();
    str();
    u16();
    u16();
    str();
    out.invocationCount = u16();
    for (uint16_t i = 0; i < out.invocationCount; ++i) {
        ParsedReport::Invocation inv;
        inv.type = u16();
        i64();
        i64();
        need(1);
        ++p;
        u16();
        inv.eventName = str();
        uint16_t const callbacks = u16();
        for (uint16_t c = 0; c < callbacks; ++c) {
            ParsedReport::Callback cb;
            cb.id = i64();
            cb.url = str();
            uint16_t const attempts = u16();
            for (uint16_t a = 0; a < attempts; ++a) {
                ParsedReport::Attempt at{};
                at.number = u16();
                i64();
                i64();
                need(1);
                at.final = b[p++] != 0;
                at.status = u16();
                at.state = u16();
                if (at.status < 200 || at.status >= 400) str();
                u16();
                need(4);
                p += 4;
                cb.attempts.push_back(at);
            }
            inv.callbacks.push_back(std::move(cb));
        }
        out.invocations.push_back(std::move(inv));
    }
    need(4);
    uint32_t crc = uint32_t(b[p]) << 24 | uint32_t(b[p + 1]) << 16 | uint32_t(b[p + 2]) << 8 | b[p + 3];
    std::vector<uint8_t> covered(b.begin(), b.begin() + long(p));
    out.crcValid = crc == uint32_t(platform::crc32(covered.data(), covered.size())) && p + 4 == b.size();
    return out;
}

}  // namespace pulse_test
