// Reachability from injected monitor flags, the agent-wide network state, and the heartbeat on
// the SDK loop's virtual clock.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <atomic>

#include "analytics/delivery/TallyHeartBeater.h"
#include "analytics/delivery/TallyNetworkUtil.h"
#include "analytics/delivery/TallyReachability.h"
#include "analytics/delivery/tests/NetworkFakes.h"
#include "platform/base/NotificationCenter.h"
#include "platform/base/SdkLoop.h"

namespace {

using platform::NetworkMonitor;

using delivery_test::FakeMonitor;
using Injected = delivery_test::FakeMonitorInjected;

TEST(NetworkStateTest, FlagsGiveTheStatusTable) {
    Injected injected;
    auto host = TallyReachability::tallyReachabilityWithHostName("example.org");
    auto wifi = TallyReachability::tallyReachabilityForLocalWiFi();
    ASSERT_TRUE(host && wifi);
    EXPECT_EQ(wifi->key(), "LocalWiFiConnection");
    constexpr uint32_t R = NetworkMonitor::kReachable, T = NetworkMonitor::kTransientConnection,
                       C = NetworkMonitor::kConnectionRequired, O = NetworkMonitor::kConnectionOnTraffic,
                       W = NetworkMonitor::kIsWWAN, D = NetworkMonitor::kIsDirect, L = NetworkMonitor::kIsLocalAddress,
                       I = NetworkMonitor::kInterventionRequired, Dm = NetworkMonitor::kConnectionOnDemand;
    struct Case {
        uint32_t flags;
        int host;
        int localWiFi;
    };
    Case const cases[] = {
        {R | W, 2, 0},     {R, 1, 0},        {R | C | T, 0, 0},  {R | C, 1, 0},  {R | O, 0, 0},
        {W | D | T, 0, 0}, {0, 0, 0},        {R | D, 1, 1},      {R | D | W, 2, 1}, {R | L | D | T, 1, 1},
        {R | C | T | L, 0, 0}, {R | I, 0, 0}, {R | C | Dm, 1, 0},
    };
    for (auto const& c : cases) {
        EXPECT_EQ(host->tallyNetworkStatusForFlags(c.flags), c.host) << std::hex << c.flags;
        EXPECT_EQ(wifi->tallyNetworkStatusForFlags(c.flags), c.localWiFi) << std::hex << c.flags;
    }
    FakeMonitor::flagsNow = R | C | O;
    EXPECT_TRUE(host->isTallyConnectionOnDemand());
    EXPECT_FALSE(host->isTallyUserInterventionRequired());
    FakeMonitor::flagsNow = R | C | I;
    EXPECT_TRUE(host->isTallyUserInterventionRequired());
    FakeMonitor::flagsNow = R;
    in_addr a{};
    inet_pton(AF_INET, "169.254.0.0", &a);
    EXPECT_EQ(TallyReachability::tallyMakeAddressKey(a), "169.254.0.0");
}

TEST(NetworkStateTest, OneWatchAndStatusChangesAnnounced) {
    Injected injected;
    TallyNetworkUtil::resetForTesting();
    FakeMonitor::started = 0;
    FakeMonitor::flagsNow = NetworkMonitor::kReachable | NetworkMonitor::kIsWWAN;
    std::atomic<int> announced{0};
    int owner;
    platform::NotificationCenter::shared().addObserver(&owner, TallyNetworkUtil::kStatusChangedNotification,
                                                       [&](platform::Notification const& n) {
                                                           EXPECT_EQ(n.object, TallyNetworkUtil::notificationObject());
                                                           ++announced;
                                                       });
    std::thread other([] { TallyNetworkUtil::initNetworkReachability(); });
    other.join();
    TallyNetworkUtil::initNetworkReachability();
    platform::SdkLoop::shared().post([] { TallyNetworkUtil::initNetworkReachability(); });
    platform::SdkLoop::shared().waitUntilIdle();
    EXPECT_EQ(FakeMonitor::started.load(), 1);
    EXPECT_EQ(TallyNetworkUtil::networkStatus(), 3);
    EXPECT_TRUE(TallyNetworkUtil::isNetworkReachable());

    FakeMonitor::change(NetworkMonitor::kReachable);
    platform::SdkLoop::shared().waitUntilIdle();
    EXPECT_EQ(TallyNetworkUtil::networkStatus(), 2);
    EXPECT_EQ(announced.load(), 1);
    FakeMonitor::change(0);
    platform::SdkLoop::shared().waitUntilIdle();
    EXPECT_EQ(TallyNetworkUtil::networkStatus(), 0);
    EXPECT_FALSE(TallyNetworkUtil::isNetworkReachable());
    EXPECT_TRUE(TallyNetworkUtil::isNetworkLikelyNotReachable());
    EXPECT_EQ(announced.load(), 2);

    FakeMonitor::change(NetworkMonitor::kReachable);
    platform::SdkLoop::shared().waitUntilIdle();
    TallyNetworkUtil::setNetworkLikelyNotReachable();
    EXPECT_TRUE(TallyNetworkUtil::isNetworkLikelyNotReachable());
    TallyNetworkUtil::setLastNetworkOperationError(std::nullopt);
    EXPECT_FALSE(TallyNetworkUtil::isNetworkLikelyNotReachable());
    platform::NotificationCenter::shared().removeObserver(&owner);
    TallyNetworkUtil::resetForTesting();
    { std::lock_guard lock(FakeMonitor::mutex); FakeMonitor::watchers.clear(); }

    // Nothing leaves the machine until a URL is set; the app-cloud switch picks its host.
    EXPECT_NE(TallyNetworkUtil::serverURL().find(".invalid/aas.do"), std::string::npos);
    std::string const production = TallyNetworkUtil::appCloudServerUrl();
    TallyNetworkUtil::setAppCloudServerToStaging(true);
    EXPECT_NE(TallyNetworkUtil::appCloudServerUrl(), production);
    TallyNetworkUtil::setAppCloudServerToStaging(false);
    EXPECT_EQ(TallyNetworkUtil::appCloudServerUrl(), production);
    TallyNetworkUtil::setSecureTransportEnabledDeprecated(false);
    EXPECT_EQ(TallyNetworkUtil::adLogServerUrl().rfind("http://", 0), 0u);
    TallyNetworkUtil::setSecureTransportEnabledDeprecated(true);
    EXPECT_EQ(TallyNetworkUtil::adLogServerUrl().rfind("https://", 0), 0u);
}

TEST(NetworkStateTest, HeartbeatTicksInVirtualTime) {
    platform::SdkLoop& loop = platform::SdkLoop::shared();
    loop.setVirtualClock(true);
    std::atomic<int> beats{0};
    int owner;
    platform::NotificationCenter::shared().addObserver(&owner, TallyHeartBeater::kHeartBeatNotification,
                                                       [&](platform::Notification const&) { ++beats; });
    auto first = TallyHeartBeater::createAndStartInstance(1.0);
    auto second = TallyHeartBeater::createAndStartInstance(5.0);
    EXPECT_EQ(first, second);
    EXPECT_EQ(TallyHeartBeater::instance(), first);
    loop.advance(999);
    EXPECT_EQ(beats.load(), 0);
    loop.advance(2001);
    EXPECT_EQ(beats.load(), 3);
    TallyHeartBeater::cleanup();
    first.reset();
    second.reset();
    loop.advance(5000);
    EXPECT_EQ(beats.load(), 3);
    platform::NotificationCenter::shared().removeObserver(&owner);
    loop.setVirtualClock(false);
}

}  // namespace
