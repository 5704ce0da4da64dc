// Controller scripts of any bytes: read or refused, never a crash, and a script that reads has
// only counts in range and keys from LRJD-.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/scriptedrun/ScriptedRun.h"

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
    std::vector<scripted_run::Stretch> script;
    std::string error;
    if (scripted_run::parseScript(std::string(reinterpret_cast<char const*>(data), size), script, error)) {
        for (auto const& s : script) {
            if (s.frames == 0 || s.frames > 1000000 || s.keys.find_first_not_of("LRJD-") != std::string::npos) std::abort();
        }
    }
    return 0;
}
