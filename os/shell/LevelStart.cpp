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

namespace {

struct Describe {
    char text[200];
    std::string operator()(ResultsMenu::NormalGameModeTriggerParameters const& r) {
        std::snprintf(text, sizeof text, "result 0, coins %" PRIu64 " of %" PRIu64 ", deaths %" PRIu64 ", time %.1f ms, level %" PRIu64,
                      r.coinsCollected, r.coinTotal, r.deaths, double(r.levelTime), r.levelIndex);
        return text;
    }
    std::string operator()(ResultsMenu::CollectTimeGameModeTriggerParameters const& r) {
        std::snprintf(text, sizeof text, "result 1, coins %" PRIu64 " of %" PRIu64 ", remaining %.1f ms, level %" PRIu64,
                      r.coinsCollected, r.coinTotal, double(r.remainingTime), r.levelIndex);
        return text;
    }
    std::string operator()(ResultsMenu::TimeAttackGameModeTriggerParameters const& r) {
        std::snprintf(text, sizeof text, "result 2, laps %.4f, level %" PRIu64, double(r.laps), r.levelIndex);
        return text;
    }
    std::string operator()(ResultsMenu::HardcoreGameModeTriggerParameters const& r) {
        std::snprintf(text, sizeof text, "result 3, run time %.1f ms", double(r.runTime));
        return text;
    }
    std::string operator()(ResultsMenu::HardcoreFailedGameModeTriggerParameters const& r) {
        std::snprintf(text, sizeof text, "result 4, run time %.1f ms, levels %" PRIu64 " of %" PRIu64, double(r.runTime),
                      r.levelsCompleted, r.levelCount);
        return text;
    }
};

}  // namespace

std::string describeResult(TriggerVariant const& result) {
    Describe d;
    return boost::apply_visitor(d, result);
}

}  // namespace os
