// Device and app facts, background tasks and the actor.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <stdexcept>

#include "analytics/agent/TallyActor.h"
#include "analytics/agent/TallyBackgroundTaskTracker.h"
#include "analytics/agent/TallyUtil.h"
#include "analytics/agent/TallyiOSUtil.h"
#include "platform/base/DeviceFacts.h"

using platform::DeviceFacts;

TEST(TallyFacts, SystemVersionsScreensAndOrientations) {
    EXPECT_EQ(TallyiOSUtil::systemVersionAsInteger("9.3"), 90300);
    EXPECT_EQ(TallyiOSUtil::systemVersionAsInteger("9.3.5"), 90305);
    EXPECT_EQ(TallyiOSUtil::systemVersionAsInteger("12.1.4.1"), 120104);
    EXPECT_EQ(TallyiOSUtil::systemVersionAsInteger("11"), 110000);
    EXPECT_EQ(TallyiOSUtil::systemVersionAsInteger("6.1.0-18-amd64"), 60100);
    EXPECT_EQ(TallyiOSUtil::systemVersionAsInteger(""), 0);
    DeviceFacts::setSystemVersion("10.2");
    TallyiOSUtil::resetSystemVersionCache();
    EXPECT_EQ(TallyUtil::getSystemVersionAsAnInteger(), 100200);
    DeviceFacts::setSystemVersion("4.9.0");  // cached once computed
    EXPECT_EQ(TallyUtil::getSystemVersionAsAnInteger(), 100200);
    DeviceFacts::setSystemVersion(std::nullopt);
    TallyiOSUtil::resetSystemVersionCache();

    platform::DeviceProfile p;
    p.screenWidth = 1024;
    p.screenHeight = 768;
    p.screenScale = 3.0;
    p.deviceOrientation = 3;
    p.statusBarOrientation = 4;
    DeviceFacts::setProfile(p);
    EXPECT_EQ(TallyUtil::deviceScreenBounds(), (TallyRect{0, 0, 768, 1024}));
    EXPECT_FALSE(TallyUtil::isRetina());
    EXPECT_EQ(TallyiOSUtil::userDeviceIdiom(), -1);
    EXPECT_EQ(TallyiOSUtil::agentPlatform(), 2);
    EXPECT_TRUE(TallyUtil::canvasInLandscapeLeft());
    EXPECT_EQ(TallyUtil::getCanvasOrientation(), "landscapeLeft");
    EXPECT_TRUE(TallyUtil::canvasInLandscapeRight(std::string("LANDSCAPERIGHT")));
    EXPECT_FALSE(TallyUtil::canvasInLandscape(std::string("portrait")));

    p.screenWidth = 320;
    p.screenHeight = 568;
    p.screenScale = 2.0;
    p.idiom = 1;
    DeviceFacts::setProfile(p);
    auto b = TallyiOSUtil::screenBounds();
    EXPECT_DOUBLE_EQ(b.width, 568.1);
    EXPECT_DOUBLE_EQ(b.height, 320);
    EXPECT_EQ(TallyiOSUtil::screenBounds(std::string("portrait")).width, 320);
    EXPECT_TRUE(TallyUtil::isRetina());
    EXPECT_TRUE(TallyUtil::isIPad());
    EXPECT_EQ(TallyiOSUtil::agentPlatform(), 8);
    EXPECT_NEAR(TallyiOSUtil::screenSize(), std::sqrt(320.0 * 320 + 568.0 * 568) / 132.0, 1e-4);

    EXPECT_TRUE(TallyiOSUtil::theAppIsActive());  // no state known
    p.applicationState = 2;
    DeviceFacts::setProfile(p);
    EXPECT_FALSE(TallyiOSUtil::theAppIsActive());
    EXPECT_TRUE(TallyUtil::isInBackground());
    DeviceFacts::setProfile({});
    EXPECT_EQ(TallyUtil::deviceScreenBounds(), TallyRect{});

    // No advertising service: no identifier and tracking allowed; a 15-byte salt.
    EXPECT_FALSE(TallyUtil::getTallyId());
    EXPECT_TRUE(TallyUtil::isAdTrackingEnabled());
    EXPECT_EQ(TallyUtil::getFixedSalt().size(), 15u);
    EXPECT_FALSE(TallyUtil::devicePlatform().empty());
    EXPECT_GT(TallyUtil::lastBootTime(), 1000000000);
    EXPECT_GT(TallyUtil::getDiskSize(), 0u);
    EXPECT_GT(wiredMemoryBytes() + activeMemoryBytes() + inactiveMemoryBytes() + freeMemoryBytes(), 0u);

    DeviceFacts::setExecutablePath("/apps/Game.app/PlugIns/Watch.appex/Watch");
    EXPECT_TRUE(TallyUtil::isInWatchExtension());
    DeviceFacts::setExecutablePath(std::nullopt);
    EXPECT_FALSE(TallyUtil::isInWatchExtension());
}

