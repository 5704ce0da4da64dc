// Any bytes as a ".fonts" table: reads as far as it goes, then every font lays text out.
#include <cstddef>
#include <cstdint>

#include "fonts/FontTable.h"
#include "fonts/Layout.h"

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
    Fonts::FontTable table;
    table.read(data, size);
    for (auto const& font : table.fonts) {
        Fonts::TextMesh mesh;
        for (int32_t alignment = 0; alignment < 3; ++alignment)
            Fonts::layoutText({nullptr, &font}, mesh, {0, 0, 0}, "Ab\n\xc3\xa9 \xe6\x97\xa5\n", alignment,
                              glm::vec4(1), glm::mat4(1), 1.0f);
        mesh.bounds();
    }
    return 0;
}
