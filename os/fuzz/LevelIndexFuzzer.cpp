// Level index texts arrive from URLs and challenges: any text must be ignored or start a level,
// never crash.
#include <cstddef>
#include <cstdint>
#include <string>

#include "os/tests/FakeAppImpl.h"

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
    static fake::App* app = [] {
        fake::platform.levels = {{"levels/level01.pxl", "level01Name"}, {"levels/level02.pxl", "level02Name"}};
        fake::platform.files = {"levels/level01.pxl", "levels/level02.pxl"};
        fake::platform.unlocked = {0, 1};
        fake::platform.downloadState = 4;
        fake::logging = false;
        return fake::App::create().release();
    }();
    app->openLevelByIndex(std::string(reinterpret_cast<char const*>(data), size));
    return 0;
}
