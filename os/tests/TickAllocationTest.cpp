// A steady frame must not allocate: this binary counts every global operator new.
#include <gtest/gtest.h>

#include "os/tests/FakeAppImpl.h"
#include "testing/AllocationCounter.h"
#include "testing/GlTestContext.h"

namespace {

TEST(TickAllocation, SteadyFramesWithSignalsAllocateNothing) {
    fake::reset();
    testing_support::GlTestContext gl(8, 8);
    ASSERT_TRUE(gl.ok());
    auto app = fake::App::create();
    app->init(0, nullptr);
    int delivered = 0;
    SlotCallbackRef slot(&app->events(), 42, [&] {
        ++delivered;
        app->events().trigger(43);
    });
    SlotCallbackRef other(&app->events(), 43, [&] { ++delivered; });
    fake::logging = false;
    auto frame = [&] {
        for (int i = 0; i < 20; ++i) app->events().trigger(42);
        app->controllerConnected();
        app->touchBegan(1, 3, 4);
        fake::platform.now += 16;
        app->tick();
    };
    for (int i = 0; i < 5; ++i) frame();  // warm-up: queues reach their working size
    size_t const before = testing_support::allocationCount();
    for (int i = 0; i < 300; ++i) frame();
    size_t const allocated = testing_support::allocationCount() - before;
    EXPECT_EQ(allocated, 0u);
    EXPECT_EQ(delivered, 305 * 40);
}

}  // namespace
