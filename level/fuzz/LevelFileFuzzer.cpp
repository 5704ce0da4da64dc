// Whole level files: size envelope, inflate and archive.
#include <cstddef>
#include <cstdint>

#include "level/LevelReader.h"

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
    PristineLevel::Data level;
    PristineLevel::loadPristineLevel(level, data, size);
    return 0;
}
