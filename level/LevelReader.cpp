#include "level/LevelReader.h"

#include <zlib.h>

#include <algorithm>
#include <istream>
#include <string>
#include <vector>

#include "level/LevelFields.h"
#include "os/OpaqueStreamBuf.h"

namespace PristineLevel {

namespace io {

uint64_t LevelReader::remaining() const {
    auto const unread = static_cast<uint64_t>(std::max<std::streamsize>(buffer_.in_avail(), 0));
    return unread + static_cast<uint64_t>(end_ - next_);
}

void LevelReader::readSlow(uint8_t* bytes, size_t size) {
    // Hand out what the window holds, then read the rest: large blocks straight into place,
    // small values through a refilled window.
    size_t const held = static_cast<size_t>(end_ - next_);
    std::memcpy(bytes, next_, held);
    next_ = end_ = window_;
    bytes += held;
    size -= held;
    auto const unread = static_cast<size_t>(std::max<std::streamsize>(buffer_.in_avail(), 0));
    if (size > unread) {
        // Deliver the bytes that are there, as a short stream read does, then fail.
        if (unread != 0) {
            archive_.loadBinary(bytes, static_cast<std::streamsize>(unread));
        }
        throw cereal::Exception("Failed to read " + std::to_string(size + held) + " bytes from input stream! Read " +
                                std::to_string(unread + held));
    }
    if (size >= windowSize) {
        archive_.loadBinary(bytes, static_cast<std::streamsize>(size));
        return;
    }
    size_t const fill = std::min(windowSize, unread);
    archive_.loadBinary(window_, static_cast<std::streamsize>(fill));
    end_ = window_ + fill;
    std::memcpy(bytes, next_, size);
    next_ += size;
}

void LevelReader::checkCount(uint64_t count, size_t minSize) {
    if (minSize == 0) {
        return;
    }
    uint64_t const left = remaining();
    if (count > left / minSize) {
        throw cereal::Exception("Stored count " + std::to_string(count) + " of " + std::to_string(minSize) +
                                "-byte elements exceeds the " + std::to_string(left) + " bytes that remain");
    }
}

void LevelReader::checkEmptyStates(uint64_t count) {
    if (count > maxEmptyStates - emptyStates_) {
        throw cereal::Exception("Stored count " + std::to_string(count) + " of empty joint states exceeds the limit");
    }
    emptyStates_ += count;
}

}  // namespace io

void loadPristineLevelArchive(Data& level, uint8_t const* archive, size_t length) {
    OpaqueStreamBuf buffer(archive, length);
    std::istream stream(&buffer);
    cereal::BinaryInputArchive binary(stream);
    io::LevelReader reader(buffer, binary);
    io::field(reader, level);
}

void loadPristineLevel(Data& level, uint8_t const* bytes, size_t length) {
    if (bytes == nullptr || length < 4) {
        return;
    }
    uint32_t const declared = uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 |
                              uint32_t(bytes[3]) << 24;
    if (declared > maxArchiveSize) {
        return;
    }
    try {
        std::vector<uint8_t> inflated(declared);
        uLongf produced = declared;
        // A stream that stops short or is damaged still reports what it produced; the archive
        // reads that much and fails where it ends.
        uncompress(inflated.data(), &produced, bytes + 4, static_cast<uLong>(length - 4));
        if (declared == 0) {
            produced = 0;
        }
        loadPristineLevelArchive(level, inflated.data(), static_cast<size_t>(produced));
    } catch (std::exception const&) {
        // The level keeps what was read; the game plays with it.
    }
}

}  // namespace PristineLevel
