// Inflated level archives, so mutations reach the record layouts directly. A level that reads
// whole must write back to bytes that read to the same level.
#include <cereal/details/helpers.hpp>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "level/LevelReader.h"
#include "level/LevelWriter.h"

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
    PristineLevel::Data level;
    try {
        PristineLevel::loadPristineLevelArchive(level, data, size);
    } catch (cereal::Exception const&) {
        return 0;
    }
    std::vector<uint8_t> const saved = PristineLevel::savePristineLevelArchive(level);
    PristineLevel::Data again;
    PristineLevel::loadPristineLevelArchive(again, saved.data(), saved.size());
    if (PristineLevel::savePristineLevelArchive(again) != saved) {
        abort();
    }
    return 0;
}
