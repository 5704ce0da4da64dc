#include "level/LevelReader.h"

#include <libdeflate.h>
#include <zlib.h>

#include <memory>
#include <string>

#include "level/LevelFields.h"

namespace PristineLevel {

namespace io {

void LevelReader::readPastEnd(uint8_t* bytes, size_t size) {
    size_t const held = static_cast<size_t>(end_ - next_);
    if (held != 0) {
        std::memcpy(bytes, next_, held);
    }
    next_ = end_;
    throw cereal::Exception("Failed to read " + std::to_string(size) + " bytes from input stream! Read " +
                            std::to_string(held));
}

void LevelReader::countTooLarge(uint64_t count, size_t minSize) const {
    throw cereal::Exception("Stored count " + std::to_string(count) + " of " + std::to_string(minSize) +
                            "-byte elements exceeds the " + std::to_string(remaining()) + " bytes that remain");
}

void LevelReader::checkEmptyStates(uint64_t count) {
    if (count > maxEmptyStates - emptyStates_) {
        throw cereal::Exception("Stored count " + std::to_string(count) + " of empty joint states exceeds the limit");
    }
    emptyStates_ += count;
}

}  // namespace io

void loadPristineLevelArchive(Data& level, uint8_t const* archive, size_t length) {
    io::LevelReader reader(archive, length);
    io::field(reader, level);
}

namespace {

// One decompressor per thread, kept between loads.
libdeflate_decompressor* decompressor() {
    struct Free {
        void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
    };
    thread_local std::unique_ptr<libdeflate_decompressor, Free> const held(libdeflate_alloc_decompressor());
    return held.get();
}

// Inflates the zlib stream into `out`. A whole, sound stream goes through libdeflate, which
// inflates and checks it about twice as fast as zlib; anything else is inflated again by zlib,
// which reports how far a short or damaged stream got, so that much can still be read.
int inflateLevel(uint8_t* out, uLongf& produced, uint8_t const* stream, size_t length) {
    uLongf const room = produced;
    if (libdeflate_decompressor* d = room != 0 ? decompressor() : nullptr) {
        size_t actual = 0;
        if (libdeflate_zlib_decompress(d, stream, length, out, room, &actual) == LIBDEFLATE_SUCCESS) {
            produced = static_cast<uLongf>(actual);
            return Z_OK;
        }
    }
    return uncompress(out, &produced, stream, static_cast<uLong>(length));
}

}  // namespace

bool loadPristineLevel(Data& level, uint8_t const* bytes, size_t length) {
    if (bytes == nullptr || length < 4) {
        return false;
    }
    uint32_t const declared = uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 |
                              uint32_t(bytes[3]) << 24;
    if (declared > maxArchiveSize) {
        return false;
    }
    try {
        // Not zero-filled: only the bytes inflate produced are read.
        std::unique_ptr<uint8_t[]> const inflated(new uint8_t[declared]);
        uLongf produced = declared;
        // A stream that stops short or is damaged still reports what it produced; the archive
        // reads that much and fails where it ends.
        int const status = inflateLevel(inflated.get(), produced, bytes + 4, length - 4);
        if (declared == 0) {
            produced = 0;
        }
        loadPristineLevelArchive(level, inflated.get(), static_cast<size_t>(produced));
        return status == Z_OK;
    } catch (std::exception const&) {
        // The level keeps what was read; the game plays with it.
        return false;
    }
}

}  // namespace PristineLevel
