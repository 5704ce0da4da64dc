#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <vector>

#include "os/EventHandler.h"

namespace {

TEST(EventHandler, DeliversInTriggerOrderIncludingSignalsRaisedDuringDispatch) {
    EventHandler events;
    std::vector<int> seen;
    SlotCallbackRef zero(&events, 0, [&] { seen.push_back(0); });
    SlotCallbackRef one(&events, 1, [&] {
        seen.push_back(1);
        events.trigger(3);
    });
    SlotCallbackRef two(&events, 2, [&] { seen.push_back(2); });
    SlotCallbackRef three(&events, 3, [&] { seen.push_back(3); });
    for (uint32_t id : {1, 0, 2, 99, 2}) events.trigger(id);
    EXPECT_EQ(events.queuedCount(), 4u);  // id 0 is never queued
    events.dispatch();
    EXPECT_EQ(seen, (std::vector<int>{1, 2, 2, 3}));
    EXPECT_EQ(events.queuedCount(), 0u);
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

    // Handles in a growing container, erased from it, and reassigned stay subscribed once each.
    seen.clear();
    std::vector<SlotCallbackRef> many;
    for (int i = 0; i < 20; ++i) many.emplace_back(&events, 8, [&seen, i] { seen.push_back(100 + i); });
    many.erase(many.begin() + 5);
    c = SlotCallbackRef(&events, 9, [&] { seen.push_back(9); });
    for (uint32_t id : {7, 8, 9}) events.trigger(id);
    events.dispatch();
    std::sort(seen.begin(), seen.end());
    std::vector<int> expected = {2, 9};
    for (int i = 0; i < 20; ++i)
        if (i != 5) expected.push_back(100 + i);
    EXPECT_EQ(seen, expected);
}

TEST(EventHandler, OnlyTheDeliveredIdsOwnSubscriptionChangesWaitForItsTurnToEnd) {
    EventHandler events;
    std::vector<int> seen;
    std::vector<std::unique_ptr<SlotCallbackRef>> added;
    std::unique_ptr<SlotCallbackRef> victim;
    SlotCallbackRef adder(&events, 1, [&] {
        seen.push_back(1);
        added.push_back(std::make_unique<SlotCallbackRef>(&events, 1, [&] { seen.push_back(10); }));
        added.push_back(std::make_unique<SlotCallbackRef>(&events, 2, [&] { seen.push_back(20); }));
        victim.reset();  // destroys a later slot of the same id
        SlotCallbackRef transient(&events, 1, [&] { seen.push_back(-2); });
    });
    victim = std::make_unique<SlotCallbackRef>(&events, 1, [&] { seen.push_back(-1); });
    SlotCallbackRef last(&events, 1, [&] { seen.push_back(3); });
    events.trigger(1);
    events.trigger(2);
    events.dispatch();
    // The handle made under id 1 already hears id 2 queued behind it.
    EXPECT_EQ(seen, (std::vector<int>{1, 3, 20}));

    seen.clear();
    events.trigger(2);
    events.trigger(1);
    events.trigger(1);
    events.dispatch();
    // Id 1's additions join once its turn ends, so its second turn in the pass calls them.
    EXPECT_EQ(seen, (std::vector<int>{20, 1, 3, 10, 1, 3, 10, 10}));
}

TEST(EventHandler, HandlesRelocatedByACallbackStillHearLaterIdsOfTheSamePass) {
    EventHandler events;
    int heard = 0;
    std::vector<SlotCallbackRef> handles;
    handles.reserve(1);
    handles.emplace_back(&events, 2, [&] { ++heard; });
    SlotCallbackRef grower(&events, 1, [&] {
        // Growing past capacity copies the handle and destroys the original.
        handles.emplace_back(&events, 3, [] {});
    });
    events.trigger(1);
    events.trigger(2);
    events.dispatch();
    EXPECT_EQ(heard, 1);
    events.trigger(2);
    events.dispatch();
    EXPECT_EQ(heard, 2);
}

// A callback that grows the vector holding later handles of its own id moves them during that
// id's turn: each moved handle is still called once in that turn, a copy whose original lives
// on is not, and an original already called is not called again through its copy.
TEST(EventHandler, HandlesMovedDuringTheirOwnIdsTurnAreStillCalledOnce) {
    EventHandler events;
    std::vector<int> seen;
    std::vector<SlotCallbackRef> later;
    later.reserve(2);
    std::unique_ptr<SlotCallbackRef> kept;
    std::vector<SlotCallbackRef> earlier;
    earlier.reserve(1);
    earlier.emplace_back(&events, 2, [&] { seen.push_back(0); });
    SlotCallbackRef grower(&events, 2, [&] {
        seen.push_back(1);
        if (later.size() == 2) {
            later.emplace_back(&events, 5, [] {});  // past capacity: both handles move
            earlier.emplace_back(&events, 5, [] {});  // moves the handle already called
            SlotCallbackRef copy(*kept);            // a copy beside a living original
        }
    });
    later.emplace_back(&events, 2, [&] { seen.push_back(2); });
    later.emplace_back(&events, 2, [&] { seen.push_back(3); });
    kept = std::make_unique<SlotCallbackRef>(&events, 2, [&] { seen.push_back(4); });
    events.trigger(2);
    events.dispatch();
    EXPECT_EQ(seen, (std::vector<int>{0, 1, 2, 3, 4}));
    seen.clear();
    events.trigger(2);
    events.dispatch();
    EXPECT_EQ(seen, (std::vector<int>{1, 2, 3, 4, 0}));
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
    // The handler still works after the exception.
    SlotCallbackRef late(&events, 1, [&] { calls += 10; });
    EXPECT_THROW(events.dispatch(), std::bad_function_call);
    EXPECT_EQ(calls, 1 + 11);
}

}  // namespace
