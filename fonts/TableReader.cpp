#include "fonts/TableReader.h"

namespace Fonts {

void TableReader::fail(std::size_t wanted) const {
    throw cereal::Exception("Failed to read " + std::to_string(wanted) + " bytes from input stream! Read " +
                            std::to_string(remaining_));
}

uint64_t TableReader::count() {
    uint64_t n = 0;
    value(n);
    return n;
}

std::size_t TableReader::blockCount(std::size_t elementSize) {
    uint64_t n = count();
    if (elementSize != 0 && n > remaining_ / elementSize) {
        throw cereal::Exception("Stored count " + std::to_string(n) + " exceeds the " + std::to_string(remaining_) +
                                " bytes left");
    }
    return static_cast<std::size_t>(n);
}

void TableReader::string(std::string& s) {
    std::size_t n = blockCount(1);
    s.resize(n);
    if (n) bytes(s.data(), n);
}

}  // namespace Fonts
