#pragma once
// Recording stand-ins for the app frame's contexts and platform hooks. They take the names the
// screens see (Audio::Context, Graphics::Context, Graphics::StandardShader) and log every call.
#include <boost/optional.hpp>
#include <glm/vec2.hpp>

#include <cstdint>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "os/AbstractApp.h"

namespace fake {
// Set to false where allocation is being counted.
inline bool logging = true;
inline std::vector<std::string> log;
inline void record(std::string const& s) {
    if (logging) log.push_back(s);
}
inline void record(char const* s) {
    if (logging) log.emplace_back(s);
}
}  // namespace fake

namespace Audio {
class Context {
public:
    struct Parameters {
        float fadeRate;
        uint32_t distanceModel;
        float referenceDistance;
        float maxDistance;
    };
    explicit Context(Parameters const& p) : params(p) {}
    void update(float dt) {
        fake::record("audio.update");
        if (fake::logging) dts.push_back(dt);
    }
    Parameters params;
    std::vector<float> dts;
};
}  // namespace Audio

namespace Graphics {
class Context {
public:
    Context(uint64_t budget, boost::optional<uint16_t> downscale);
    void updateTextures() {
        fake::record("graphics.updateTextures");
        if (pendingLoads > 0) --pendingLoads;
    }
    void beginDynamicBuffers() { fake::record("graphics.beginDynamicBuffers"); }
    void endDynamicBuffers() { fake::record("graphics.endDynamicBuffers"); }
    uint64_t textureBudget() const { return budget; }
    void setTextureBudget(uint64_t b) { budget = b; }
    bool burstLoading() const { return burst; }
    void setBurstLoading(bool b) { fake::record(b ? "graphics.burstOn" : "graphics.burstOff"); }
    bool texturesLoaded() const { return pendingLoads == 0; }

    uint64_t budget;
    boost::optional<uint16_t> downscale;
    bool burst = false;
    int pendingLoads = 0;
};

class StandardShader {
public:
    explicit StandardShader(Context*) { fake::record("shader.construct"); }
};
}  // namespace Graphics

namespace fake {

struct Fonts {
    Fonts(Graphics::Context*, std::string const& dir) { record("fonts.construct " + dir); }
};

struct PostProcessing {
    PostProcessing(Graphics::Context*, glm::ivec2 render, glm::ivec2 viewport, bool)
        : renderSize(render), viewport(viewport) {
        record("post.construct");
    }
    void update(float) { record("post.update"); }
    void updateColors() { record("post.updateColors"); }
    void drawBackdrop(Graphics::Context*, Graphics::StandardShader*) { record("post.drawBackdrop"); }
    void present(Graphics::Context*, Graphics::StandardShader*) { record("post.present"); }
    glm::ivec2 renderSize, viewport;
};

struct CloudSync {
    void suspend() { record("sync.suspend"); }
    void resume() { record("sync.resume"); }
    void send(int kind) { record("sync.send " + std::to_string(kind)); }
};

struct LevelEntry {
    std::string path, nameKey;
};

// The platform's answers, set by each test.
struct Platform {
    uint64_t now = 1000;
    std::set<std::string> files;
    std::set<uint64_t> unlocked;
    int downloadState = 0;
    bool lowEnd = false;
    bool graphicsFails = false;
    std::vector<LevelEntry> levels;
};
inline Platform platform;

struct Impl {
    using AudioContext = Audio::Context;
    using GraphicsContext = Graphics::Context;
    using FontsContext = Fonts;
    using PostProcessingStep = PostProcessing;
    using StandardShader = Graphics::StandardShader;
    using CloudSyncThread = CloudSync;
    // Screens not built: the transitions leave the current screen in place.
    using LevelLoaderViewController = os::Pending;
    using MainMenuLoaderViewController = os::Pending;
    using EndOfLevelViewController = os::Pending;
    using PauseViewController = os::Pending;
    using ConfirmationBoxViewController = os::Pending;
    using TriggerVariant = os::Pending;
    using ConfirmationBoxParameters = os::Pending;

    static uint64_t nowMs() { return platform.now; }
    static bool initICloud() {
        record("initICloud");
        return false;
    }
    static void graphicsStartupHook() {}
    static uint64_t graphicsBudget() { return 0x9000000; }
    static bool isLowEndDevice() { return platform.lowEnd; }
    static float worldViewWidth() { return 1280.0f / 85.0f; }
    static float virtualWidth() { return 1280.5f; }
    static float virtualHeight() { return 720; }
    static float backingWidth() { return 1334; }
    static float backingHeight() { return 750.9f; }
    static bool fileExists(std::string const& path) { return platform.files.count(path) != 0; }
    static void logEvent(char const* text) { record(std::string("event ") + text); }
    static int downloadState() { return platform.downloadState; }
    static uint64_t levelCount() { return platform.levels.size(); }
    static LevelEntry const& levelEntry(uint64_t i) { return platform.levels[i]; }
    static bool isLevelUnlocked(uint64_t i) { return platform.unlocked.count(i) != 0; }
};

using App = os::AbstractApp<Impl>;

inline void reset() {
    log.clear();
    logging = true;
    platform = Platform();
}

}  // namespace fake

inline Graphics::Context::Context(uint64_t budget, boost::optional<uint16_t> downscale)
    : budget(budget), downscale(downscale) {
    if (fake::platform.graphicsFails) throw std::runtime_error("no GL");
    fake::record("graphics.construct");
}
