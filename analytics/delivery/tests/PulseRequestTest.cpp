// The configuration exchange against the loopback server: the request read back with a small
// hand-written Avro reader (headers, signed checksum, every field), one request at a time, and
// what good, empty and garbage replies change.
#include <atomic>

#include "analytics/delivery/tests/PulseFixture.h"
#include "platform/base/DeviceFacts.h"

namespace {

using namespace pulse_test;
using Reply = testing_support::HttpTestServer::Reply;
using Request = testing_support::HttpTestServer::Request;

class PulseRequestTest : public PulseFixture {
protected:
    void SetUp() override {
        PulseFixture::SetUp();
        platform::DeviceFacts::setBundleInfo(Value::Dict{{"CFBundleIdentifier", Value("org.zelv.game")}});
        platform::DeviceFacts::setSystemVersion("6.1.0-18-amd64");
        TallyNetworkUtil::setPulseServerUrl(server.url("/sdk/v1/config"));
    }
    void TearDown() override {
        TallyNetworkUtil::setPulseServerUrl("https://config.tally.invalid/sdk/v1/config");
        platform::DeviceFacts::setBundleInfo(std::nullopt);
        platform::DeviceFacts::setSystemVersion(std::nullopt);
        PulseFixture::TearDown();
    }
    static void request() { TallyPulseEventController::sharedInstance()->makePulseRequest(); }
    static std::shared_ptr<TallyPulseSettings> stored() { return TallyPulseEventController::currentSettings(); }
};

struct DecodedRequest {
    std::string projectKey, bundleId, appVersion, platformVersion, hwMachine;
    int64_t sdkVersion = 0, platform = 0;
    bool limitAdTracking = true;
    std::vector<std::pair<int64_t, std::string>> deviceIds;
    double latitude = -1, longitude = -1;
    float accuracy = -1;
    std::optional<std::string> userId;
};

DecodedRequest decode(std::string const& body) {
    std::vector<uint8_t> bytes(body.begin(), body.end());
    AvroReader r(bytes);
    DecodedRequest d;
    d.projectKey = r.str();
    d.bundleId = r.str();
    d.appVersion = r.str();
    d.sdkVersion = r.varint();
    d.platform = r.varint();
    d.platformVersion = r.str();
    d.limitAdTracking = r.boolean();
    if (r.varint() != 0) throw std::runtime_error("device tags are not the first branch");
    d.hwMachine = r.str();
    for (int64_t n; (n = r.varint()) != 0;) {
        if (n < 0) throw std::runtime_error("sized blocks not written here");
        for (int64_t i = 0; i < n; ++i) {
            int64_t const type = r.varint();
            d.deviceIds.emplace_back(type, r.str());
        }
    }
    if (r.varint() != 1) throw std::runtime_error("geo is not the record branch");
    d.latitude = r.fixedLE<double>();
    d.longitude = r.fixedLE<double>();
    d.accuracy = r.fixedLE<float>();
    if (r.varint() == 1) d.userId = r.str();
    if (!r.atEnd()) throw std::runtime_error("bytes after the request");
    return d;
}

TEST_F(PulseRequestTest, TheRequestCarriesTheAppAndDeviceAndItsSignedChecksum) {
    ResponseFixture reply;
    reply.callbacks = {callback(1, 0, "/installed", {plainEvent("tally.app_install")})};
    reply.reportUrl = server.url("/pcr.do");
    auto const replyBytes = encodeResponse(reply);
    server.on("/sdk/v1/config", Reply::answer(200, std::string(replyBytes.begin(), replyBytes.end())));
    server.on("/installed", Reply::answer(200));
    auto storage = TallyGlobalVariableStorage::sharedInstance();
    TallyLocation location;
    location.latitude = 52.5;
    location.longitude = 13.25;
    location.horizontalAccuracy = 4.5;
    storage->setLocation(location);
    storage->setUserID("player one");

    request();
    auto sent = requestsTo("/sdk/v1/config", 1);
    ASSERT_EQ(sent.size(), 1u);
    Request const& q = sent[0];
    EXPECT_EQ(q.method, "POST");
    EXPECT_EQ(q.header("content-type"), "application/vnd.tally.sdk-avrobin;version=2");
    EXPECT_EQ(q.header("accept"), "application/vnd.tally.sdk-avrobin; version=2");
    char expected[16];
    std::snprintf(expected, sizeof expected, "%d", int32_t(platform::crc32(q.body)));
    EXPECT_EQ(q.header("fm-checksum"), expected);

    auto const d = decode(q.body);
    EXPECT_EQ(d.projectKey, "key");
    EXPECT_EQ(d.bundleId, "org.zelv.game");
    EXPECT_EQ(d.appVersion, "1.2");
    EXPECT_EQ(d.sdkVersion, 189);
    EXPECT_EQ(d.platform, 2);
    EXPECT_EQ(d.platformVersion, "6.1.0-18-amd64");
    EXPECT_FALSE(d.limitAdTracking);
    EXPECT_EQ(d.hwMachine, TallyUtil::devicePlatform());
    ASSERT_EQ(d.deviceIds.size(), 1u);
    EXPECT_EQ(d.deviceIds[0].first, 6);
    EXPECT_EQ(d.deviceIds[0].second, TallyUtil::getIdentifierForVendor().value_or("?"));
    EXPECT_EQ(d.latitude, 52.5);
    EXPECT_EQ(d.longitude, 13.25);
    EXPECT_EQ(d.accuracy, 4.5f);
    EXPECT_EQ(d.userId, "player one");

    // The reply is stored, and the first good reply raises the install event, which fires its callback.
    EXPECT_EQ(requestsTo("/installed", 1).size(), 1u);
    auto s = stored();
    ASSERT_TRUE(s);
    EXPECT_TRUE(s->callbacks);
    EXPECT_TRUE(storage->appInstallProcessDone());
    EXPECT_FALSE(storage->pulseRequestPending());

    // Without a location or user id: zeros and the null branch.
    storage->setLocation(std::nullopt);
    storage->setUserID(std::nullopt);
    request();
    auto again = requestsTo("/sdk/v1/config", 2);
    ASSERT_EQ(again.size(), 2u);
    auto const d2 = decode(again[1].body);
    EXPECT_EQ(d2.latitude, 0);
    EXPECT_EQ(d2.accuracy, 0);
    EXPECT_FALSE(d2.userId);
    EXPECT_EQ(countTo("/installed"), 1u);  // raised once per installation
}

TEST_F(PulseRequestTest, OneRequestAtATimeAndRepliesThatChangeNothing) {
    // A held reply keeps the first request pending: the second sends nothing.
    Reply held = Reply::of(Reply::Kind::Hold);
    held.status = 200;
    server.on("/sdk/v1/config", std::vector<Reply>{held, Reply::answer(200), Reply::answer(200, "garbage, not a datum")});
    request();
    ASSERT_TRUE(server.waitForRequests(1, 5s));
    request();
    settle();
    EXPECT_EQ(countTo("/sdk/v1/config"), 1u);
    EXPECT_TRUE(TallyGlobalVariableStorage::sharedInstance()->pulseRequestPending());
    server.release();
    ASSERT_TRUE(waitUntil([] { return !TallyGlobalVariableStorage::sharedInstance()->pulseRequestPending(); }));

    // A stored configuration with an install callback shows whether the install event is raised.
    auto before = install(configuration({callback(1, 0, "/installed", {plainEvent("tally.app_install")})}));
    server.on("/installed", Reply::answer(200));
    auto storage = TallyGlobalVariableStorage::sharedInstance();
    ASSERT_FALSE(storage->appInstallProcessDone());

    request();  // empty good reply: nothing changes, no install event
    requestsTo("/sdk/v1/config", 2);
    settle();
    EXPECT_EQ(stored()->lastResponseTime, before->lastResponseTime);
    EXPECT_EQ(countTo("/installed"), 0u);
    EXPECT_FALSE(storage->appInstallProcessDone());

    request();  // garbage: settings unchanged, the install event raised once
    requestsTo("/sdk/v1/config", 3);
    EXPECT_EQ(requestsTo("/installed", 1).size(), 1u);
    ASSERT_TRUE(stored());
    EXPECT_EQ(stored()->expirationTTL, before->expirationTTL);
    EXPECT_TRUE(storage->appInstallProcessDone());
    EXPECT_FALSE(storage->pulseRequestPending());
}

TEST_F(PulseRequestTest, ThePendingFlagClearsWhenNoRequestStarts) {
    auto storage = TallyGlobalVariableStorage::sharedInstance();
    // Sending without a built record starts no task: the flag must not stay set.
    TallyPulseRequest::synchronizedPulseAccessWithCallback_sync([](TallyPulseRequest& r) { r.sendPulseRequestWithParams(std::nullopt); });
    EXPECT_FALSE(storage->pulseRequestPending());
    // A refused connection clears it too, and the next request goes out.
    TallyNetworkUtil::setPulseServerUrl("http://127.0.0.1:1/sdk/v1/config");
    request();
    settle();  // the request has been made
    ASSERT_TRUE(waitUntil([&] { return !storage->pulseRequestPending() && TallyPulseRequest::sharedInstance()->runningTaskCount() == 0; }));
    TallyNetworkUtil::setPulseServerUrl(server.url("/sdk/v1/config"));
    server.on("/sdk/v1/config", Reply::answer(200));
    request();
    EXPECT_EQ(requestsTo("/sdk/v1/config", 1).size(), 1u);
}

TEST_F(PulseRequestTest, AChangedAdTrackingSettingDropsTheConfigurationAndAsksAgain) {
    server.on("/sdk/v1/config", Reply::answer(200));
    server.on("/ok", Reply::answer(200));
    install(configuration({callback(1, 0, "/ok", {plainEvent("e")})}));
    TallyGlobalVariableStorage::sharedInstance()->setLastAdTrackingEnabledSetting(!TallyUtil::isAdTrackingEnabled());
    controller()->processEvent("e", session(1000.0));
    EXPECT_EQ(requestsTo("/sdk/v1/config", 1).size(), 1u);
    EXPECT_FALSE(stored());
    EXPECT_EQ(countTo("/ok"), 0u);
}

}  // namespace
