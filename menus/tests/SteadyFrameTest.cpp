// A steady menu frame allocates nothing: this binary replaces the global operator new to count.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <new>

#include "menus/ConfirmationBox.h"
#include "menus/tests/MenuFixture.h"
#include "menus/tests/TwelveButtonMenu.h"

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
void* operator new(size_t size, std::nothrow_t const&) noexcept { return std::malloc(size ? size : 1); }
void* operator new[](size_t size, std::nothrow_t const&) noexcept { return std::malloc(size ? size : 1); }
// Mesa's shader compiler allocates with every form; all of them must meet the same free.
void* operator new(size_t size, std::align_val_t align) {
    if (counting.load(std::memory_order_relaxed)) allocations.fetch_add(1, std::memory_order_relaxed);
    size_t const a = std::max(size_t(align), sizeof(void*));
    if (void* p = std::aligned_alloc(a, (std::max(size, size_t(1)) + a - 1) / a * a)) return p;
    throw std::bad_alloc();
}
void* operator new[](size_t size, std::align_val_t align) { return operator new(size, align); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }
void operator delete(void* p, std::nothrow_t const&) noexcept { std::free(p); }
void operator delete[](void* p, std::nothrow_t const&) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t, std::align_val_t) noexcept { std::free(p); }

namespace {

using SteadyFrame = menus_test::MenuFixture;

TEST_F(SteadyFrame, AShownQuestionBoxAndAFocusedMenuAllocateNothing) {
    shell_services::setControllerPresent(true);  // the focus highlight pulses all along
    menus_test::TwelveButtonMenu menu(graphics.get(), audio);
    glm::vec2 const offset(0, 0);
    std::string const message = "Leave the level?\nYour progress is kept.", yes = "Yes", no = "No";
    ConfirmationBox box(graphics.get(), audio, fonts.get(),
                        {offset, message, yes, boost::optional<std::string const&>(no), [] {}, [] {}, true});
    ASSERT_TRUE(loadTextures());
    box.show();
    glm::mat4 const projection = screenProjection();
    GamepadState idle;
    auto frame = [&] {
        menu.update(16.0f);
        box.update(16.0f);
        menu.gamepadInput(idle);
        menu.preDraw();
        box.preDraw();
        menu.draw(graphics.get(), shader.get(), projection);
        box.draw(graphics.get(), shader.get(), projection);
    };
    for (int i = 0; i < 120; ++i) frame();  // everything shown and settled
    ASSERT_EQ(box.state(), ConfirmationBox::kInteractive);
    counting = true;
    for (int i = 0; i < 300; ++i) frame();
    counting = false;
    glFinish();
    EXPECT_EQ(allocations.load(), 0u);
    EXPECT_TRUE(menu.buttons[0]->button().isHighlighted());
}

}  // namespace
