#include "os/shell/LevelStart.h"

#include <sched.h>

#include <chrono>
#include <cinttypes>
#include <cstdio>

#include "graphics/Context.h"
#include "level/LevelReader.h"
#include "os/FileSystem.h"
#include "os/Singleton.h"
#include "os/services/PlatformServices.h"

namespace os {

bool readLevelFile(std::string const& path, PristineLevel::Data& level) {
    FileSystem const& fs = Singleton<FileSystem>::instance();
    char const* locale = preferredLocale();
    std::string const localized =
        FileSystem::replaceExtension(path, std::string("_") + (locale ? locale : "") + FileSystem::extension(path));
    std::shared_ptr<File> file = fs.exists(localized) ? fs.open(localized) : fs.open(path);
    if (!file || file->size() == 0) {
        std::fprintf(stderr, "zelv: cannot read the level %s\n", path.c_str());
        return false;
    }
    PristineLevel::loadPristineLevel(level, file->data(), size_t(file->size()));
    return true;
}

void waitForTextures(Graphics::Context& graphics) {
    bool const burst = graphics.burstLoading();
    graphics.setBurstLoading(true);
    auto const deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    graphics.updateTextures();
    while (!graphics.texturesLoaded() && std::chrono::steady_clock::now() < deadline) {
        sched_yield();
        graphics.updateTextures();
    }
    graphics.setBurstLoading(burst);
}

}  // namespace os
