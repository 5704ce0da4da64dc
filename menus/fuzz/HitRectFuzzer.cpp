// Any text as a hit-area asset: a rectangle or the zero one, never a throw or a read past the end.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "menus/LoadHitRect.h"

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
    bool malformed = false;
    Rect const r = hitRectFromText(std::string_view(reinterpret_cast<char const*>(data), size), glm::vec2(3, 4),
                                   &malformed);
    if (malformed && (r.minX != 0 || r.maxX != 0 || r.minY != 0 || r.maxY != 0)) __builtin_trap();
    return 0;
}
