// Any bytes as a ".strings" table, then lookups.
#include <cstddef>
#include <cstdint>

#include "fonts/StringTable.h"

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
    Fonts::StringTable table;
    table.read(data, size);
    table.get("gamePausedInPauseMenu");
    table.contains("");
    for (auto const& e : table.entries()) (void)e.second.size();
    return 0;
}
