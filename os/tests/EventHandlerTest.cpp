#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <vector>

#include "os/EventHandler.h"
#include "os/Task.h"

namespace {

TEST(EventHandler, IdZeroIsNeverQueuedOrSubscribed) {
    EventHandler events;
    int calls = 0;
    SlotCallbackRef zero(&events, 0, [&] { ++calls; });
    events.trigger(0);
    EXPECT_EQ(events.queuedCount(), 0u);
    events.dispatch();
    EXPECT_EQ(calls, 0);
}

TEST(EventHandler, DeliversInTriggerOrderIncludingSignalsRaisedDuringDispatch) {
    EventHandler events;
    std::vector<int> seen;
    SlotCallbackRef one(&events, 1, [&] {
        seen.push_back(1);
        events.trigger(3);
    });
    SlotCallbackRef two(&events, 2, [&] { seen.push_back(2); });
    SlotCallbackRef three(&events, 3, [&] { seen.push_back(3); });
    events.trigger(1);
    events.trigger(2);
    events.trigger(99);  // nobody listens: consumed without effect
    events.trigger(2);
    events.dispatch();
    EXPECT_EQ(seen, (std::vector<int>{1, 2, 2, 3}));
    EXPECT_EQ(events.queuedCount(), 0u);
    seen.clear();
    events.dispatch();
    EXPECT_TRUE(seen.empty());
}

TEST(EventHandler, HandlesSubscribeOnceEachAndUnsubscribeOnlyThemselves) {
    EventHandler events;
    std::vector<int> seen;
    std::optional<SlotCallbackRef> a(std::in_place, &events, 7, [&] { seen.push_back(1); });
    SlotCallbackRef b(&events, 7, [&] { seen.push_back(2); });
    SlotCallbackRef c(&events, 7, [&] { seen.push_back(3); });
    std::optional<SlotCallbackRef> copyOfB(std::in_place, b);
    events.trigger(7);
    events.dispatch();
    EXPECT_EQ(seen, (std::vector<int>{1, 2, 3, 2}));

    seen.clear();
    a.reset();
    copyOfB.reset();
    events.trigger(7);
    events.dispatch();
    EXPECT_EQ(seen, (std::vector<int>{2, 3}));

    // A growing container copies its handles and destroys the old ones.
    seen.clear();
    std::vector<SlotCallbackRef> many;
    for (int i = 0; i < 20; ++i) many.emplace_back(&events, 8, [&seen, i] { seen.push_back(100 + i); });
    events.trigger(8);
    events.dispatch();
    std::sort(seen.begin(), seen.end());
    ASSERT_EQ(seen.size(), 20u);
    for (int i = 0; i < 20; ++i) EXPECT_EQ(seen[i], 100 + i);

    // Assigning moves the subscription to the new id.
    seen.clear();
    many.erase(many.begin() + 5);
    c = SlotCallbackRef(&events, 9, [&] { seen.push_back(9); });
    events.trigger(7);
    events.trigger(8);
    events.trigger(9);
    events.dispatch();
    EXPECT_EQ(seen.size(), 1u + 19u + 1u);
    EXPECT_EQ(seen.front(), 2);
    EXPECT_EQ(seen.back(), 9);
}

TEST(EventHandler, SubscriptionChangesDuringDeliveryTakeEffectNextDispatch) {
    EventHandler events;
    std::vector<int> seen;
    std::vector<std::unique_ptr<SlotCallbackRef>> added;
    std::unique_ptr<SlotCallbackRef> victim;
    SlotCallbackRef adder(&events, 1, [&] {
        seen.push_back(1);
        added.push_back(std::make_unique<SlotCallbackRef>(&events, 1, [&] { seen.push_back(10); }));
        added.push_back(std::make_unique<SlotCallbackRef>(&events, 2, [&] { seen.push_back(20); }));
        victim.reset();  // destroys a later slot of the same id
    });
    victim = std::make_unique<SlotCallbackRef>(&events, 1, [&] { seen.push_back(-1); });
    SlotCallbackRef last(&events, 1, [&] { seen.push_back(3); });
    events.trigger(1);
    events.trigger(2);
    events.dispatch();
    EXPECT_EQ(seen, (std::vector<int>{1, 3}));

    seen.clear();
    added.clear();  // added handles made and dropped between dispatches
    events.trigger(1);
    events.dispatch();
    EXPECT_EQ(seen, (std::vector<int>{1, 3}));

    // A handle made and destroyed within the same dispatch never fires.
    seen.clear();
    std::vector<int> fired;
    SlotCallbackRef transient(&events, 5, [&] {
        SlotCallbackRef inner(&events, 5, [&] { fired.push_back(1); });
    });
    events.trigger(5);
    events.trigger(5);
    events.dispatch();
    events.trigger(5);
    events.dispatch();
    EXPECT_TRUE(fired.empty());
}

TEST(EventHandler, SelfRetriggeringSignalEndsTheDispatchAndCarriesOn) {
    EventHandler events;
    size_t calls = 0;
    SlotCallbackRef loop(&events, 4, [&] {
        ++calls;
        events.trigger(4);
    });
    std::vector<int> later;
    SlotCallbackRef other(&events, 6, [&] { later.push_back(6); });
    events.trigger(4);
    events.trigger(6);
    events.dispatch();
    EXPECT_EQ(calls, EventHandler::maxDeliveriesPerDispatch - 1);
    EXPECT_EQ(later, std::vector<int>{6});
    EXPECT_GT(events.queuedCount(), 0u);
    events.dispatch();
    EXPECT_EQ(calls, 2 * EventHandler::maxDeliveriesPerDispatch - 1);
    EXPECT_EQ(events.queuedCount(), 1u);  // one pending repeat, never a growing backlog
}

TEST(EventHandler, EmptyCallbackThrowsAndLeavesQueueForNextDispatch) {
    EventHandler events;
    int calls = 0;
    SlotCallbackRef good(&events, 1, [&] { ++calls; });
    SlotCallbackRef empty(&events, 2, std::function<void()>());
    events.trigger(1);
    events.trigger(2);
    EXPECT_THROW(events.dispatch(), std::bad_function_call);
    EXPECT_EQ(events.queuedCount(), 2u);
    // The handler still works after the exception; subscriptions made meanwhile apply.
    SlotCallbackRef late(&events, 1, [&] { calls += 10; });
    events.trigger(3);
    EXPECT_THROW(events.dispatch(), std::bad_function_call);
    EXPECT_EQ(calls, 1 + 11);
}

TEST(EventHandler, NullHandlerHandleIsInert) {
    int calls = 0;
    SlotCallbackRef h(nullptr, 3, [&] { ++calls; });
    SlotCallbackRef copy(h);
    EXPECT_EQ(calls, 0);
}

TEST(TaskTest, CallsFunctionAndKeepsOwner) {
    float seenDt = 0, seenTime = 0;
    Task t([&](float dt, float time) {
        seenDt = dt;
        seenTime = time;
        return time > 1.0f;
    }, 0x1234);
    EXPECT_FALSE(t(16.0f, 0.5f));
    EXPECT_TRUE(t(16.0f, 2.0f));
    EXPECT_EQ(seenDt, 16.0f);
    EXPECT_EQ(t.owner(), 0x1234u);
    Task empty(std::function<bool(float, float)>{}, 0);
    EXPECT_THROW(empty(1, 1), std::bad_function_call);
}

}  // namespace
