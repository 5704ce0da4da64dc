#pragma once
// A stack of its own for signal handlers on the calling thread, so that a handler still runs
// when the thread's own stack has overflowed. Freed when the thread ends.
#include <cstddef>

namespace platform {

class AlternateSignalStack {
public:
    static constexpr size_t kSize = 65536;

    // Installs this thread's stack (once; again when something else replaced it). False when
    // no memory could be had or the kernel refused it.
    static bool installForThisThread();
};

}  // namespace platform
