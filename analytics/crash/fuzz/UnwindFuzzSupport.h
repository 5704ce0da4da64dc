#pragma once
// Shared by the unwinding fuzz targets: input bytes placed just before an unreadable page, and
// a byte reader that runs dry gracefully.
#include "analytics/crash/AsyncSupport.h"

#include <cstdint>
#include <cstring>
#include <sys/mman.h>

namespace crash_fuzz {

class Guarded {
public:
    Guarded(const uint8_t* data, size_t size) {
        span_ = (size + 4095) / 4096 * 4096 + 4096;
        base_ = static_cast<uint8_t*>(mmap(nullptr, span_ + 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        mprotect(base_ + span_, 4096, PROT_NONE);
        bytes_ = base_ + span_ - size;
        if (size)
            std::memcpy(bytes_, data, size);
    }
    ~Guarded() { munmap(base_, span_ + 4096); }
    Guarded(Guarded const&) = delete;
    Guarded& operator=(Guarded const&) = delete;
    uint8_t* bytes() const { return bytes_; }
    uint64_t address() const { return reinterpret_cast<uint64_t>(bytes_); }

private:
    uint8_t* base_;
    uint8_t* bytes_;
    size_t span_;
};

class Input {
public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    template <typename T>
    T take() {
        T value{};
        const size_t n = size_ - used_ < sizeof(T) ? size_ - used_ : sizeof(T);
        std::memcpy(&value, data_ + used_, n);
        used_ += n;
        return value;
    }
    const uint8_t* rest() const { return data_ + used_; }
    size_t restSize() const { return size_ - used_; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t used_ = 0;
};

}  // namespace crash_fuzz
