#pragma once
// The platform calls the cut-scene mode and the tutorial make (clock, music position, analytics)
// and the credits they build, gathered in one place so tests can stand in for them. Main thread.
#include <glm/mat4x4.hpp>
#include <glm/vec4.hpp>

#include <cstdint>
#include <functional>
#include <memory>

namespace Audio {
class Context;
}
namespace Fonts {
class Context;
}
namespace Graphics {
class Context;
class StandardShader;
}  // namespace Graphics

// The scrolling credits of a cut-scene: idle before they start and after they end.
class CutsceneCredits {
public:
    virtual ~CutsceneCredits() = default;
    virtual bool isIdle() const = 0;
    virtual void start() = 0;
    virtual void update(float dt) = 0;
    // How far they have faded in: 0 hidden, 1 fully shown.
    virtual float fade() const = 0;
    virtual void draw(Graphics::Context* graphics, Graphics::StandardShader* shader, glm::mat4 const& projection) = 0;
};

struct CutsceneServices {
    using MakeCredits = std::function<std::unique_ptr<CutsceneCredits>(
        Graphics::Context*, Audio::Context*, Fonts::Context*, std::function<void()> const& onEnd,
        glm::vec4 const& colour, uint32_t framesPerStep, float step)>;

    std::function<int64_t()> nowMs;
    std::function<int64_t()> musicStartMs;
    std::function<void(uint64_t positionMs, uint64_t toleranceMs)> syncMusic;
    std::function<void(char const*)> logEvent;
    // Null: no credits, and a cut-scene closes on its length alone.
    MakeCredits makeCredits;

    // The platform's own calls.
    static CutsceneServices platform();
};

// The services in use; tests replace them and put platform() back.
CutsceneServices& cutsceneServices();
