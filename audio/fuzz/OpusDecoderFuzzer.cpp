// Any byte string through the sound decoder: it fails or decodes, never hangs or overruns.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "audio/OpusDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
    Audio::OpusDecoder::Result r = Audio::OpusDecoder::decode(data, size);
    if (r.ok && (r.channels < 1 || r.channels > 2 || r.samples.size() % size_t(r.channels) != 0)) std::abort();
    return 0;
}
