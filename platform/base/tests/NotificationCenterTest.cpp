#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/base/NotificationCenter.h"

using platform::Notification;
using platform::NotificationCenter;

TEST(NotificationCenter, DeliversUserInfoAndStopsAfterRemoval) {
    NotificationCenter c;
    int a = 0, b = 0;
    std::string seenInfo;
    c.addObserver(&a, "changed", [&](Notification const& n) {
        ++a;
        if (auto v = n.userInfo.find("state"); v != n.userInfo.end()) seenInfo = *v->second.string();
    });
    c.addObserver(&b, "changed", [&](Notification const&) { ++b; });
    c.addObserver(&b, "other", [&](Notification const&) { b += 100; });
    c.post("changed", nullptr, {{"state", platform::Value("active")}});
    EXPECT_EQ(a, 1);
    EXPECT_EQ(b, 1);
    EXPECT_EQ(seenInfo, "active");
    c.removeObserver(&b, "changed");
    c.post("changed");
    c.post("other");
    EXPECT_EQ(b, 101);
    // An observer may remove itself while it runs.
    c.addObserver(&seenInfo, "self", [&](Notification const&) { c.removeObserver(&seenInfo); });
    c.post("self");
    c.post("self");
    c.removeObserver(&a);
    c.post("changed");
    EXPECT_EQ(a, 2);
}

TEST(NotificationCenter, RemovalWaitsForObserversRunningElsewhere) {
    NotificationCenter c;
    std::atomic<bool> stop{false};
    for (int round = 0; round < 50; ++round) {
        auto alive = std::make_unique<std::atomic<int>>(0);
        std::atomic<int>* counter = alive.get();
        c.addObserver(counter, "tick", [counter](Notification const&) { counter->fetch_add(1); });
        std::thread poster([&] {
            for (int i = 0; i < 20; ++i) c.post("tick");
        });
        c.removeObserver(counter);
        alive.reset();  // a late call would touch freed memory (caught by the sanitizers)
        poster.join();
    }
    EXPECT_FALSE(stop.load());
}
