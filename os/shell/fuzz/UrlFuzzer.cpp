// Opened URLs come from outside the game: any text yields a decimal index or nothing.
#include <cstddef>
#include <cstdint>
#include <string>

#include "os/shell/AppDelegate.h"

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
    std::string const url(reinterpret_cast<char const*>(data), size);
    auto index = os::AppDelegate::levelIndexFromUrl(url);
    if (index) {
        if (index->empty() || index->size() > 9) __builtin_trap();
        for (char c : *index)
            if (c < '0' || c > '9') __builtin_trap();
    }
    return 0;
}