TEST(TallyFacts, BackgroundTasksOpenAtMostOne) {
    TallyBackgroundTaskTracker unsupported;
    unsupported.startBackgroundTaskTrackingIfNeeded();
    EXPECT_EQ(unsupported.tasksBegun(), 0u);

    TallyBackgroundTaskTracker t;
    t.setIsBackgroundSupported(true);
    t.startBackgroundTaskTrackingIfNeeded();
    t.startBackgroundTaskTrackingIfNeeded();
    t.stopBackgroundTasksTracking();
    t.stopBackgroundTasksTracking();
    EXPECT_EQ(t.tasksBegun(), 1u);
    EXPECT_EQ(t.tasksEnded(), 1u);
    EXPECT_EQ(t.backgroundTask(), TallyBackgroundTaskTracker::kInvalidTask);
    DeviceFacts::setExecutablePath("/a/B.app/C.appex/c");
    t.startBackgroundTaskTrackingIfNeeded();
    EXPECT_EQ(t.tasksBegun(), 1u);
    DeviceFacts::setExecutablePath(std::nullopt);
}

TEST(TallyActor, OrderNestingAndExceptions) {
    TallyActor actor("com.Tally.test");
    std::vector<int> order;
    for (int i = 0; i < 50; ++i) actor.asyncBlock([&, i] { order.push_back(i); });
    std::vector<int> seen;
    actor.syncBlock([&] { seen = order; });
    EXPECT_EQ(seen.size(), 50u);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));

    int depth = 0;
    actor.syncBlock([&] {
        EXPECT_EQ(TallyActor::current(), &actor);
        actor.syncBlock([&] {
            actor.syncBlock([&] { depth = 3; });
            EXPECT_EQ(TallyActor::current(), &actor);
        });
        EXPECT_EQ(actor.activeThread(), std::this_thread::get_id());
    });
    EXPECT_EQ(depth, 3);
    EXPECT_EQ(TallyActor::current(), nullptr);
    EXPECT_EQ(actor.activeThread(), std::thread::id());

    EXPECT_THROW(actor.syncBlock([] { throw std::runtime_error("x"); }), std::runtime_error);
    EXPECT_EQ(actor.activeThread(), std::thread::id());
    EXPECT_THROW(actor.syncBlock([&] { actor.syncBlock([] { throw std::logic_error("inner"); }); }),
                 std::logic_error);
    actor.asyncBlock([] { throw std::runtime_error("logged"); });
    int after = 0;
    actor.syncBlock([&] { after = 1; });
    EXPECT_EQ(after, 1);

    // Two actors on one thread: each restores the other's mark.
    TallyActor other("com.Tally.other");
    actor.syncBlock([&] {
        other.syncBlock([&] { EXPECT_EQ(TallyActor::current(), &other); });
        EXPECT_EQ(TallyActor::current(), &actor);
    });
}
