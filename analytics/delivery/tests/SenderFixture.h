#pragma once
// Shared set-up of the sender tests: a private files folder, the loopback server as the data
// endpoint, and a body builder that frames stored session blocks into a report the way the
// session does, so the server side can read them back.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "analytics/agent/TallyGlobalPersistentManager.h"
#include "analytics/agent/TallyGlobalVariableStorage.h"
#include "analytics/agent/TallyUtil.h"
#include "analytics/delivery/TallyDataSender.h"
#include "analytics/delivery/TallyHTTPResponse.h"
#include "analytics/delivery/TallyDeliveryAgent.h"
#include "analytics/delivery/TallyNetworkUtil.h"
#include "analytics/delivery/TallyProtocolData.h"
#include "platform/base/Digests.h"
#include "platform/base/Directories.h"
#include "platform/base/NotificationCenter.h"
#include "platform/base/SdkLoop.h"
#include "testing/HttpTestServer.h"
#include "testing/TestPaths.h"

namespace delivery_test {

using Bytes = TallyProtocolData::Bytes;
using P = TallyProtocolData;

// A finished session's block with the report id in its user id field.
inline Bytes sessionBlock(std::string const& reportId) {
    Bytes b;
    P::appendUshort(9, b);
    P::appendString("1.0", b);
    P::appendTimestamp(1765100000.0, b);
    P::appendLong(5000, b);
    P::appendLong(0, b);
    P::appendBoolean(false, b);
    P::appendByte(1, b);
    P::appendBoolean(false, b);  // origin
    P::appendBoolean(false, b);  // deep link
    P::appendUshort(0, b);       // properties
    P::appendUshort(0, b);       // parameters
    P::appendString("en_US", b);
    P::appendString("UTC", b);
    P::appendByte(2, b);
    P::appendByte(2, b);
    P::appendString(reportId, b);
    P::appendBoolean(true, b);
    P::appendDouble(0, b);
    P::appendDouble(0, b);
    P::appendFloat(0, b);
    P::appendBoolean(false, b);
    P::appendInt(0, b);
    P::appendByte(0, b);
    P::appendByte(0, b);
    P::appendByte(-1, b);
    P::appendBoolean(false, b);  // age
    P::appendUshort(0, b);       // event names
    P::appendUshort(0, b);       // events
    P::appendBoolean(true, b);
    P::appendInt(0, b);
    P::appendUshort(0, b);  // errors
    P::appendInt(0, b);
    for (int i = 0; i < 3; ++i) P::appendUshort(0, b);
    P::appendUshort(0, b);  // transactions
    return b;
}

// Builds the report around stored blocks; stands in for the session's body builder.
class ReportDelegate : public TallyDataSenderDelegate {
public:
    std::optional<platform::Data> dataForSending(std::vector<platform::Data> const& datas) override {
        Bytes r;
        for (uint16_t w : {31, 4, 1}) P::appendUshort(w, r);
        P::appendLong(0, r);
        P::appendUshort(0, r);
        P::appendUshort(2, r);
        P::appendUshort(189, r);
        P::appendTimestamp(platform::Date::now().secondsSince1970, r);
        P::appendString("key", r);
        P::appendString("1.0", r);
        P::appendByte(1, r);
        P::appendUshort(1, r);
        P::appendUshort(6, r);
        P::appendString("VENDOR-ID", r);
        P::appendByte(0, r);
        P::appendBoolean(false, r);
        P::appendBoolean(true, r);
        P::appendTimestamp(1765000000.0, r);
        P::appendTimestamp(1765100000.0, r);
        P::appendUshort(0, r);  // device properties
        P::appendUshort(0, r);
        P::appendBoolean(false, r);
        P::appendUshort(0, r);  // launch options
        P::appendUshort(0, r);  // origin sets
        P::appendString("org.zelv.game", r);
        P::appendUshort(uint16_t(datas.size()), r);
        for (auto const& d : datas) r.insert(r.end(), d.begin(), d.end());
        P::appendUshort(0, r);  // cookies
        P::appendInt(int32_t(platform::crc32(r.data(), r.size())), r);
        std::lock_guard lock(mutex_);
        groups_.push_back(datas.size());
        return r;
    }
    std::vector<size_t> groups() {
        std::lock_guard lock(mutex_);
        return groups_;
    }

private:
    std::mutex mutex_;
    std::vector<size_t> groups_;
};

// A reply body of the data endpoint with the given cookies.
inline Bytes reply(std::vector<std::pair<std::string, std::string>> const& cookies, int16_t count = -1) {
    Bytes r;
    P::appendUshort(0x011E, r);
    P::appendInt(7, r);
    P::appendUshort(0, r);
    P::appendUshort(uint16_t(count < 0 ? int16_t(cookies.size()) : count), r);
    for (auto const& [k, v] : cookies) {
        P::appendUshort(uint16_t(k.size()), r);
        r.insert(r.end(), k.begin(), k.end());
        P::appendUshort(uint16_t(v.size()), r);
        r.insert(r.end(), v.begin(), v.end());
    }
    P::appendUshort(0, r);
    return r;
}

class SenderFixture : public ::testing::Test {
protected:
    void SetUp() override {
        platform::Directories::setRootOverride(dir.path());
        setApiKey("key");
        TallyNetworkUtil::setServerURL(server.url("/aas.do"));
    }
    void TearDown() override {
        drop();
        TallyGlobalPersistentManager::cleanup();
        TallyGlobalVariableStorage::cleanup();
        TallyNetworkUtil::setServerURL("https://data.tally.invalid/aas.do");
        platform::Directories::setRootOverride(std::nullopt);
    }

