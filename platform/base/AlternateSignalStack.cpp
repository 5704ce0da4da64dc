#include "platform/base/AlternateSignalStack.h"

#include <csignal>
#include <sys/mman.h>

namespace platform {

namespace {

// Each thread gets a stack of its own; one buffer shared by two threads would be used by both
// at once when they fault together.
struct ThreadStack {
    void* memory = nullptr;
    ~ThreadStack() {
        if (memory == nullptr)
            return;
        stack_t current{};
        if (sigaltstack(nullptr, &current) == 0 && current.ss_sp == memory && !(current.ss_flags & SS_ONSTACK)) {
            stack_t off{};
            off.ss_flags = SS_DISABLE;
            sigaltstack(&off, nullptr);
            munmap(memory, AlternateSignalStack::kSize);
        }
    }
};

thread_local ThreadStack threadStack;

}  // namespace

bool AlternateSignalStack::installForThisThread() {
    stack_t current{};
    if (threadStack.memory != nullptr && sigaltstack(nullptr, &current) == 0 && current.ss_sp == threadStack.memory &&
        !(current.ss_flags & SS_DISABLE))
        return true;
    if (threadStack.memory == nullptr) {
        void* memory = mmap(nullptr, kSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
        if (memory == MAP_FAILED)
            return false;
        threadStack.memory = memory;
    }
    stack_t stack{};
    stack.ss_sp = threadStack.memory;
    stack.ss_size = kSize;
    stack.ss_flags = 0;
    return sigaltstack(&stack, nullptr) == 0;
}

}  // namespace platform
