#include "level/LevelWriter.h"

#include <zlib.h>

#include <sstream>
#include <stdexcept>
#include <string>

#include "level/LevelFields.h"
#include "level/LevelReader.h"

namespace PristineLevel {

std::vector<uint8_t> savePristineLevelArchive(Data const& level) {
    std::ostringstream stream(std::ios::binary);
    {
        cereal::BinaryOutputArchive binary(stream);
        io::LevelWriter writer(binary);
        // The layouts are shared with loading and take mutable references; saving only reads.
        io::field(writer, const_cast<Data&>(level));
    }
    std::string const bytes = std::move(stream).str();
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

std::vector<uint8_t> savePristineLevel(Data const& level) {
    std::vector<uint8_t> const archive = savePristineLevelArchive(level);
    if (archive.size() > maxArchiveSize) {
        throw std::length_error("level archive of " + std::to_string(archive.size()) + " bytes exceeds " +
                                std::to_string(maxArchiveSize));
    }
    uLongf packed = compressBound(static_cast<uLong>(archive.size()));
    std::vector<uint8_t> file(4 + packed);
    uint32_t const size = static_cast<uint32_t>(archive.size());
    for (int i = 0; i < 4; ++i) {
        file[i] = static_cast<uint8_t>(size >> (8 * i));
    }
    int const result = compress2(file.data() + 4, &packed, archive.data(), static_cast<uLong>(archive.size()), 9);
    if (result != Z_OK) {
        throw std::runtime_error("deflating the level archive failed (zlib " + std::to_string(result) + ")");
    }
    file.resize(4 + packed);
    return file;
}

}  // namespace PristineLevel
