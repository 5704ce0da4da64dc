// Save blobs from another device or a damaged disk. The first byte picks how the rest is used:
// even, as a whole blob (envelope included); odd, as the archive inside a well-formed envelope,
// so the archive reader is reached past the compression check.
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <cstring>
#include <vector>

#include "save/RoamingData.h"

namespace {

std::vector<uint8_t> wrap(uint8_t const* archive, size_t size) {
    uLongf n = compressBound(size);
    std::vector<uint8_t> blob(n + 4);
    compress2(blob.data() + 4, &n, archive, size, 1);
    uint32_t const length = static_cast<uint32_t>(size);
    std::memcpy(blob.data(), &length, 4);
    blob.resize(n + 4);
    return blob;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    std::vector<uint8_t> blob = (data[0] & 1) ? wrap(data + 1, size - 1) : std::vector<uint8_t>(data + 1, data + size);
    RoamingData record(false);
    record.load(blob.data(), blob.size());

    // Whatever was read must survive its own round trip unchanged.
    std::vector<uint8_t> saved;
    try {
        saved = record.save();
    } catch (std::length_error const&) {
        return 0;  // too large to store: refused, not written
    }
    RoamingData again(false);
    if (!again.load(saved.data(), saved.size()) || again.save() != saved) {
        std::abort();
    }
    return 0;
}
