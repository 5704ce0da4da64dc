#pragma once
#include <cstdint>

namespace Audio {

// One decoded sound shared by every handle of its path, and by the sources fading it out.
struct BufferEntry {
    int64_t refCount = 0;
    uint32_t buffer = 0;  // the OpenAL buffer; 0 when the file did not decode
};

}  // namespace Audio
