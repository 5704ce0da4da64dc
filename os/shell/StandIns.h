#pragma once
// Placeholders for the contexts the app frame owns, doing nothing, until the real classes of
// audio/, graphics/, fonts/ and save/ are linked into the shell.
#include <boost/optional.hpp>
#include <glm/vec2.hpp>

#include <cstdint>
#include <string>

namespace Audio {
class Context {
public:
    struct Parameters {
        float fadeRate;
        uint32_t distanceModel;
        float referenceDistance;
        float maxDistance;
    };
    explicit Context(Parameters const&) {}
    void update(float) {}
};
}  // namespace Audio

namespace Graphics {
class Context {
public:
    Context(uint64_t budget, boost::optional<uint16_t>) : budget_(budget) {}
    void updateTextures() {}
    void beginDynamicBuffers() {}
    void endDynamicBuffers() {}
    uint64_t textureBudget() const { return budget_; }
    void setTextureBudget(uint64_t budget) { budget_ = budget; }
    bool burstLoading() const { return burst_; }
    void setBurstLoading(bool burst) { burst_ = burst; }
    bool texturesLoaded() const { return true; }

private:
    uint64_t budget_;
    bool burst_ = false;
};

class StandardShader {
public:
    explicit StandardShader(Context*) {}
};
}  // namespace Graphics

namespace Fonts {
class Context {
public:
    Context(Graphics::Context*, std::string const&) {}
};
}  // namespace Fonts

class PostProcessingStep {
public:
    PostProcessingStep(Graphics::Context*, glm::ivec2, glm::ivec2, bool) {}
    void update(float) {}
    void updateColors() {}
    void drawBackdrop(Graphics::Context*, Graphics::StandardShader*) {}
    void present(Graphics::Context*, Graphics::StandardShader*) {}
};

class CloudSyncThread {
public:
    void suspend() {}
    void resume() {}
    void send(uint8_t) {}
};