    // A new key means other map files: the shared objects start again.
    static void setApiKey(std::string const& key) {
        TallyGlobalPersistentManager::cleanup();
        TallyGlobalVariableStorage::cleanup();
        TallyGlobalVariableStorage::sharedInstance()->setApiKey(key);
    }
    static std::map<std::string, std::string> cookies() {
        std::map<std::string, std::string> out;
        TallyGlobalPersistentManager::sharedInstance()->processReadOperationForPersistentCookiesMapSync(
            [&](platform::Value::Dict const& map) {
                for (auto const& [k, v] : map)
                    if (v.data()) out[k] = std::string(v.data()->begin(), v.data()->end());
            });
        return out;
    }
    static void setCookies(std::map<std::string, std::string> const& values) {
        TallyGlobalPersistentManager::sharedInstance()->processWriteOperationForPersistentCookiesMapSync(
            [&](platform::Value::Dict& map) {
                map.clear();
                for (auto const& [k, v] : values) map[k] = platform::Data(v.begin(), v.end());
            });
    }
    // Whether the maps were saved since the last call: a marker put in memory only shows up in
    // the globals file once a save has run.
    bool savedSinceLastCheck() {
        auto maps = TallyGlobalPersistentManager::sharedInstance();
        maps->waitUntilIdle();
        auto read = platform::KeyedArchive::readFromFile(TallyGlobalVariableStorage::persistentGlobalsFilePath());
        platform::Value const* found = read.status == platform::KeyedArchive::ReadResult::Read ? read.value.find("delivery.marker") : nullptr;
        bool const saved = found && found->asInt() == marker_;
        ++marker_;
        maps->writeSync(TallyGlobalPersistentManager::Globals, [&](platform::Value::Dict& g) { g["delivery.marker"] = marker_; });
        return saved;
    }
    int64_t marker_ = 0;

    std::shared_ptr<TallyDataSender> make(double timeout = 5.0) {
        TallyDataSender::setupInstanceWithQueue(queue);
        auto s = TallyDataSender::instance();
        s->setDataSenderDelegate(delegate);
        s->setRequestTimeout(timeout);
        return s;
    }
    // Drops the sender and waits until nothing of it runs any more.
    void drop() {
        auto old = TallyDataSender::instance();
        TallyDataSender::cleanup();
        settle(old);
    }
    void settle(std::shared_ptr<TallyDataSender> const& s) {
        platform::SdkLoop::shared().waitUntilIdle();
        queue->waitUntilIdle();
        if (s) s->dataIndex()->indexMapQueue().waitUntilIdle();
    }
    // Waits until no request of the sender runs, then for its queues.
    bool idle(std::shared_ptr<TallyDataSender> const& s, std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
        auto const end = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            size_t running = 0;
            queue->sync([&] { running = s->runningTaskCount(); });
            if (running == 0) {
                settle(s);
                queue->sync([&] { running = s->runningTaskCount(); });
                if (running == 0) return true;
            }
            if (std::chrono::steady_clock::now() > end) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    void hand(std::shared_ptr<TallyDataSender> const& s, platform::Data data) {
        queue->sync([&] { s->sendSessionsData(data); });
    }
    static void networkBecameReachable() {
        platform::NotificationCenter::shared().post(TallyNetworkUtil::kStatusChangedNotification,
                                                    TallyNetworkUtil::notificationObject());
    }
    size_t blockFiles() const {
        size_t n = 0;
        for (auto const& e : std::filesystem::directory_iterator(tally_delivery::filesFolder())) {
            std::string const name = e.path().filename().string();
            if (name[0] != '.' && name != TallyDataSender::kIndexFileName && name.rfind("tallyResponse", 0) != 0) ++n;
        }
        return n;
    }
    size_t stored(std::shared_ptr<TallyDataSender> const& s) { return s->dataIndex()->notSentBlocksForDataKey(TallyDataSender::dataKey()).size(); }

    testing_support::TempDir dir;
    testing_support::HttpTestServer server;
    std::shared_ptr<platform::WorkQueue> queue = std::make_shared<platform::WorkQueue>("com.Tally.test.sessionQueue");
    std::shared_ptr<ReportDelegate> delegate = std::make_shared<ReportDelegate>();
};

}  // namespace delivery_test
