#include <cstddef>
#include <cstdint>
extern "C" int LLVMFuzzerTestOneInput(uint8_t const*, size_t) { return 0; }
