// A steady frame must not allocate: this binary replaces the global operator new to count.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "os/tests/FakeAppImpl.h"
#include "testing/GlTestContext.h"

namespace {
std::atomic<bool> counting{false};
std::atomic<size_t> allocations{0};
}  // namespace

// The replacements below pair malloc with free on purpose.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

void* operator new(size_t size) {
    if (counting.load(std::memory_order_relaxed)) allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }

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
    counting = true;
    for (int i = 0; i < 300; ++i) frame();
    counting = false;
    EXPECT_EQ(allocations.load(), 0u);
    EXPECT_EQ(delivered, 305 * 40);
}

}  // namespace
