// Any text as a SubRip file, then queries over its times.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fonts/Subtitles.h"

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
    auto subtitles = Subtitles::parse(std::string(reinterpret_cast<char const*>(data), size));
    for (auto const& [start, entry] : subtitles.entries()) {
        subtitles.textAt(start);
        subtitles.textAt(start + 0.5f);
        subtitles.textAt(entry.end);
    }
    subtitles.textAt(0.0f);
    return 0;
}
