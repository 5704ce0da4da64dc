#pragma once
// Thread states and image lists for the unwinding tests.
#include "analytics/crash/AsyncImageList.h"
#include "analytics/crash/AsyncMObject.h"
#include "analytics/crash/AsyncThreadState.h"

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace crash_test {

// A 64-bit ARM frame that knows nothing until registers are set.
inline tlcrash_async_thread_state arm64State() {
    tlcrash_arm_mcontext64 context{};
    tlcrash_async_thread_state state;
    tlcrash_async_thread_state_from_mcontext(&state, &context);
    tlcrash_async_thread_state_clear_all_regs(&state);
    return state;
}

inline tlcrash_async_thread_state x86State() {
    ucontext_t context;
    std::memset(&context, 0, sizeof context);
    tlcrash_async_thread_state state;
    tlcrash_async_thread_state_from_ucontext(&state, &context);
    tlcrash_async_thread_state_clear_all_regs(&state);
    return state;
}

// Generic numbers of 64-bit ARM: x0 is 3, lr 32.
constexpr uint32_t arm64X(uint32_t n) { return 3 + n; }
constexpr uint32_t kArm64Lr = 32;

inline uint64_t addressOf(const void* p) { return reinterpret_cast<uint64_t>(p); }

class ImageList {
public:
    ImageList() { tlcrash_async_image_list_init(&list_, tlcrash_async_task_self()); }
    ~ImageList() { tlcrash_async_image_list_free(&list_); }
    ImageList(ImageList const&) = delete;
    ImageList& operator=(ImageList const&) = delete;
    tlcrash_async_image_list* get() { return &list_; }

private:
    tlcrash_async_image_list list_;
};

// A memory object over bytes of this process.
class LocalObject {
public:
    LocalObject(const void* data, uint64_t length) {
        if (tlcrash_async_mobject_init(&mobj_, tlcrash_async_task_self(), addressOf(data), length, true) !=
            TLCRASH_ESUCCESS)
            throw std::runtime_error("cannot map local bytes");
    }
    explicit LocalObject(std::vector<uint8_t> const& bytes) : LocalObject(bytes.data(), bytes.size()) {}
    ~LocalObject() { tlcrash_async_mobject_free(&mobj_); }
    LocalObject(LocalObject const&) = delete;
    LocalObject& operator=(LocalObject const&) = delete;
    const tlcrash_async_mobject* get() const { return &mobj_; }
    uint64_t base() const { return mobj_.task_address; }

private:
    tlcrash_async_mobject mobj_;
};

}  // namespace crash_test
